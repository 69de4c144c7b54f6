// Boundary trace: closing on a ring, dead ends, the margin, the candidate rules
// and the step bound.
#include <gtest/gtest.h>

#include <tuple>
#include <set>
#include <vector>

#include "sphere/sphere_test_util.h"
#include "sphere/trace.h"

namespace ps {
namespace {

using Cell = std::pair<int, int>;

struct Response {
  int w, h;
  std::vector<double> v;
  Response(int w_, int h_) : w(w_), h(h_), v(static_cast<size_t>(w_) * h_, 0.0) {}
  double& at(int x, int y) { return v[static_cast<size_t>(y - 1) * w + (x - 1)]; }
  TraceResult Trace(int x, int y) const { return ps::Trace(v.data(), w, h, x, y); }
};

// A one-cell ring of negative response on the midpoint circle of radius r.
Response Ring(int w, int h, int cx, int cy, int r, std::set<Cell>* cells) {
  Response res(w, h);
  test::ForEachRingCell(cx, cy, r, [&](int x, int y) {
    res.at(x, y) = -100;
    cells->insert({x, y});
  });
  return res;
}

TEST(Trace, RingClosesAtTheStartAfterVisitingEveryCell) {
  std::set<Cell> ring;
  const Response r = Ring(120, 100, 60, 50, 20, &ring);
  const TraceResult t = r.Trace(40, 46);
  EXPECT_TRUE(t.closed && !t.edgeReached && !t.deadEnd && t.end() == TraceEnd::Closed);
  EXPECT_EQ(std::set<Cell>(t.points.begin(), t.points.end()), ring);
  EXPECT_EQ(static_cast<size_t>(t.count()), ring.size());
  // The last move is back onto the start; marks number the points in order.
  EXPECT_EQ(t.moves.back(), Cell(40, 46));
  EXPECT_EQ(static_cast<int>(t.moves.size()), t.count());
  for (int k = 1; k <= t.count(); ++k) EXPECT_EQ(t.marks[(t.points[k - 1].second - 1) * r.w + t.points[k - 1].first - 1], k);
}

TEST(Trace, LargerRingEndsPartWayRoundButStaysOnIt) {
  // Past the point farthest from the start the trace closes in on it; a step
  // that moves away again after three closing steps is refused.
  std::set<Cell> ring;
  const Response r = Ring(120, 100, 60, 50, 30, &ring);
  const TraceResult t = r.Trace(60, 20);
  EXPECT_TRUE(t.deadEnd && t.count() > 60);
  for (const Cell& p : t.points) EXPECT_TRUE(ring.count(p)) << p.first << "," << p.second;
  // It stops on the bottom run at (66, 79): the ring's next cell (65, 80) lies
  // farther from the start and is refused.
  EXPECT_EQ(Cell(t.lastX, t.lastY), Cell(66, 79));
  EXPECT_TRUE(ring.count({65, 80}));
  EXPECT_EQ(t.marks[(80 - 1) * r.w + (65 - 1)], 0);
}

TEST(Trace, CandidateRules) {
  // Each case: cells set to a response, the start, the first moves expected.
  const struct {
    const char* rule;
    int startX, startY;
    std::vector<std::tuple<int, int, double>> cells;
    std::vector<Cell> moves;
  } cases[] = {
      // From (5, 5) all eight neighbours are candidates, scanned column by
      // column: (4, 4) first, (6, 6) last. The best is kept rounded: 10.
      {"10.2 is not below the rounded 10", 5, 5, {{4, 4, -10.4}, {6, 6, -10.2}}, {{6, 6}}},
      {"9.9 is below 10", 5, 5, {{4, 4, -10.4}, {6, 6, -9.9}}, {{4, 4}}},
      {"10.6 scanned after (4, 4) wins", 5, 5, {{4, 4, -10.4}, {6, 6, -9.9}, {5, 4, -10.6}}, {{5, 4}}},
      // At (6, 6) the weaker (6, 7) would beat (7, 6), but it touches the
      // previous point (5, 6).
      {"cells touching the previous point", 5, 6, {{6, 6, -500}, {6, 7, -400}, {7, 6, -10}}, {{6, 6}, {7, 6}}},
      // (5, 5) -> (6, 6): cells with i = 5 or j = 5 are excluded, leaving (6, 7),
      // (7, 6) and (7, 7).
      {"three forward candidates after a diagonal", 5, 5,
       {{6, 6, -30}, {5, 7, -900}, {7, 5, -800}, {6, 7, -10}, {7, 7, -5}}, {{6, 6}, {6, 7}}},
  };
  for (const auto& c : cases) {
    Response r(20, 20);
    for (const auto& [x, y, v] : c.cells) r.at(x, y) = v;
    const TraceResult t = r.Trace(c.startX, c.startY);
    ASSERT_GE(t.moves.size(), c.moves.size()) << c.rule;
    EXPECT_EQ(std::vector<Cell>(t.moves.begin(), t.moves.begin() + c.moves.size()), c.moves) << c.rule;
  }
}

// How a trace ends: rows of negative response (x from, x to, y, value), the
// start, the end, the point count, the last point and the cell it ended on.
TEST(Trace, Endings) {
  const struct {
    const char* what;
    int w, h;
    std::vector<std::tuple<int, int, int, double>> runs;
    Cell start;
    TraceEnd end;
    int count;
    Cell lastPoint, lastCell;
  } cases[] = {
      {"no negative response", 30, 30, {{1, 30, 15, 3.0}}, {15, 15}, TraceEnd::DeadEnd, 1, {15, 15}, {15, 15}},
      // The margin itself is never entered.
      {"reaching the margin", 20, 12, {{2, 3, 6, -20}}, {4, 6}, TraceEnd::EdgeReached, 3, {2, 6}, {2, 6}},
      // The scan from (5, 2) sees row 1 and sets the flag, yet it still moves on to (6, 2).
      {"a run along row 2", 30, 12, {{5, 20, 2, -20}}, {5, 2}, TraceEnd::EdgeReached, 1, {5, 2}, {6, 2}},
      // Right x4, up-right, down-right: over the last four moves x advances by 4
      // while y goes both ways, so the move is refused once n > 5.
      {"a zigzag", 30, 20, {{5, 9, 10, -40}, {10, 10, 9, -40}, {11, 11, 10, -40}}, {5, 10}, TraceEnd::DeadEnd, 6,
       {10, 9}, {10, 9}},
      // A straight line longer than the step bound, ever farther from the start.
      {"the step bound", 3020, 12, {{3, 3015, 6, -50}}, {4, 6}, TraceEnd::DeadEnd, 3000, {3003, 6}, {3004, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Response r(c.w, c.h);
    for (const auto& [x0, x1, y, v] : c.runs)
      for (int x = x0; x <= x1; ++x) r.at(x, y) = v;
    const TraceResult t = r.Trace(c.start.first, c.start.second);
    EXPECT_EQ(std::make_tuple(t.end(), t.count(), t.points.back(), Cell(t.lastX, t.lastY)),
              std::make_tuple(c.end, c.count, c.lastPoint, c.lastCell));
    EXPECT_EQ(t.stepLimit, c.count == kTraceStepLimit);
    if (c.count == kTraceStepLimit) EXPECT_EQ(static_cast<int>(t.moves.size()), kTraceStepLimit);
  }
  // A missing layer reads as zero; a start outside the map touches nothing.
  const TraceResult none = Trace(nullptr, 30, 30, 15, 15);
  EXPECT_TRUE(none.deadEnd && none.count() == 1 && none.moves.empty());
  const Response r(10, 10);
  EXPECT_TRUE(r.Trace(0, 5).deadEnd && r.Trace(11, 5).deadEnd && Trace(nullptr, 0, 0, 1, 1).deadEnd);
}

}  // namespace
}  // namespace ps
