// Boundary trace: closing on a ring, dead ends, the margin, the candidate rules
// and the step bound.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "sphere/trace.h"

namespace ps {
namespace {

struct Response {
  int w, h;
  std::vector<double> v;
  Response(int w_, int h_) : w(w_), h(h_), v(static_cast<size_t>(w_) * h_, 0.0) {}
  double& at(int x, int y) { return v[static_cast<size_t>(y - 1) * w + (x - 1)]; }
};

// A one-cell ring of negative response on the midpoint circle of radius r.
Response Ring(int w, int h, int cx, int cy, int r, std::set<std::pair<int, int>>* cells) {
  Response res(w, h);
  int x = r, y = 0, err = 1 - r;
  while (x >= y) {
    const int o[8][2] = {{x, y}, {y, x}, {-y, x}, {-x, y}, {-x, -y}, {-y, -x}, {y, -x}, {x, -y}};
    for (const auto& p : o) {
      res.at(cx + p[0], cy + p[1]) = -100;
      cells->insert({cx + p[0], cy + p[1]});
    }
    ++y;
    if (err < 0) {
      err += 2 * y + 1;
    } else {
      --x;
      err += 2 * (y - x) + 1;
    }
  }
  return res;
}

TEST(Trace, RingClosesAtTheStart) {
  std::set<std::pair<int, int>> ring;
  Response r = Ring(120, 100, 60, 50, 20, &ring);
  const TraceResult t = Trace(r.v.data(), r.w, r.h, 40, 46);
  ASSERT_TRUE(t.closed);
  EXPECT_FALSE(t.edgeReached);
  EXPECT_FALSE(t.deadEnd);
  EXPECT_EQ(t.end(), TraceEnd::Closed);
  // n equals the number of distinct cells visited: here the whole ring.
  const std::set<std::pair<int, int>> visited(t.points.begin(), t.points.end());
  EXPECT_EQ(static_cast<int>(visited.size()), t.count());
  EXPECT_EQ(visited, ring);
  // The last move is back onto the start; marks number the points in order.
  EXPECT_EQ(t.moves.back(), std::make_pair(40, 46));
  EXPECT_EQ(static_cast<int>(t.moves.size()), t.count());
  for (int k = 1; k <= t.count(); ++k) {
    const auto [x, y] = t.points[k - 1];
    EXPECT_EQ(t.marks[(y - 1) * r.w + (x - 1)], k);
  }
  int marked = 0;
  for (int m : t.marks) marked += m != 0;
  EXPECT_EQ(marked, t.count());
}

TEST(Trace, LargerRingEndsPartWayRoundButStaysOnIt) {
  // Past the point farthest from the start the trace closes in on it; a step
  // that moves away again after three closing steps is refused.
  std::set<std::pair<int, int>> ring;
  Response r = Ring(120, 100, 60, 50, 30, &ring);
  const TraceResult t = Trace(r.v.data(), r.w, r.h, 60, 20);
  EXPECT_TRUE(t.deadEnd);
  EXPECT_GT(t.count(), 60);
  for (const auto& p : t.points) EXPECT_TRUE(ring.count(p)) << p.first << "," << p.second;
  // It stops on the bottom run, just past the point farthest from the start,
  // having closed in on the start for three moves: the ring's next cell (65, 80)
  // lies farther away than (66, 79) and is refused.
  EXPECT_EQ(std::make_pair(t.lastX, t.lastY), std::make_pair(66, 79));
  EXPECT_TRUE(ring.count({65, 80}));
  EXPECT_EQ(t.marks[(80 - 1) * r.w + (65 - 1)], 0);
  EXPECT_GT(std::hypot(65 - 60, 80 - 20), std::hypot(66 - 60, 79 - 20));
}

TEST(Trace, NoNegativeResponseIsADeadEndAtTheFirstStep) {
  Response r(30, 30);
  for (double& v : r.v) v = 3.0;
  const TraceResult t = Trace(r.v.data(), r.w, r.h, 15, 15);
  EXPECT_TRUE(t.deadEnd);
  EXPECT_EQ(t.count(), 1);
  EXPECT_TRUE(t.moves.empty());
  EXPECT_EQ(t.end(), TraceEnd::DeadEnd);
  EXPECT_EQ(std::make_pair(t.lastX, t.lastY), std::make_pair(15, 15));
  // A missing layer reads as zero: the same.
  const TraceResult none = Trace(nullptr, 30, 30, 15, 15);
  EXPECT_TRUE(none.deadEnd);
  EXPECT_EQ(none.count(), 1);
}

TEST(Trace, MostNegativeCandidateWinsWithRoundedTies) {
  // First step from (5, 5): all eight neighbours are candidates, scanned
  // column by column. (4, 4) comes first, (6, 6) last.
  Response r(12, 12);
  r.at(4, 4) = -10.4;  // best becomes 10
  r.at(6, 6) = -10.2;  // 10.2 is not below 10: replaces it
  TraceResult t = Trace(r.v.data(), r.w, r.h, 5, 5);
  ASSERT_FALSE(t.moves.empty());
  EXPECT_EQ(t.moves[0], std::make_pair(6, 6));
  r.at(6, 6) = -9.9;  // below 10: kept out
  t = Trace(r.v.data(), r.w, r.h, 5, 5);
  ASSERT_FALSE(t.moves.empty());
  EXPECT_EQ(t.moves[0], std::make_pair(4, 4));
  r.at(5, 4) = -10.6;  // scanned after (4, 4): |r| 10.6 >= 10 wins, best 11
  t = Trace(r.v.data(), r.w, r.h, 5, 5);
  EXPECT_EQ(t.moves[0], std::make_pair(5, 4));
}

TEST(Trace, CellsTouchingThePreviousPointAreNotCandidates) {
  // Step 1 from (5, 6) takes the strongest neighbour (6, 6). At (6, 6) the
  // weaker (6, 7) still beats (7, 6), but it touches (5, 6): the trace takes
  // the straight-on cell (7, 6).
  Response r(20, 12);
  r.at(6, 6) = -500;
  r.at(6, 7) = -400;
  r.at(7, 6) = -10;
  const TraceResult t = Trace(r.v.data(), r.w, r.h, 5, 6);
  ASSERT_GE(t.moves.size(), 2u);
  EXPECT_EQ(t.moves[0], std::make_pair(6, 6));
  EXPECT_EQ(t.moves[1], std::make_pair(7, 6));
}

TEST(Trace, DiagonalMoveLeavesThreeForwardCandidates) {
  // (5, 5) -> (6, 6); then the cells with i = 5 or j = 5 are excluded, leaving
  // (6, 7), (7, 6) and (7, 7).
  Response r(20, 20);
  r.at(6, 6) = -30;
  r.at(5, 7) = -900;  // i = PX
  r.at(7, 5) = -800;  // j = PY
  r.at(6, 7) = -10;
  r.at(7, 7) = -5;
  const TraceResult t = Trace(r.v.data(), r.w, r.h, 5, 5);
  ASSERT_GE(t.moves.size(), 2u);
  EXPECT_EQ(t.moves[0], std::make_pair(6, 6));
  EXPECT_EQ(t.moves[1], std::make_pair(6, 7));
}

TEST(Trace, ReachingTheMarginEndsAfterThatStep) {
  Response r(20, 12);
  r.at(3, 6) = -20;
  r.at(2, 6) = -20;
  const TraceResult t = Trace(r.v.data(), r.w, r.h, 4, 6);
  EXPECT_TRUE(t.edgeReached);
  EXPECT_EQ(t.end(), TraceEnd::EdgeReached);
  EXPECT_EQ(t.count(), 3);
  EXPECT_EQ(t.points.back(), std::make_pair(2, 6));
  // The margin is never entered.
  for (const auto& [x, y] : t.points) {
    EXPECT_GE(x, 2);
    EXPECT_GE(y, 2);
  }
}

TEST(Trace, MarginWithAWayOnStillEndsTheTrace) {
  // A run along row 2: the scan from (5, 2) sees row 1 and sets the flag, yet
  // it still chooses (6, 2); the trace ends after that step.
  Response r(30, 12);
  for (int x = 5; x <= 20; ++x) r.at(x, 2) = -20;
  const TraceResult t = Trace(r.v.data(), r.w, r.h, 5, 2);
  EXPECT_TRUE(t.edgeReached);
  EXPECT_FALSE(t.deadEnd);
  EXPECT_EQ(t.count(), 1);
  ASSERT_EQ(t.moves.size(), 1u);
  EXPECT_EQ(t.moves[0], std::make_pair(6, 2));
}

TEST(Trace, StraightnessRefusesAZigzag) {
  // Right, right, right, up-right, down-right: over the last four moves x
  // advances by 4 while y goes both ways, so the fifth move is refused once n > 5.
  Response r(30, 20);
  const int path[][2] = {{5, 10}, {6, 10}, {7, 10}, {8, 10}, {9, 10}, {10, 9}, {11, 10}};
  for (const auto& p : path) r.at(p[0], p[1]) = -40;
  const TraceResult t = Trace(r.v.data(), r.w, r.h, 5, 10);
  EXPECT_TRUE(t.deadEnd);
  EXPECT_EQ(t.points.back(), std::make_pair(10, 9));
  EXPECT_EQ(t.count(), 6);
}

TEST(Trace, StepBoundEndsALongTraceAsADeadEnd) {
  // A straight line longer than the bound, ever farther from the start.
  Response r(3020, 12);
  for (int x = 3; x <= 3015; ++x) r.at(x, 6) = -50;
  const TraceResult t = Trace(r.v.data(), r.w, r.h, 4, 6);
  EXPECT_TRUE(t.deadEnd);
  EXPECT_TRUE(t.stepLimit);
  EXPECT_FALSE(t.closed);
  EXPECT_FALSE(t.edgeReached);
  EXPECT_EQ(t.count(), kTraceStepLimit);
  EXPECT_EQ(static_cast<int>(t.moves.size()), kTraceStepLimit);
  EXPECT_EQ(std::make_pair(t.lastX, t.lastY), std::make_pair(4 + kTraceStepLimit, 6));
}

TEST(Trace, StartOutsideTheMapTouchesNothing) {
  Response r(10, 10);
  EXPECT_TRUE(Trace(r.v.data(), 10, 10, 0, 5).deadEnd);
  EXPECT_TRUE(Trace(r.v.data(), 10, 10, 11, 5).deadEnd);
  EXPECT_TRUE(Trace(nullptr, 0, 0, 1, 1).deadEnd);
}

}  // namespace
}  // namespace ps
