#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

#include "display/display_fixtures.h"
#include "display/map_view.h"
#include "display/toning.h"

namespace ps {
namespace {

using test::MapState;
using test::Pixel;

// Sweeps a flat sphere image on a W x H pair and counts the pixels whose painting disagrees with the
// visible cap: a screen point (x right, z up) inside the disc is painted when the sphere point facing
// the viewer, turned by RotationX, has s sin a + z cos a >= 0; painted pixels are the grey in both.
int CapMismatches(const ToningView& view, int W, int H, int& painted, RasterSurface& left, RasterSurface& right) {
  AppState s = MapState(240, 240, [](int, int) { return Pixel(100, 0.2, 0.4); });
  s.Circle = {120, 120, 100};
  s.Detection.WeightKernel = {}, s.Detection.WeightKernel[2][2] = 100;  // the centre alone
  left = right = RasterSurface(W, H);
  EXPECT_TRUE(ToningSweep(s, view, left, right));
  const double k = view.ToningScale, a = view.RotationX;
  int mismatches = painted = 0;
  for (int sy = 0; sy < H; ++sy)
    for (int sx = 0; sx < W; ++sx) {
      const double x = (sx - W / 2.0) * k, z = ((H - sy) - H / 2.0) * k, r2 = x * x + z * z;
      const bool isPainted = left.pixel(sx, sy) != kToningBackground;
      const double zs = r2 <= 1 ? std::sqrt(1 - r2) * std::sin(a) + z * std::cos(a) : -1;
      painted += isPainted;
      if (isPainted != (zs >= 0) && (r2 > 1 || std::min(std::fabs(zs), 1 - r2) > 1e-6)) ++mismatches;
      if (isPainted && std::hypot(sx - W / 2.0, sy - H / 2.0) > 2)
        EXPECT_EQ(std::pair(left.pixel(sx, sy), right.pixel(sx, sy)), std::pair(Rgb(100, 100, 100), Rgb(100, 100, 100)))
            << sx << "," << sy;
    }
  return mismatches;
}

TEST(Toning, EachRotationPaintsTheVisibleCap) {
  RasterSurface left, right;
  ToningView view;
  int painted = 0;
  // 45 degrees: the top shows; 0: the upper half of the disc, about 18 600 pixels of
  // radius 111; 90: along the camera axis, the whole disc with its centre marked.
  for (auto [degrees, W, H, least] : {std::tuple{45, 297, 244, 25000}, {0, 297, 244, 18000}, {90, 200, 200, 30000}}) {
    view.RotationX = degrees * kPi / 180;
    EXPECT_EQ(CapMismatches(view, W, H, painted, left, right), 0) << degrees;
    EXPECT_GT(painted, least) << degrees;
  }
  EXPECT_EQ(std::pair(left.pixel(100, 100), right.pixel(100, 100)), std::pair(Rgb(0, 200, 0), Rgb(0, 200, 0)));
  EXPECT_EQ(left.pixel(101, 100), Rgb(100, 100, 100));
  RasterSurface l2, r2;
  view.RotationX = std::acos(0.0);  // exactly level rays: the same picture
  CapMismatches(view, 200, 200, painted, l2, r2);
  EXPECT_TRUE(test::SamePixels(left, l2));

  // Turns of 90 degrees about y and z, alone and after one another (the order x, y, z): where the ray of
  // screen point (-10, 20), at 0.009 units a pixel, meets the sphere; rays level in y take the
  // point nearer the viewer.
  const double s = 0.09, t = 0.18, c = std::sqrt(1 - s * s - t * t);
  for (auto [x, y, z, want] : {std::tuple{0, 90, 0, std::array{t, c, s}}, {0, 0, 90, std::array{-c, -s, t}},
                               {90, 0, 90, std::array{t, -s, c}}, {90, 90, 0, std::array{c, -t, s}},
                               {0, 90, 90, std::array{-c, t, s}}}) {
    ToningView turned;
    turned.RotationX = x * kPi / 180, turned.RotationY = y * kPi / 180, turned.RotationZ = z * kPi / 180;
    const SphereHit hit = CastToningRay(turned, -10, 20);
    EXPECT_TRUE(hit.Hit && std::hypot(hit.X - want[0], hit.Y - want[1], hit.Z - want[2]) < 1e-5) << x << y << z;
    EXPECT_FALSE(CastToningRay(turned, 200, 0).Hit);
  }
}

TEST(Toning, NeighbourhoodUsesOnlyPixelsInsideTheImage) {
  AppState s = MapState(10, 10, [](int x, int y) { return Pixel(100 + x + 10 * y, 0.5, 0.2); });
  for (auto& row : s.Detection.WeightKernel) row.fill(4);
  s.Circle = {1.5, 1.5, 5};
  ToningView view;
  view.RotationX = 90 * kPi / 180;
  RasterSurface left(40, 40, kToningBackground), right(40, 40, kToningBackground);
  EllipseColourMemory m, m2;
  // Screen offset x = 10: sphere point (0.09, 0, ...), image pixel (1, 1); its 3 x 3 corner of the 5 x 5 kernel.
  Тонирование(s, view, 30, 20, left, right, m);
  double sum = 0;
  for (int x = 1; x <= 3; ++x)
    for (int y = 1; y <= 3; ++y) sum += 4 * (100 + x + 10 * y) / 100.0;
  const int g = static_cast<int>(std::floor(sum));
  EXPECT_EQ(std::pair(left.pixel(30, 20), right.pixel(30, 20)), std::pair(Rgb(111, 111, 111), Rgb(g, g, g)));
  view.Ellipses = true;  // with the ellipses: the centre's colour and the colour of the weighted sums
  Тонирование(s, view, 30, 20, left, right, m);
  EXPECT_EQ(left.pixel(30, 20), StripFlag(ЦветДляЭллипса(0.5, 0.2, m2)));
  Тонирование(s, view, 10, 20, left, right, m);  // x = -10: column floor(1.05) = 1 -> inside
  Тонирование(s, view, 2, 20, left, right, m);   // x = -18: column floor(0.69) = 0 -> outside
  EXPECT_NE(left.pixel(10, 20), kToningBackground);
  EXPECT_EQ(std::pair(left.pixel(2, 20), right.pixel(2, 20)), std::pair(kToningBackground, kToningBackground));
}

// On the seam of a sphere's azimuth (the vertical through the centre) the change map and the smoothed
// toning use the unwrapped weighted sums, not the near-zero mean of +pi/2 and -pi/2; elsewhere the plain sums.
TEST(AzimuthSeam, ChangeMapAndToningUseTheUnwrappedSums) {
  AppState s = test::SeamSphereState(40, 40, 20.5, 30.5);
  s.Circle = {20.5, 20.5, 15};
  s.Detection.ShowMode = 1, s.Detection.AzimuthSensitivity = 10, s.ZoomFactor = 3;
  DisplayState ds;
  RasterSurface map;
  UvelicheniePolyarizacii(map, ds, s);
  ToningView view;
  view.RotationX = 90 * kPi / 180, view.Ellipses = true;
  for (const auto [u0, v0, dx, dz] : {std::tuple{20, 10, 0, 0}, {21, 10, 7, 74}, {26, 12, 44, 59}}) {  // dx, dz: toning
    double change = 0, smoothed = 0, ratio = 0;  // plain sums: the change map's, the toning's
    for (int i = 0; i < 5; ++i)
      for (int j = 0; j < 5; ++j) {
        const double w = s.Detection.WeightKernel[i][j], a = s.ResultMap.at(u0 + i - 2, v0 + j - 2, 4);
        change += (w - s.Detection.SubtractKernel[i][j]) * a / 100, smoothed += w * a / 100;
        ratio += w * s.ResultMap.at(u0 + i - 2, v0 + j - 2, 2) / 100;
      }
    const bool seam = u0 != 26;
    if (seam) change = test::UnwrappedSum(s.Detection, true, u0, v0, 20.5, 30.5);
    const int green = std::clamp(static_cast<int>(std::nearbyint(std::fabs(change) * 255 / (kPi / 2) * 10)), 0, 255);
    EXPECT_EQ((StripFlag(map.pixel(3 * u0 - 2, 3 * v0 - 2)) >> 8) & 0xFF, static_cast<Colour>(green)) << u0;
    EXPECT_TRUE(!seam || green < 60) << u0;  // the plain sums saturate here
    if (u0 == 20) continue;
    const SphereHit hit = CastToningRay(view, dx, dz);
    ASSERT_TRUE(hit.Hit && std::floor(15 * hit.X + 20.5) == u0 && std::floor(15 * hit.Y + 20.5) == v0) << u0;
    RasterSurface left(240, 240), right(240, 240);
    EllipseColourMemory m, m2;
    Тонирование(s, view, 120 + dx, 120 + dz, left, right, m);
    const double unwrapped = seam ? test::UnwrappedSum(s.Detection, false, u0, v0, 20.5, 30.5) : smoothed;
    EXPECT_TRUE(!seam || std::fabs(unwrapped - smoothed) > 1.0) << u0;  // the seam is really there
    EXPECT_EQ(right.pixel(120 + dx, 120 - dz), StripFlag(ЦветДляЭллипса(ratio, unwrapped, m2))) << u0;
  }
}

// The full-size window shows the map as it is, 18 x 40 larger outside, within the available area: a cut
// side gets a scroll bar, which may cut the other side.
TEST(FullSize, WindowFitsTheAvailableAreaWithScrollBars) {
  EXPECT_EQ(std::pair(FullSizeWindow(180, 90).Width, FullSizeWindow(180, 90).Height), std::pair(198, 130));
  RasterSurface map(7, 5, Rgb(1, 2, 3)), copy;
  map.fillRect(2, 1, 3, 4, Rgb(200, 0, 9));
  FullSizeCopy(map, copy);
  EXPECT_TRUE(test::SamePixels(map, copy));
  for (auto [w, h, W, H, bars] : {std::tuple{180, 90, 180, 90, 0},  // bars: 1 below, 2 beside; fits: the map as it is
                                  {1920, 1440, 1582, 960, 3},       // the sample at zoom 6
                                  {2000, 500, 1582, 516, 1},        // too wide: a bar below adds its height
                                  {600, 1200, 616, 960, 2},         // too high: a bar beside adds its width
                                  {1590, 950, 1582, 960, 3},        // the bar below makes it too high as well
                                  {1582, 960, 1582, 960, 0}}) {     // exactly the available area
    const FullSizeLayout l = FitFullSizeWindow(w, h, 1600, 1000, 16);
    EXPECT_EQ(std::tuple(l.Width, l.Height, l.HScroll + 2 * l.VScroll), std::tuple(W, H, bars)) << w << " x " << h;
  }
}

}  // namespace
}  // namespace ps
