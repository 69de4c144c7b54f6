// Shared by the sphere tests: a result map of a given size, a one-cell ring, presses on cells
// and circles compared with their truth.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <utility>
#include <vector>

#include "sphere/press.h"
#include "sphere/refine.h"
#include "state/app_state.h"

namespace ps::test {

inline AppState MapState(int w, int h, int zoom = 1) {
  AppState s;
  s.SetWidth = s.Header.ImageWidth = w;
  s.SetHeight = s.Header.ImageHeight = h;
  s.ZoomFactor = zoom;
  s.createResultMap();
  return s;
}

// Calls cell(x, y) for every cell of the midpoint circle of radius r.
template <class F>
void ForEachRingCell(int cx, int cy, int r, F cell) {
  for (int x = r, y = 0, err = 1 - r; x >= y;) {
    const int o[8][2] = {{x, y}, {y, x}, {-y, x}, {-x, y}, {-x, -y}, {-y, -x}, {y, -x}, {x, -y}};
    for (const auto& p : o) cell(cx + p[0], cy + p[1]);
    ++y;
    err += err < 0 ? 2 * y + 1 : 2 * (y - --x) + 1;
  }
}

// Pointer position in the middle of cell (x, y).
inline PressInput At(const AppState& s, int x, int y, PressMode mode) {
  PressInput in;
  in.x = static_cast<float>((x - 1) * s.ZoomFactor + s.ZoomFactor / 2);
  in.y = static_cast<float>((y - 1) * s.ZoomFactor + s.ZoomFactor / 2);
  in.mode = mode;
  return in;
}

// Presses the cells in turn; the result of the last press.
inline PressResult PressAll(AppState& s, SphereSession& session, const std::vector<std::pair<int, int>>& cells,
                            PressMode mode) {
  PressResult r;
  for (const auto& [x, y] : cells) r = HandleMapPress(s, session, At(s, x, y, mode));
  return r;
}

// A progress whose cancel flag is already set.
inline Progress Cancelled() {
  static std::atomic<bool> yes{true};
  Progress p;
  p.cancel = &yes;
  return p;
}

// The cell on circle c at angle a.
inline std::pair<int, int> RimCell(const Circle2& c, double a) {
  return {static_cast<int>(std::lround(c.x + c.r * std::cos(a))), static_cast<int>(std::lround(c.y + c.r * std::sin(a)))};
}

inline void ExpectCircleNear(double x, double y, double r, const Circle2& truth, double centreOff, double radiusOff) {
  EXPECT_LE(std::hypot(x - truth.x, y - truth.y), centreOff) << x << " " << y;
  EXPECT_NEAR(r, truth.r, radiusOff);
}
inline void ExpectCircleNear(const AppState& s, const Circle2& truth, double centreOff, double radiusOff) {
  ExpectCircleNear(s.Circle.CircleCentreX, s.Circle.CircleCentreY, s.Circle.CircleRadius, truth, centreOff, radiusOff);
}

}  // namespace ps::test
