// Shared by the sphere tests: a result map of a given size and a one-cell ring.
#pragma once

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

}  // namespace ps::test
