// Circle fits: the worked examples, the tie rule, bad input, and the fast
// searches against the plain exhaustive ones on many random cases.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "sphere/circle_fit.h"

namespace ps {
namespace {

using Points = std::vector<std::pair<int, int>>;

void ExpectSameFit(const CircleFit& a, const CircleFit& b, const std::string& what) {
  EXPECT_EQ(a.found, b.found) << what;
  EXPECT_EQ(a.centreX, b.centreX) << what;
  EXPECT_EQ(a.centreY, b.centreY) << what;
  EXPECT_EQ(a.radius, b.radius) << what;  // bit-identical
}

// Cells of an 8-connected walk round a circle, with some jitter.
Points NoisyCircle(std::mt19937& rng, double cx, double cy, double r, double jitter) {
  Points pts;
  std::normal_distribution<double> noise(0, jitter);
  const int steps = std::max(3, static_cast<int>(2 * 3.14159 * r));
  for (int k = 0; k < steps; ++k) {
    const double t = 2 * 3.14159 * k / steps;
    const int x = static_cast<int>(std::lround(cx + (r + noise(rng)) * std::cos(t)));
    const int y = static_cast<int>(std::lround(cy + (r + noise(rng)) * std::sin(t)));
    if (pts.empty() || pts.back() != std::make_pair(x, y)) pts.emplace_back(x, y);
  }
  return pts;
}

TEST(FitCircleToBoundary, FindsACleanCircle) {
  std::mt19937 rng(1);
  const Points pts = NoisyCircle(rng, 40, 35, 20, 0.0);
  const CircleFit f = FitCircleToBoundary(MakeBoundaryList(pts), static_cast<int>(pts.size()), 80, 70);
  ASSERT_TRUE(f.found);
  EXPECT_NEAR(f.centreX, 40, 1);
  EXPECT_NEAR(f.centreY, 35, 1);
  // The radius is the mean distance plus one cell.
  EXPECT_NEAR(f.radius, 21, 0.6);
}

TEST(FitCircleToBoundary, SinglePointFitsAtTheFirstCell) {
  // n = 1: n \ 2 = 0 pairs every point with itself, so every S is 0 and the
  // first cell keeps the fit.
  const Points pts = {{15, 12}};
  for (const CircleFit& f : {FitCircleToBoundary(MakeBoundaryList(pts), 1, 30, 30),
                             FitCircleToBoundaryReference(MakeBoundaryList(pts), 1, 30, 30)}) {
    ASSERT_TRUE(f.found);
    EXPECT_EQ(f.centreX, 1);
    EXPECT_EQ(f.centreY, 1);
    EXPECT_DOUBLE_EQ(f.radius, static_cast<double>(std::sqrt(14.0f * 14 + 11 * 11)) + 1);
  }
}

TEST(FitCircleToBoundary, EqualSumsKeepTheEarliestCell) {
  // Two points one above the other: every cell of row 5 sums to exactly 0, in
  // every column. The search keeps the first of them, whichever thread finds it.
  const Points pts = {{5, 3}, {5, 7}};
  for (int threads : {1, 2, 3}) {
    const CircleFit f = FitCircleToBoundary(MakeBoundaryList(pts), 2, 40, 12, {}, threads);
    EXPECT_EQ(f.centreX, 1) << threads;
    EXPECT_EQ(f.centreY, 5) << threads;
  }
  const CircleFit ref = FitCircleToBoundaryReference(MakeBoundaryList(pts), 2, 40, 12);
  EXPECT_EQ(ref.centreX, 1);
  EXPECT_EQ(ref.centreY, 5);
}

TEST(FitCircleToBoundary, EmptyOrShortListGivesNoFit) {
  EXPECT_FALSE(FitCircleToBoundary({}, 0, 10, 10).found);
  EXPECT_FALSE(FitCircleToBoundary(MakeBoundaryList({{3, 3}}), 2, 10, 10).found);
  EXPECT_FALSE(FitCircleToBoundary(MakeBoundaryList({{3, 3}}), 1, 0, 10).found);
}

TEST(FitCircleToBoundary, NoCellBelowTheStartingBoundIsNoFit) {
  // A long scattered boundary: every cell sums far above 10000.
  std::mt19937 rng(5);
  Points pts;
  for (int k = 0; k < 600; ++k) pts.emplace_back(1 + rng() % 200, 1 + rng() % 200);
  const auto list = MakeBoundaryList(pts);
  ExpectSameFit(FitCircleToBoundary(list, 600, 60, 60), FitCircleToBoundaryReference(list, 600, 60, 60),
                "scattered");
  EXPECT_FALSE(FitCircleToBoundary(list, 600, 60, 60).found);
}

TEST(FitCircleToBoundary, FastEqualsPlainSearchOnRandomCases) {
  std::mt19937 rng(42);
  for (int c = 0; c < 120; ++c) {
    const int w = 5 + rng() % 60, h = 5 + rng() % 60;
    Points pts;
    const int kind = c % 4;
    if (kind == 0) {
      pts = NoisyCircle(rng, 1 + rng() % w, 1 + rng() % h, 2 + rng() % 30, 0.0);
    } else if (kind == 1) {
      pts = NoisyCircle(rng, 1 + rng() % w, 1 + rng() % h, 2 + rng() % 30, 1.5);
    } else if (kind == 2) {
      // An arc: part of a circle only, as a trace that ended early leaves.
      Points full = NoisyCircle(rng, w / 2.0, h / 2.0, 3 + rng() % 25, 0.7);
      full.resize(std::max<size_t>(1, full.size() * (30 + rng() % 60) / 100));
      pts = full;
    } else {
      const int n = 1 + rng() % 40;
      for (int k = 0; k < n; ++k) pts.emplace_back(1 + rng() % w, 1 + rng() % h);
    }
    const auto list = MakeBoundaryList(pts);
    const int n = static_cast<int>(pts.size());
    const CircleFit ref = FitCircleToBoundaryReference(list, n, w, h);
    for (int threads : {1, 2, 3})
      ExpectSameFit(FitCircleToBoundary(list, n, w, h, {}, threads), ref,
                    "case " + std::to_string(c) + " threads " + std::to_string(threads));
  }
}

TEST(FitCircleToBoundary, NonIntegerOrFarPointsTakeThePlainPath) {
  std::mt19937 rng(8);
  Points pts = NoisyCircle(rng, 20, 20, 10, 0.5);
  auto list = MakeBoundaryList(pts);
  const int n = static_cast<int>(pts.size());
  list[3][0] += 0.25;
  list[3 + n][0] += 0.25;
  ExpectSameFit(FitCircleToBoundary(list, n, 40, 40), FitCircleToBoundaryReference(list, n, 40, 40), "fraction");
  list[5][1] = 9000;
  list[5 + n][1] = 9000;
  ExpectSameFit(FitCircleToBoundary(list, n, 40, 40), FitCircleToBoundaryReference(list, n, 40, 40), "far");
}

TEST(FitCircleToBoundary, CancelledRunGivesNoFit) {
  std::mt19937 rng(2);
  const Points pts = NoisyCircle(rng, 30, 30, 10, 0);
  std::atomic<bool> cancel{true};
  Progress p;
  p.cancel = &cancel;
  EXPECT_FALSE(FitCircleToBoundary(MakeBoundaryList(pts), static_cast<int>(pts.size()), 60, 60, p).found);
}

TEST(CircleThroughThreePoints, WorkedExample) {
  const std::array<std::pair<int, int>, 3> p = {{{40, 30}, {30, 40}, {20, 30}}};
  for (const CircleFit& f : {CircleThroughThreePoints(p, 100, 100), CircleThroughThreePointsReference(p, 100, 100)}) {
    ASSERT_TRUE(f.found);
    EXPECT_EQ(f.centreX, 30);
    EXPECT_EQ(f.centreY, 30);
    EXPECT_DOUBLE_EQ(f.radius, 10);
  }
}

TEST(CircleThroughThreePoints, IdenticalPointsKeepTheFirstCell) {
  // Every cell sums to 0: the first one stays.
  const std::array<std::pair<int, int>, 3> p = {{{7, 9}, {7, 9}, {7, 9}}};
  const CircleFit f = CircleThroughThreePoints(p, 20, 20);
  ASSERT_TRUE(f.found);
  EXPECT_EQ(f.centreX, 1);
  EXPECT_EQ(f.centreY, 1);
  EXPECT_DOUBLE_EQ(f.radius, 10);
}

TEST(CircleThroughThreePoints, CollinearPointsStillGiveACircle) {
  const std::array<std::pair<int, int>, 3> p = {{{5, 10}, {10, 10}, {15, 10}}};
  const CircleFit f = CircleThroughThreePoints(p, 30, 30);
  ASSERT_TRUE(f.found);
  ExpectSameFit(f, CircleThroughThreePointsReference(p, 30, 30), "collinear");
  EXPECT_FALSE(CircleThroughThreePoints(p, 0, 0).found);
}

TEST(CircleThroughThreePoints, FastEqualsPlainSearchOnRandomCases) {
  std::mt19937 rng(7);
  for (int c = 0; c < 300; ++c) {
    const int w = 1 + rng() % 90, h = 1 + rng() % 90;
    std::array<std::pair<int, int>, 3> p;
    for (auto& q : p) q = {1 + static_cast<int>(rng() % (w + 10)) - 5, 1 + static_cast<int>(rng() % (h + 10)) - 5};
    if (c % 10 == 0) p[1] = p[0];
    ExpectSameFit(CircleThroughThreePoints(p, w, h), CircleThroughThreePointsReference(p, w, h),
                  "case " + std::to_string(c));
  }
}

}  // namespace
}  // namespace ps
