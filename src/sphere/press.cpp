#include "sphere/press.h"

#include <algorithm>
#include <cmath>

#include "sphere/detection_settings.h"

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

void SetCircle(AppState& state, PressResult& r, const CircleFit& fit, int zoom) {
  if (!fit.found) return;
  state.Circle.CircleCentreX = fit.centreX;
  state.Circle.CircleCentreY = fit.centreY;
  state.Circle.CircleRadius = fit.radius;
  r.circleChanged = true;
  for (const MapMark& m : CircleMarks(state.Circle, zoom)) r.marks.push_back(m);
}

}  // namespace

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
    SetCircle(state, r, CircleThroughThreePoints(pts, W, H), Z);
    return r;
  }
  if (input.mode != PressMode::Automatic) return r;

  // The start point must lie two cells inside the edge.
  if (x <= 2 || y <= 2 || x >= W - 1 || y >= H - 1) return r;
  ReadRotationLimits(state.Detection, input.rotationLimitText, input.rotationChangeLimitText,
                     input.decimalSeparator);
  if (state.Circle.CircleRadius > 0)
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
  SetCircle(state, r, FitCircleToBoundary(session.BoundaryList, session.BoundaryCount, W, H, progress), Z);
  return r;
}

}  // namespace ps
