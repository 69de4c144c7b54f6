// The map press as the analysis window runs it: the press handling of the
// sphere detection, the optional refinement of the circle it fits, then the
// marks drawn on the map's persistent picture and the circle's status line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "display/surface.h"
#include "sphere/refine.h"
#include "sphere/trace.h"
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
  bool fitRan = false;         // a fit ran (accepted or refused): the status line changes
  std::string statusLine;      // the circle's figures after a fit, else ""
};

// mode 0: automatic (trace and fit), 1: manual (three rim points). With
// `refine`, a press that ran a fit is followed by the refinement; a refined
// circle replaces the fitted one on the map and in the state (also after a
// refused fit), a failed one leaves everything as the fit left it.
MapPressOutcome RunMapPress(PressSession& session, AppState& state, double x, double y, int mode,
                            const std::string& decimalSeparator, Surface& map, const Progress& progress,
                            bool refine = false);

// The status line after a fit: the fitted circle (centre and radius in cells,
// two decimals), the boundary points and how the trace ended, or why the fit
// was refused; with a refinement, its circle or why it kept the fitted one.
struct CircleStatus {
  bool manual = false;
  bool fitted = false;             // the fit gave a circle
  SphereCircle fit;                // when fitted
  CircleRefusal refusal = CircleRefusal::None;
  int boundaryPoints = 0;
  TraceEnd traceEnd = TraceEnd::DeadEnd;
  bool refineTried = false;
  RefinedCircle refined;           // when refineTried
};
std::string CircleStatusLine(const CircleStatus& status, const std::string& decimalSeparator);

}  // namespace ps::ui
