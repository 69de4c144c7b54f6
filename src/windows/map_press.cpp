#include "windows/map_press.h"

#include "sphere/press.h"
#include "state/number_format.h"

namespace ps::ui {

struct PressSession {
  SphereSession session;
};

std::shared_ptr<PressSession> NewPressSession() { return std::make_shared<PressSession>(); }

namespace {

std::string Centre(double x, double y, double r, const std::string& sep) {
  return "центр (" + FormatNumber(x, "0.00", sep) + "; " + FormatNumber(y, "0.00", sep) + "), радиус " +
         FormatNumber(r, "0.00", sep) + " кл.";
}

const char* TraceEndText(TraceEnd end) {
  switch (end) {
    case TraceEnd::Closed: return "граница замкнулась с началом";
    case TraceEnd::EdgeReached: return "граница дошла до края";
    case TraceEnd::DeadEnd: break;
  }
  return "граница замкнулась не с началом";
}

const char* RefusalText(CircleRefusal refusal) {
  switch (refusal) {
    case CircleRefusal::NoCentre: return "центр не найден";
    case CircleRefusal::TooFewPoints: return "мало точек границы";
    case CircleRefusal::OnOneLine: return "точки на одной прямой";
    case CircleRefusal::OutsideImage: return "окружность выходит за снимок";
    case CircleRefusal::None: break;
  }
  return "";
}

}  // namespace

std::string CircleStatusLine(const CircleStatus& s, const std::string& sep) {
  std::string line;
  if (s.fitted)
    line = std::string(s.manual ? "Окружность по трём точкам: " : "Окружность: ") +
           Centre(s.fit.CircleCentreX, s.fit.CircleCentreY, s.fit.CircleRadius, sep);
  else
    line = std::string("Окружность не подобрана: ") + RefusalText(s.refusal);
  if (s.manual)
    line += "; точек: 3";
  else
    line += "; точек границы: " + std::to_string(s.boundaryPoints) + ", " + TraceEndText(s.traceEnd);
  if (!s.refineTried) return line;
  const RefinedCircle& r = s.refined;
  if (r.refined)
    line += std::string(s.fitted ? ". Уточнена: " : ". Окружность уточнена: ") +
            Centre(r.circle.x, r.circle.y, r.circle.r, sep) + ", точек " + std::to_string(r.points) + ", СКО " +
            FormatNumber(r.rms, "0.00", sep) + " кл.";
  else
    line += ". Не уточнена: " + r.message;
  return line;
}

MapPressOutcome RunMapPress(PressSession& session, AppState& state, double x, double y, int mode,
                            const std::string& decimalSeparator, Surface& map, const Progress& progress,
                            bool refine) {
  PressInput input;
  input.x = static_cast<float>(x);
  input.y = static_cast<float>(y);
  input.mode = mode == 1 ? PressMode::Manual : PressMode::Automatic;
  input.decimalSeparator = decimalSeparator;
  PressResult r = HandleMapPress(state, session.session, input, progress);

  MapPressOutcome out;
  out.fitRan = (r.circleChanged || r.refusal != CircleRefusal::None) && !progress.cancelled();
  CircleStatus status;
  status.manual = input.mode == PressMode::Manual;
  status.fitted = r.circleChanged;
  status.fit = state.Circle;
  status.refusal = r.refusal;
  status.boundaryPoints = r.boundaryCount;
  status.traceEnd = r.traceEnd;
  bool refined = false;
  if (refine && out.fitRan) {
    status.refineTried = true;
    status.refined = RefineAfterPress(state, session.session, r);
    if (status.refined.refined) {
      // The refined circle takes the fitted one's place on the map.
      const int zoom = std::max(1, state.ZoomFactor);
      if (state.Circle.exists())
        for (const MapMark& m : CircleMarks(state.Circle, zoom, kCircleEraseColour)) r.marks.push_back(m);
      StoreRefinedCircle(state, status.refined);
      for (const MapMark& m : CircleMarks(state.Circle, zoom)) r.marks.push_back(m);
      refined = true;
    }
  }
  // The marks become part of the map picture, in the order the press made them.
  for (const MapMark& m : r.marks) {
    const Colour c = static_cast<Colour>(m.colour) | kPaletteFlag;
    if (m.kind == MarkKind::FilledRect)
      map.fillRect(RoundHalfEven(m.left), RoundHalfEven(m.top), RoundHalfEven(m.right), RoundHalfEven(m.bottom), c);
    else
      map.circle(m.centreX, m.centreY, m.radius, c);
  }
  out.messages = r.messages;
  out.circleChanged = r.circleChanged || refined;
  out.circleCleared = r.refusal != CircleRefusal::None && !refined;
  out.selectionChanged = r.selectionChanged;
  out.cellX = r.cellX;
  out.cellY = r.cellY;
  out.boundaryCount = r.boundaryCount;
  if (out.fitRan) out.statusLine = CircleStatusLine(status, decimalSeparator);
  return out;
}

}  // namespace ps::ui
