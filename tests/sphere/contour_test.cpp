// Contour response: masks, the values on simple images, the border clamping, the
// fast version against the plain loop, and the classification of contour points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "polarization/polarization.h"
#include "sphere/contour.h"

namespace ps {
namespace {

struct Layers {
  std::vector<double> l19, l20, l21;
  explicit Layers(size_t n, double fill = 0.0) : l19(n, fill), l20(n, fill), l21(n, fill) {}
};

Layers RunFast(const std::vector<double>& v, int w, int h, bool autocontrast, int threads = 0) {
  Layers out(v.size(), -7.0);
  EXPECT_TRUE(ContourResponse(v.data(), w, h, autocontrast, out.l19.data(), out.l20.data(), out.l21.data(), {},
                              threads));
  return out;
}

Layers RunReference(const std::vector<double>& v, int w, int h, bool autocontrast) {
  Layers out(v.size(), -7.0);
  ContourResponseReference(v.data(), w, h, autocontrast, out.l19.data(), out.l20.data(), out.l21.data());
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
      plus += m.Edge1[a][b] == 1;
      minus += m.Edge1[a][b] == -1;
      disc += m.Disc[a][b] != 0;
      core += m.Disc[a][b] == 7;
      EXPECT_EQ(m.Edge2[a][b], m.Edge1[b][a]);
      EXPECT_EQ(m.Disc[a][b], m.Disc[16 - a][b]);  // symmetric both ways
      EXPECT_EQ(m.Disc[a][b], m.Disc[a][16 - b]);
      // The centre line of both templates is empty.
      if (b == 8) EXPECT_EQ(m.Edge1[a][b], 0);
    }
  EXPECT_EQ(plus, 15);
  EXPECT_EQ(minus, 15);
  EXPECT_EQ(disc, 221);
  EXPECT_EQ(core, 21);
  EXPECT_EQ(m.Edge1[7][5], 1);    // (a, b) = (8, 6)
  EXPECT_EQ(m.Edge1[5][7], 1);    // (6, 8)
  EXPECT_EQ(m.Edge1[11][9], -1);  // (12, 10)
  EXPECT_EQ(m.Edge1[6][5], 0);    // (7, 6) is outside the half disc
  EXPECT_EQ(m.Disc[0][6], 1);     // (1, 7): outermost ring
  EXPECT_EQ(m.Disc[8][0], 1);     // (9, 1)
  EXPECT_EQ(m.Disc[5][0], 0);     // (6, 1)
}

TEST(ContourResponse, UniformImageGivesExactZero) {
  const int w = 23, h = 19;
  const std::vector<double> v(w * h, 137.25);
  for (const Layers& out : {RunFast(v, w, h, true), RunReference(v, w, h, true)}) {
    for (size_t i = 0; i < v.size(); ++i) {
      ASSERT_EQ(out.l21[i], 0.0);
      ASSERT_EQ(out.l19[i], 0.0);
      ASSERT_DOUBLE_EQ(out.l20[i], 137.25);
    }
  }
}

TEST(ContourResponse, VerticalStep) {
  // Columns 1..20 at 10, columns 21..40 at 10 + h.
  const int w = 40, H = 30;
  const double step = 50;
  std::vector<double> v(w * H);
  for (int y = 1; y <= H; ++y)
    for (int x = 1; x <= w; ++x) v[(y - 1) * w + (x - 1)] = x <= 20 ? 10 : 10 + step;
  const Layers out = RunFast(v, w, H, false);
  auto at = [&](const std::vector<double>& L, int x, int y) { return L[(y - 1) * w + (x - 1)]; };
  for (int y = 1; y <= H; ++y) {
    // The two columns either side of the step see the whole half discs.
    EXPECT_EQ(at(out.l21, 20, y), 15 * step);
    EXPECT_EQ(at(out.l21, 21, y), 15 * step);
    EXPECT_EQ(at(out.l21, 5, y), 0.0);
    EXPECT_EQ(at(out.l21, 36, y), 0.0);
    // Negative on the crest, rising towards 0 away from it.
    EXPECT_LT(at(out.l19, 20, y), 0);
    EXPECT_LT(at(out.l19, 20, y), at(out.l19, 17, y));
    EXPECT_LE(at(out.l19, 21, y), at(out.l19, 24, y));
  }
  // Along the step the response is the same on every row (clamped top and bottom).
  EXPECT_EQ(at(out.l19, 20, 1), at(out.l19, 20, 15));
  EXPECT_TRUE(SameBits(out.l19, RunReference(v, w, H, false).l19));
}

TEST(ContourResponse, BorderUsesNearestPixel) {
  // Only the last column differs from the rest; the first rows equal their
  // neighbours, so no horizontal edge appears at the top or bottom border.
  const int w = 30, h = 30;
  std::vector<double> v(w * h, 40.0);
  const Layers flat = RunFast(v, w, h, false);
  for (double x : flat.l21) ASSERT_EQ(x, 0.0);
  for (int y = 0; y < h; ++y) v[y * w + (w - 1)] = 90.0;
  const Layers out = RunFast(v, w, h, false);
  // Reads beyond the right edge repeat column w: the edge sits between w-1 and w.
  EXPECT_GT(out.l21[5 * w + (w - 1)], 0);
  EXPECT_EQ(out.l21[5 * w + 3], 0.0);
}

TEST(ContourResponse, WithoutAutocontrastLayer20IsUntouched) {
  const int w = 12, h = 9;
  std::mt19937 rng(3);
  std::vector<double> v(w * h);
  for (double& x : v) x = rng() % 256;
  Layers out(v.size(), -7.0);
  ContourResponse(v.data(), w, h, false, out.l19.data(), out.l20.data(), out.l21.data());
  for (double x : out.l20) ASSERT_EQ(x, -7.0);
  Layers ref(v.size(), -7.0);
  ContourResponseReference(v.data(), w, h, false, ref.l19.data(), ref.l20.data(), ref.l21.data());
  for (double x : ref.l20) ASSERT_EQ(x, -7.0);
}

TEST(ContourResponse, FastEqualsPlainLoopBitForBit) {
  std::mt19937 rng(11);
  const int sizes[][2] = {{1, 1}, {1, 7}, {5, 1}, {2, 3}, {17, 5}, {9, 30}, {40, 33}, {64, 3}, {101, 57}};
  for (const auto& s : sizes) {
    for (int variant = 0; variant < 3; ++variant) {
      const int w = s[0], h = s[1];
      std::vector<double> v(w * h);
      std::uniform_real_distribution<double> real(0, 255);
      for (double& x : v) x = variant == 0 ? rng() % 256 : variant == 1 ? real(rng) : (rng() % 3 == 0 ? 200.0 : 20.0);
      for (bool ac : {false, true}) {
        const Layers ref = RunReference(v, w, h, ac);
        for (int threads : {1, 2, 3}) {
          const Layers fast = RunFast(v, w, h, ac, threads);
          ASSERT_TRUE(SameBits(fast.l21, ref.l21)) << w << "x" << h << " ac " << ac << " threads " << threads;
          ASSERT_TRUE(SameBits(fast.l19, ref.l19)) << w << "x" << h << " ac " << ac << " threads " << threads;
          ASSERT_TRUE(SameBits(fast.l20, ref.l20)) << w << "x" << h << " ac " << ac << " threads " << threads;
        }
      }
    }
  }
}

TEST(ContourResponse, CancelStopsEarly) {
  const int w = 50, h = 200;
  std::vector<double> v(w * h, 1.0);
  Layers out(v.size());
  std::atomic<bool> cancel{true};
  Progress p;
  p.cancel = &cancel;
  EXPECT_FALSE(ContourResponse(v.data(), w, h, false, out.l19.data(), nullptr, out.l21.data(), p, 1));
}

AppState StateWithLayers(int w, int h) {
  AppState s;
  s.SetWidth = w;
  s.SetHeight = h;
  s.Header.ImageWidth = w;
  s.Header.ImageHeight = h;
  s.createResultMap();
  return s;
}

TEST(ContourResponse, StateVersionReadsTheChosenDefinition) {
  const int w = 20, h = 20;
  AppState s = StateWithLayers(w, h);
  // A step in the mean layer (7) only.
  for (int y = 1; y <= h; ++y)
    for (int x = 11; x <= w; ++x) s.ResultMap.set(x, y, 7, 100);
  s.IntensityMode = kModeMax;
  ASSERT_TRUE(ContourResponse(s, false));
  EXPECT_EQ(s.ResultMap.at(10, 10, 21), 0.0);
  s.IntensityMode = kModeMean;
  ASSERT_TRUE(ContourResponse(s, true));
  EXPECT_EQ(s.ResultMap.at(10, 10, 21), 1500.0);
  EXPECT_TRUE(s.ResultMap.hasStorage(20));
  AppState empty;
  EXPECT_FALSE(ContourResponse(empty, false));
}

TEST(ContourPointColour, Classification) {
  const int w = 7, h = 7;
  AppState s = StateWithLayers(w, h);
  // Layer 19: a crest of -100 along column 4, -10 beside it, +5 elsewhere.
  for (int y = 1; y <= h; ++y)
    for (int x = 1; x <= w; ++x) {
      const double r = x == 4 ? -100 : (x == 3 || x == 5) ? -10 : 5;
      s.ResultMap.set(x, y, 19, r);
      s.ResultMap.set(x, y, 1, 80);
    }
  // Positive response: never drawn.
  EXPECT_FALSE(ContourPointColour(s.ResultMap, 1, 4, false, true).drawn);
  // On the crest: 6 of the 9 cells are smaller.
  ContourPointStyle crest = ContourPointColour(s.ResultMap, 4, 4, false, true);
  EXPECT_TRUE(crest.contourPoint);
  EXPECT_TRUE(crest.drawn);
  // v = 100, g = 136: RGB(119, 119, 155).
  EXPECT_EQ(crest.colour, SphereRgb(119, 119, 155));
  // Autocontrast suppresses contour points; with the image the cell is still drawn.
  const ContourPointStyle ac = ContourPointColour(s.ResultMap, 4, 4, true, true);
  EXPECT_FALSE(ac.contourPoint);
  EXPECT_TRUE(ac.drawn);
  EXPECT_FALSE(ContourPointColour(s.ResultMap, 4, 4, true, false).drawn);
  // Beside the crest: only the three +5 cells are smaller.
  EXPECT_FALSE(ContourPointColour(s.ResultMap, 3, 4, false, true).contourPoint);
  EXPECT_FALSE(ContourPointColour(s.ResultMap, 3, 4, false, false).drawn);
  // Border cells are never contour points.
  EXPECT_FALSE(ContourPointColour(s.ResultMap, 4, 1, false, true).contourPoint);
  // Without the image the crest is drawn darker than white and still stands out.
  const ContourPointStyle plain = ContourPointColour(s.ResultMap, 4, 4, false, false);
  EXPECT_TRUE(plain.contourPoint);
  EXPECT_NE(plain.colour, SphereRgb(255, 255, 255));
  // Strong responses saturate to black with the image.
  s.ResultMap.set(4, 4, 19, -1000);
  EXPECT_EQ(ContourPointColour(s.ResultMap, 4, 4, false, true).colour, SphereRgb(0, 0, 0));
  // Outside the map, or no layer 19: nothing.
  EXPECT_FALSE(ContourPointColour(s.ResultMap, 0, 4, false, true).drawn);
  EXPECT_FALSE(ContourPointColour(s.ResultMap, 8, 4, false, true).drawn);
  AppState fresh = StateWithLayers(w, h);
  EXPECT_FALSE(ContourPointColour(fresh.ResultMap, 4, 4, false, true).drawn);
}

}  // namespace
}  // namespace ps
