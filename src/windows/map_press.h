// The map press as the analysis window runs it: the press handling of the
// sphere detection, then its marks drawn on the map's persistent picture.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "display/surface.h"
#include "state/app_state.h"
#include "state/message.h"
#include "state/progress.h"

namespace ps::ui {

// Boundary marks, the boundary list and the manual points, kept with the window.
struct PressSession;
std::shared_ptr<PressSession> NewPressSession();

struct MapPressOutcome {
  std::vector<Message> messages;
  bool circleChanged = false;  // a new circle was set
  bool circleCleared = false;  // the fit gave no usable circle: state.Circle is cleared
  bool selectionChanged = false;
  int cellX = 0;
  int cellY = 0;
  int boundaryCount = 0;
};

// mode 0: automatic (trace and fit), 1: manual (three rim points).
MapPressOutcome RunMapPress(PressSession& session, AppState& state, double x, double y, int mode,
                            const std::string& decimalSeparator, Surface& map, const Progress& progress);

}  // namespace ps::ui
