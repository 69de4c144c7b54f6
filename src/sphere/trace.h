// The boundary trace: from a start cell, walk from cell to cell along the most
// negative contour response (layer 19) until the walk returns to the start,
// reaches the margin of the image, finds no way on, or runs out of steps.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace ps {

enum class TraceEnd { Closed, EdgeReached, DeadEnd };

// A trace has at most this many steps; a longer one ends as a dead end.
inline constexpr int kTraceStepLimit = 3000;

struct TraceResult {
  int width = 0;
  int height = 0;
  // BoundaryMarks: 0 = not on the boundary, k = the cell became the current
  // point at step k. Row-major: marks[(y-1)*width + (x-1)].
  std::vector<int32_t> marks;
  // Boundary point k (1-based) at index k - 1; size() is BoundaryCount.
  std::vector<std::pair<int, int>> points;
  // Every cell the trace moved onto, in order (including the move back onto the
  // start that closes it); each is marked on the map as it is reached.
  std::vector<std::pair<int, int>> moves;
  bool closed = false;
  bool edgeReached = false;
  bool deadEnd = false;
  bool stepLimit = false;  // ended as a dead end because the step bound was reached
  int lastX = 0;           // the current cell when the trace ended
  int lastY = 0;

  int count() const { return static_cast<int>(points.size()); }
  // How the trace ended: closed first, then the margin, then a dead end.
  TraceEnd end() const {
    return closed ? TraceEnd::Closed : edgeReached ? TraceEnd::EdgeReached : TraceEnd::DeadEnd;
  }
};

const char* TraceEndName(TraceEnd end);  // "closed", "edge", "dead_end"

// Traces from (startX, startY) over `layer19` (row-major, width x height; null
// reads as all zero). The start cell must lie inside the map; cells on the
// outermost two rows and columns are never entered.
TraceResult Trace(const double* layer19, int width, int height, int startX, int startY);

}  // namespace ps
