#include "sphere/press.h"

#include <algorithm>
#include <cmath>

#include "sphere/detection_settings.h"
#include "state/number_format.h"

namespace ps {

MapMark CellMark(int x, int y, int zoom, uint32_t colour) {
  MapMark m;
  m.kind = MarkKind::FilledRect;
  m.colour = colour;
  m.cellX = x;
  m.cellY = y;
  m.left = static_cast<double>(x - 1) * zoom;
  m.top = static_cast<double>(y - 1) * zoom;
  m.right = static_cast<double>(x) * zoom - 1;
  m.bottom = static_cast<double>(y) * zoom - 1;
  return m;
}

std::vector<MapMark> CircleMarks(const SphereCircle& circle, int zoom, uint32_t colour) {
  const double sx = (circle.CircleCentreX - 0.5) * zoom;
  const double sy = (circle.CircleCentreY - 0.5) * zoom;
  MapMark centre;
  centre.kind = MarkKind::FilledRect;
  centre.colour = colour;
  centre.left = sx - 2;
  centre.top = sy - 2;
  centre.right = sx;
  centre.bottom = sy;
  MapMark outline;
  outline.kind = MarkKind::Circle;
  outline.colour = colour;
  outline.centreX = sx - 1;
  outline.centreY = sy - 1;
  outline.radius = zoom * circle.CircleRadius;
  return {centre, outline};
}

std::pair<int, int> PressedCell(float x, float y, int zoom, int imageWidth, int imageHeight) {
  zoom = std::max(1, zoom);
  auto cell = [&](float pos, int size) {
    double p = std::nearbyint(static_cast<double>(pos));
    const double hi = static_cast<double>(size) * zoom - zoom;
    if (!(p >= 0)) p = 0;
    if (p > hi) p = hi;
    // Integer division truncates toward zero, as for a negative bound of an empty image.
    return static_cast<int>(static_cast<long long>(p) / zoom) + 1;
  };
  return {cell(x, imageWidth), cell(y, imageHeight)};
}

namespace {

// Sets the fitted circle, or, when the points or the circle are refused,
// clears the circle there was and says why. `erased`: the earlier circle has
// already been painted over (automatic mode does that before the trace).
void ApplyFit(AppState& state, PressResult& r, const std::vector<std::pair<int, int>>& points, bool manual,
              CircleRefusal refusal, const CircleFit& fit, bool erased, int zoom, const std::string& sep,
              const Progress& progress) {
  const bool had = state.Circle.exists();
  if (progress.cancelled()) {
    // A cancelled fit changes nothing: the earlier circle comes back on the map.
    if (had && erased)
      for (const MapMark& m : CircleMarks(state.Circle, zoom)) r.marks.push_back(m);
    return;
  }
  if (refusal == CircleRefusal::None) refusal = CheckFittedCircle(fit, state.SetWidth, state.SetHeight);
  if (refusal == CircleRefusal::None) {
    state.Circle.CircleCentreX = fit.centreX;
    state.Circle.CircleCentreY = fit.centreY;
    state.Circle.CircleRadius = fit.radius;
    r.circleChanged = true;
    for (const MapMark& m : CircleMarks(state.Circle, zoom)) r.marks.push_back(m);
    return;
  }
  r.refusal = refusal;
  if (had && !erased)
    for (const MapMark& m : CircleMarks(state.Circle, zoom, kCircleEraseColour)) r.marks.push_back(m);
  r.messages.push_back(NoCircleMessage(refusal, manual, static_cast<int>(points.size()), fit, state.SetWidth,
                                       state.SetHeight, had, sep));
  state.Circle = SphereCircle{};
}

// "точка", "точки" or "точек" after a count.
const char* PointsWord(int n) {
  const int tens = n % 100, units = n % 10;
  if (tens >= 11 && tens <= 14) return "точек";
  if (units == 1) return "точка";
  if (units >= 2 && units <= 4) return "точки";
  return "точек";
}

}  // namespace

Message NoCircleMessage(CircleRefusal refusal, bool manual, int boundaryPoints, const CircleFit& fit, int width,
                        int height, bool hadCircle, const std::string& sep) {
  std::string text;
  switch (refusal) {
    case CircleRefusal::None:
    case CircleRefusal::NoCentre:
      text = "Ни одна точка изображения не подходит в центр окружности.";
      break;
    case CircleRefusal::TooFewPoints:
      text = "На границе " + std::to_string(boundaryPoints) + " " + PointsWord(boundaryPoints) +
             ", а для окружности нужно не меньше " + std::to_string(kMinBoundaryPoints) + "." + kCrLf +
             "Укажите точку на самом контуре шара.";
      break;
    case CircleRefusal::OnOneLine:
      text = manual ? "Три указанные точки лежат на одной прямой или совпадают: окружность через них не проходит."
                    : "Все точки границы лежат на одной прямой: окружность через них не проходит.";
      break;
    case CircleRefusal::OutsideImage:
      text = "Найденная окружность (центр " + FormatNumber(fit.centreX, "0.##", sep) + "; " +
             FormatNumber(fit.centreY, "0.##", sep) + ", радиус " + FormatNumber(fit.radius, "0.##", sep) +
             ") не помещается в изображение " + std::to_string(width) + " x " + std::to_string(height) + ".";
      break;
  }
  if (hadCircle) text += std::string(kCrLf) + "Прежняя окружность шара снята.";
  return Message{text, kNoCircleTitle, MessageIcon::Exclamation};
}


PressResult HandleMapPress(AppState& state, SphereSession& session, const PressInput& input,
                           const Progress& progress) {
  PressResult r;
  const int Z = std::max(1, state.ZoomFactor);
  const auto [x, y] = PressedCell(input.x, input.y, Z, state.Header.ImageWidth, state.Header.ImageHeight);
  r.cellX = x;
  r.cellY = y;
  const int W = std::max(0, state.SetWidth);
  const int H = std::max(0, state.SetHeight);

  session.BoundaryMarks.assign(static_cast<size_t>(W) * H, 0);
  if (x < 2 || x > W - 1 || y < 2 || y > H - 1) {
    r.messages.push_back(Message{kEdgeMessage, "", MessageIcon::None});
    return r;
  }
  state.SelectionLeft = state.SelectionRight = x;
  state.SelectionTop = state.SelectionBottom = y;
  r.selectionChanged = true;

  if (input.mode == PressMode::Manual) {
    session.ManualPointCount = static_cast<int16_t>(std::min<int>(session.ManualPointCount + 1, 32767));
    session.ManualPoints[2] = session.ManualPoints[1];
    session.ManualPoints[1] = session.ManualPoints[0];
    session.ManualPoints[0] = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
    r.manualPointAdded = true;
    if (session.ManualPointCount < 3) {
      r.marks.push_back(CellMark(x, y, Z, kManualPointColour));
      return r;
    }
    session.ManualPointCount = 3;
    std::array<std::pair<int, int>, 3> pts;
    for (int i = 0; i < 3; ++i) pts[i] = {session.ManualPoints[i][0], session.ManualPoints[i][1]};
    r.busy = true;
    const std::vector<std::pair<int, int>> points(pts.begin(), pts.end());
    const CircleRefusal refusal = CheckFitPoints(points, 3);
    const CircleFit fit = refusal == CircleRefusal::None ? CircleThroughThreePoints(pts, W, H) : CircleFit{};
    // The circle there was is painted over first, as before a trace, so the map
    // never shows a circle the state no longer holds.
    const bool erased = state.Circle.CircleRadius > 0;
    if (erased)
      for (const MapMark& m : CircleMarks(state.Circle, Z, kCircleEraseColour)) r.marks.push_back(m);
    ApplyFit(state, r, points, /*manual=*/true, refusal, fit, erased, Z, input.decimalSeparator, progress);
    return r;
  }
  if (input.mode != PressMode::Automatic) return r;

  // The start point must lie two cells inside the edge.
  if (x <= 2 || y <= 2 || x >= W - 1 || y >= H - 1) return r;
  ReadRotationLimits(state.Detection, input.rotationLimitText, input.rotationChangeLimitText,
                     input.decimalSeparator);
  const bool erased = state.Circle.CircleRadius > 0;
  if (erased)
    for (const MapMark& m : CircleMarks(state.Circle, Z, kCircleEraseColour)) r.marks.push_back(m);

  // Layer 19 is read only when it belongs to a map of the set's size.
  const ResultLayers& map = state.ResultMap;
  const double* l19 = (!map.empty() && map.width() == W && map.height() == H) ? map.layer(19) : nullptr;
  const TraceResult trace = Trace(l19, W, H, x, y);
  for (const auto& [mx, my] : trace.moves) r.marks.push_back(CellMark(mx, my, Z, kTraceColour));
  if (trace.deadEnd) {
    r.messages.push_back(Message{kDeadEndMessage, kDeadEndTitle, MessageIcon::None});
    r.marks.push_back(CellMark(trace.lastX, trace.lastY, Z, kDeadEndColour));
  }
  r.traced = true;
  r.traceEnd = trace.end();
  r.boundaryCount = trace.count();
  r.busy = true;

  session.BoundaryMarks = trace.marks;
  session.BoundaryCount = trace.count();
  session.BoundaryList = MakeBoundaryList(trace.points);
  const uint32_t colour = trace.edgeReached ? kTraceEdgeColour : kTraceColour;
  for (int cx = 1; cx <= W; ++cx)
    for (int cy = 1; cy <= H; ++cy)
      if (session.BoundaryMarks[static_cast<size_t>(cy - 1) * W + (cx - 1)] > 0)
        r.marks.push_back(CellMark(cx, cy, Z, colour));
  // Too few or collinear points are refused before the search over the set.
  const CircleRefusal refusal = CheckFitPoints(trace.points, kMinBoundaryPoints);
  const CircleFit fit = refusal == CircleRefusal::None
                            ? FitCircleToBoundary(session.BoundaryList, session.BoundaryCount, W, H, progress)
                            : CircleFit{};
  ApplyFit(state, r, trace.points, /*manual=*/false, refusal, fit, erased, Z, input.decimalSeparator, progress);
  return r;
}

}  // namespace ps
