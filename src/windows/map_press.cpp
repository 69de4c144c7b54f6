#include "windows/map_press.h"

#include "sphere/press.h"

namespace ps::ui {

struct PressSession {
  SphereSession session;
};

std::shared_ptr<PressSession> NewPressSession() { return std::make_shared<PressSession>(); }

MapPressOutcome RunMapPress(PressSession& session, AppState& state, double x, double y, int mode,
                            const std::string& decimalSeparator, Surface& map, const Progress& progress) {
  PressInput input;
  input.x = static_cast<float>(x);
  input.y = static_cast<float>(y);
  input.mode = mode == 1 ? PressMode::Manual : PressMode::Automatic;
  input.decimalSeparator = decimalSeparator;
  const PressResult r = HandleMapPress(state, session.session, input, progress);
  // The marks become part of the map picture, in the order the press made them.
  for (const MapMark& m : r.marks) {
    const Colour c = static_cast<Colour>(m.colour) | kPaletteFlag;
    if (m.kind == MarkKind::FilledRect)
      map.fillRect(RoundHalfEven(m.left), RoundHalfEven(m.top), RoundHalfEven(m.right), RoundHalfEven(m.bottom), c);
    else
      map.circle(m.centreX, m.centreY, m.radius, c);
  }
  MapPressOutcome out;
  out.messages = r.messages;
  out.circleChanged = r.circleChanged;
  out.circleCleared = r.refusal != CircleRefusal::None;
  out.selectionChanged = r.selectionChanged;
  out.cellX = r.cellX;
  out.cellY = r.cellY;
  out.boundaryCount = r.boundaryCount;
  return out;
}

}  // namespace ps::ui
