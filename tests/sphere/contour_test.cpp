// Contour response: masks, values on simple images, border clamping, the fast
// version against the plain loop, and the classification of contour points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <random>
#include <vector>

#include "sphere/contour.h"
#include "sphere/sphere_test_util.h"

namespace ps {
namespace {

struct Layers {
  std::vector<double> l19, l20, l21;
  explicit Layers(size_t n) : l19(n, -7.0), l20(n, -7.0), l21(n, -7.0) {}
};

// The fast version on `threads` threads (0: all cores), or the plain loop for threads < 0.
Layers Contour(const std::vector<double>& v, int w, int h, bool autocontrast, int threads = 0) {
  Layers out(v.size());
  if (threads < 0)
    ContourResponseReference(v.data(), w, h, autocontrast, out.l19.data(), out.l20.data(), out.l21.data());
  else
    EXPECT_TRUE(ContourResponse(v.data(), w, h, autocontrast, out.l19.data(), out.l20.data(), out.l21.data(), {}, threads));
  return out;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(ContourMasks, ShapesAndCounts) {
  const ContourMasks m = BuildContourMasks();
  int plus = 0, minus = 0, disc = 0, core = 0;
  for (int a = 0; a < 17; ++a)
    for (int b = 0; b < 17; ++b) {
      plus += m.Edge1[a][b] == 1, minus += m.Edge1[a][b] == -1, disc += m.Disc[a][b] != 0, core += m.Disc[a][b] == 7;
      // Edge2 is Edge1 transposed, the disc symmetric both ways, the centre line empty.
      EXPECT_EQ(std::make_tuple(m.Edge2[a][b], m.Disc[16 - a][b], m.Disc[a][16 - b], b == 8 ? m.Edge1[a][b] : 0),
                std::make_tuple(m.Edge1[b][a], m.Disc[a][b], m.Disc[a][b], 0));
    }
  EXPECT_EQ(std::make_tuple(plus, minus, disc, core), std::make_tuple(15, 15, 221, 21));
  // (a, b) 1-based: (8, 6) and (6, 8) are +1, (12, 10) is -1, (7, 6) lies outside.
  EXPECT_EQ(std::make_tuple(m.Edge1[7][5], m.Edge1[5][7], m.Edge1[11][9], m.Edge1[6][5]), std::make_tuple(1, 1, -1, 0));
  // Disc: (1, 7) and (9, 1) on the outermost ring, (6, 1) outside.
  EXPECT_EQ(std::make_tuple(m.Disc[0][6], m.Disc[8][0], m.Disc[5][0]), std::make_tuple(1, 1, 0));
}

TEST(ContourResponse, VerticalStepAndBorders) {
  // Columns 1..20 at 10, columns 21..40 at 60.
  const int w = 40, h = 30;
  std::vector<double> v(w * h);
  for (size_t i = 0; i < v.size(); ++i) v[i] = i % w < 20 ? 10 : 60;
  const Layers out = Contour(v, w, h, false);
  auto at = [&](const std::vector<double>& L, int x, int y) { return L[(y - 1) * w + (x - 1)]; };
  for (int y = 1; y <= h; ++y) {
    // The two columns either side of the step see the whole half discs.
    EXPECT_EQ(std::make_tuple(at(out.l21, 20, y), at(out.l21, 21, y), at(out.l21, 5, y), at(out.l21, 36, y)),
              std::make_tuple(15 * 50.0, 15 * 50.0, 0.0, 0.0)) << y;
    // Negative on the crest, rising towards 0 away from it; reads above and
    // below repeat the border rows, so every row is the same.
    EXPECT_LT(at(out.l19, 20, y), std::min(0.0, at(out.l19, 17, y))) << y;
    EXPECT_LE(at(out.l19, 21, y), at(out.l19, 24, y)) << y;
    EXPECT_EQ(at(out.l19, 20, y), at(out.l19, 20, 15));
  }
  EXPECT_TRUE(SameBits(out.l19, Contour(v, w, h, false, -1).l19));
  // A uniform image gives exactly 0, and autocontrast its own value.
  const Layers flat = Contour(std::vector<double>(w * h, 137.25), w, h, true);
  for (size_t i = 0; i < v.size(); ++i)
    ASSERT_EQ(std::make_tuple(flat.l19[i], flat.l21[i], flat.l20[i]), std::make_tuple(0.0, 0.0, 137.25)) << i;
  // Only the last column differs: reads beyond the right edge repeat it, so the
  // edge sits between columns w-1 and w.
  std::vector<double> last(w * h, 40.0);
  for (int y = 0; y < h; ++y) last[y * w + (w - 1)] = 90.0;
  const Layers edge = Contour(last, w, h, false);
  EXPECT_GT(edge.l21[5 * w + (w - 1)], 0);
  EXPECT_EQ(edge.l21[5 * w + 3], 0.0);
}

TEST(ContourResponse, FastEqualsPlainLoopBitForBit) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> real(0, 255);
  const int sizes[][2] = {{1, 1}, {1, 7}, {5, 1}, {2, 3}, {17, 5}, {9, 30}, {40, 33}, {64, 3}, {101, 57}};
  for (const auto& [w, h] : sizes)
    for (int variant = 0; variant < 3; ++variant) {
      std::vector<double> v(w * h);
      for (double& x : v) x = variant == 0 ? rng() % 256 : variant == 1 ? real(rng) : (rng() % 3 == 0 ? 200.0 : 20.0);
      for (bool ac : {false, true}) {
        const Layers ref = Contour(v, w, h, ac, -1);
        if (!ac)  // without autocontrast layer 20 is left untouched
          for (double x : ref.l20) ASSERT_EQ(x, -7.0);
        for (int threads : {1, 2, 3}) {
          const Layers fast = Contour(v, w, h, ac, threads);
          ASSERT_TRUE(SameBits(fast.l21, ref.l21) && SameBits(fast.l19, ref.l19) && SameBits(fast.l20, ref.l20))
              << w << "x" << h << " variant " << variant << " ac " << ac << " threads " << threads;
        }
      }
    }
}

TEST(ContourResponse, StateVersionReadsTheChosenDefinition) {
  AppState s = test::MapState(20, 20);
  for (int y = 1; y <= 20; ++y)  // a step in the mean layer (7) only
    for (int x = 11; x <= 20; ++x) s.ResultMap.set(x, y, 7, 100);
  for (auto [mode, want] : {std::pair{kModeMax, 0.0}, {kModeMean, 1500.0}}) {
    s.IntensityMode = mode;
    ASSERT_TRUE(ContourResponse(s, mode == kModeMean));
    EXPECT_EQ(s.ResultMap.at(10, 10, 21), want);
  }
  EXPECT_TRUE(s.ResultMap.hasStorage(20));  // autocontrast fills layer 20
  AppState empty;
  EXPECT_FALSE(ContourResponse(empty, false));
  std::atomic<bool> cancel{true};  // a cancelled run stops early
  Progress p;
  p.cancel = &cancel;
  EXPECT_FALSE(ContourResponse(s, false, p));
}

TEST(ContourPointColour, Classification) {
  AppState s = test::MapState(7, 7);
  // Layer 19: a crest of -100 along column 4, -10 beside it, +5 elsewhere.
  for (int y = 1; y <= 7; ++y)
    for (int x = 1; x <= 7; ++x) {
      s.ResultMap.set(x, y, 19, x == 4 ? -100 : (x == 3 || x == 5) ? -10 : 5);
      s.ResultMap.set(x, y, 1, 80);
    }
  const struct {
    int x, y;
    bool autocontrast, withImage, drawn, contourPoint;
  } cases[] = {
      {1, 4, false, true, false, false},  // positive response: never drawn
      {4, 4, false, true, true, true},    // on the crest: 6 of the 9 cells are smaller
      {4, 4, false, false, true, true},
      {4, 4, true, true, true, false},    // autocontrast suppresses contour points
      {4, 4, true, false, false, false},
      {3, 4, false, true, true, false},   // beside the crest: only three cells are smaller
      {3, 4, false, false, false, false},
      {4, 1, false, true, true, false},   // border cells are never contour points
      {0, 4, false, true, false, false},  // outside the map
      {8, 4, false, true, false, false},
  };
  for (const auto& c : cases) {
    const ContourPointStyle p = ContourPointColour(s.ResultMap, c.x, c.y, c.autocontrast, c.withImage);
    EXPECT_EQ(std::make_pair(p.drawn, p.contourPoint), std::make_pair(c.drawn, c.contourPoint))
        << c.x << "," << c.y << " ac " << c.autocontrast << " image " << c.withImage;
  }
  // v = 100, g = 136 with the image; strong responses saturate to black.
  EXPECT_EQ(ContourPointColour(s.ResultMap, 4, 4, false, true).colour, SphereRgb(119, 119, 155));
  EXPECT_NE(ContourPointColour(s.ResultMap, 4, 4, false, false).colour, SphereRgb(255, 255, 255));  // stands out
  s.ResultMap.set(4, 4, 19, -1000);
  EXPECT_EQ(ContourPointColour(s.ResultMap, 4, 4, false, true).colour, SphereRgb(0, 0, 0));
  // No layer 19: nothing.
  EXPECT_FALSE(ContourPointColour(test::MapState(7, 7).ResultMap, 4, 4, false, true).drawn);
}

}  // namespace
}  // namespace ps
