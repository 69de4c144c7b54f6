// Circle fits: worked examples, the tie rule, bad input, and the fast searches
// against the plain exhaustive ones on many random cases.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

#include "sphere/circle_fit.h"

namespace ps {
namespace {

using Points = std::vector<std::pair<int, int>>;
using Three = std::array<std::pair<int, int>, 3>;

auto Key(const CircleFit& f) { return std::make_tuple(f.found, f.centreX, f.centreY, f.radius); }
#define EXPECT_SAME_FIT(a, b) EXPECT_EQ(Key(a), Key(b))  // radius bit for bit

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

CircleFit Fit(const Points& pts, int w, int h, int threads = 0, const Progress& p = {}) {
  return FitCircleToBoundary(MakeBoundaryList(pts), static_cast<int>(pts.size()), w, h, p, threads);
}

TEST(FitCircleToBoundary, CleanCircleTiesAndBadInput) {
  std::mt19937 rng(1);
  const CircleFit f = Fit(NoisyCircle(rng, 40, 35, 20, 0.0), 80, 70);
  ASSERT_TRUE(f.found);
  EXPECT_LE(std::hypot(f.centreX - 40, f.centreY - 35), 1);
  EXPECT_NEAR(f.radius, 21, 0.6);  // the mean distance plus one cell
  // n = 1: the point pairs with itself, every sum is 0 and the first cell keeps
  // the fit, one cell beyond the distance.
  const auto one = MakeBoundaryList({{15, 12}});
  for (const CircleFit& g : {FitCircleToBoundary(one, 1, 30, 30), FitCircleToBoundaryReference(one, 1, 30, 30)})
    EXPECT_EQ(Key(g), std::make_tuple(true, 1.0, 1.0, static_cast<double>(std::sqrt(14.0f * 14 + 11 * 11)) + 1));
  // Two points one above the other: every cell of row 5 sums to exactly 0. The
  // first of them wins, whichever thread finds it.
  const Points two = {{5, 3}, {5, 7}};
  const CircleFit ref = FitCircleToBoundaryReference(MakeBoundaryList(two), 2, 40, 12);
  EXPECT_EQ(std::make_pair(ref.centreX, ref.centreY), std::make_pair(1.0, 5.0));
  for (int threads : {1, 2, 3}) EXPECT_SAME_FIT(Fit(two, 40, 12, threads), ref) << threads;
  // Bad input, a long scattered boundary (every cell sums far above 10000), a cancelled run: no fit.
  EXPECT_FALSE(FitCircleToBoundary({}, 0, 10, 10).found);
  EXPECT_FALSE(FitCircleToBoundary(MakeBoundaryList({{3, 3}}), 2, 10, 10).found);
  EXPECT_FALSE(FitCircleToBoundary(MakeBoundaryList({{3, 3}}), 1, 0, 10).found);
  Points scattered;
  for (int k = 0; k < 600; ++k) scattered.emplace_back(1 + rng() % 200, 1 + rng() % 200);
  EXPECT_FALSE(Fit(scattered, 60, 60).found);
  EXPECT_FALSE(FitCircleToBoundaryReference(MakeBoundaryList(scattered), 600, 60, 60).found);
  std::atomic<bool> cancel{true};
  Progress p;
  p.cancel = &cancel;
  EXPECT_FALSE(Fit(NoisyCircle(rng, 30, 30, 10, 0), 60, 60, 0, p).found);
}

TEST(FitCircleToBoundary, FastEqualsPlainSearchOnRandomCases) {
  std::mt19937 rng(42);
  for (int c = 0; c < 120; ++c) {
    const int w = 5 + rng() % 60, h = 5 + rng() % 60;
    Points pts;
    const int kind = c % 4;
    if (kind < 2) {
      pts = NoisyCircle(rng, 1 + rng() % w, 1 + rng() % h, 2 + rng() % 30, kind == 0 ? 0.0 : 1.5);
    } else if (kind == 2) {  // an arc, as a trace that ended early leaves
      pts = NoisyCircle(rng, w / 2.0, h / 2.0, 3 + rng() % 25, 0.7);
      pts.resize(std::max<size_t>(1, pts.size() * (30 + rng() % 60) / 100));
    } else {
      for (int k = 0, n = 1 + rng() % 40; k < n; ++k) pts.emplace_back(1 + rng() % w, 1 + rng() % h);
    }
    const CircleFit ref = FitCircleToBoundaryReference(MakeBoundaryList(pts), static_cast<int>(pts.size()), w, h);
    for (int threads : {1, 2, 3}) EXPECT_SAME_FIT(Fit(pts, w, h, threads), ref) << c << " threads " << threads;
  }
  // Non-integer or far points take the plain path.
  const Points pts = NoisyCircle(rng, 20, 20, 10, 0.5);
  auto list = MakeBoundaryList(pts);
  const int n = static_cast<int>(pts.size());
  list[3][0] = list[3 + n][0] += 0.25;
  EXPECT_SAME_FIT(FitCircleToBoundary(list, n, 40, 40), FitCircleToBoundaryReference(list, n, 40, 40));
  list[5][1] = list[5 + n][1] = 9000;
  EXPECT_SAME_FIT(FitCircleToBoundary(list, n, 40, 40), FitCircleToBoundaryReference(list, n, 40, 40));
}

TEST(CircleThroughThreePoints, DegenerateCasesAndFastEqualsPlainSearch) {
  // Identical points: every cell sums to 0, the first one stays.
  EXPECT_EQ(Key(CircleThroughThreePoints({{{7, 9}, {7, 9}, {7, 9}}}, 20, 20)), std::make_tuple(true, 1.0, 1.0, 10.0));
  // Collinear points still give a circle; no cells, no circle.
  const Three line = {{{5, 10}, {10, 10}, {15, 10}}};
  EXPECT_TRUE(CircleThroughThreePoints(line, 30, 30).found);
  EXPECT_SAME_FIT(CircleThroughThreePoints(line, 30, 30), CircleThroughThreePointsReference(line, 30, 30));
  EXPECT_FALSE(CircleThroughThreePoints(line, 0, 0).found);
  std::mt19937 rng(7);
  for (int c = 0; c < 300; ++c) {
    const int w = 1 + rng() % 90, h = 1 + rng() % 90;
    Three p;
    for (auto& q : p) q = {1 + static_cast<int>(rng() % (w + 10)) - 5, 1 + static_cast<int>(rng() % (h + 10)) - 5};
    if (c % 10 == 0) p[1] = p[0];
    EXPECT_SAME_FIT(CircleThroughThreePoints(p, w, h), CircleThroughThreePointsReference(p, w, h)) << c;
  }
}

}  // namespace
}  // namespace ps
