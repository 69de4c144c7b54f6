#include "sphere/trace.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace ps {

namespace {

struct HistoryRecord {
  double x = 0;
  double y = 0;
  double d = 0;  // distance from the start point
};

// Nearest integer, halves to even, held to the 32-bit range.
int32_t RoundToInt32(double v) {
  const double r = std::nearbyint(v);
  if (!(r < 2147483647.0)) return std::numeric_limits<int32_t>::max();
  if (r < -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

// Over the last four moves (records 4 -> 0) the boundary must advance by 4
// along one axis and may drift along the other in one sense only.
bool Straight(const HistoryRecord* h) {
  auto mixed = [&](auto delta) {
    int pos = 0, neg = 0;
    for (int k = 1; k <= 4; ++k) {
      const double d = delta(k);
      if (d > 0) ++pos;
      if (d < 0) ++neg;
    }
    return pos > 0 && neg > 0;
  };
  if (std::fabs(h[0].y - h[4].y) == 4) return !mixed([&](int k) { return h[k - 1].x - h[k].x; });
  if (std::fabs(h[0].x - h[4].x) == 4) return !mixed([&](int k) { return h[k - 1].y - h[k].y; });
  return false;
}

}  // namespace

const char* TraceEndName(TraceEnd end) {
  switch (end) {
    case TraceEnd::Closed: return "closed";
    case TraceEnd::EdgeReached: return "edge";
    case TraceEnd::DeadEnd: return "dead_end";
  }
  return "dead_end";
}

TraceResult Trace(const double* layer19, int W, int H, int startX, int startY) {
  TraceResult t;
  t.width = W;
  t.height = H;
  if (W <= 0 || H <= 0) {
    t.deadEnd = true;
    return t;
  }
  t.marks.assign(static_cast<size_t>(W) * H, 0);
  auto mark = [&](int x, int y) -> int32_t& { return t.marks[static_cast<size_t>(y - 1) * W + (x - 1)]; };
  auto response = [&](int x, int y) { return layer19 ? layer19[static_cast<size_t>(y - 1) * W + (x - 1)] : 0.0; };
  auto distance = [&](int x, int y) {
    const double dx = x - startX, dy = y - startY;
    return std::sqrt(dx * dx + dy * dy);
  };

  int X = startX, Y = startY;
  int PX = -1, PY = -1;
  int n = 0;
  HistoryRecord hist[5];
  int steps = 0;
  // A start outside the map cannot be marked: nothing to trace.
  if (X < 1 || X > W || Y < 1 || Y > H) {
    t.deadEnd = true;
    t.lastX = X;
    t.lastY = Y;
    return t;
  }
  while (!t.closed && !t.edgeReached && !t.deadEnd) {
    if (steps >= kTraceStepLimit) {
      t.deadEnd = true;
      t.stepLimit = true;
      break;
    }
    ++n;
    mark(X, Y) = n;
    t.points.emplace_back(X, Y);
    hist[0] = {double(X), double(Y), distance(X, Y)};
    for (int k = 4; k >= 1; --k) hist[k] = hist[k - 1];

    int32_t best = 0;
    bool chosen = false;
    int cx = 0, cy = 0;
    const bool diagonal = std::abs(X - PX) == 1 && std::abs(Y - PY) == 1;
    for (int i = X - 1; i <= X + 1 && !t.closed; ++i) {
      for (int j = Y - 1; j <= Y + 1; ++j) {
        if (i < 2 || i > W - 1 || j < 2 || j > H - 1) {
          t.edgeReached = true;
          continue;
        }
        if ((std::abs(i - PX) <= 1 && std::abs(j - PY) <= 1) || (i == X && j == Y)) continue;
        if (diagonal && (i == PX || j == PY)) continue;
        if (mark(i, j) != 0) {
          if (i == startX && j == startY) {
            chosen = true;
            cx = i;
            cy = j;
            t.closed = true;
            break;
          }
          continue;
        }
        hist[0] = {double(i), double(j), distance(i, j)};
        if (n > 5) {
          if (!Straight(hist)) continue;
          if (hist[4].d >= hist[3].d && hist[3].d >= hist[2].d && hist[2].d >= hist[1].d && hist[0].d > hist[1].d)
            continue;
        }
        const double r = response(i, j);
        if (r >= 0 || std::fabs(r) < best) continue;
        chosen = true;
        cx = i;
        cy = j;
        best = RoundToInt32(std::fabs(r));
      }
    }
    if (!chosen) {
      t.deadEnd = true;
    } else {
      PX = X;
      PY = Y;
      X = cx;
      Y = cy;
      t.moves.emplace_back(X, Y);
    }
    ++steps;
  }
  t.lastX = X;
  t.lastY = Y;
  return t;
}

}  // namespace ps
