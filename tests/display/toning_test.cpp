#include <gtest/gtest.h>

#include <cmath>

#include "display/display_fixtures.h"
#include "display/map_view.h"
#include "display/toning.h"

namespace ps {
namespace {

using test::MapState;
using test::Pixel;

// A large flat sphere image: every toned point maps inside it.
AppState SphereState() {
  AppState s = MapState(240, 240, [](int, int) { return Pixel(100, 0.2, 0.4); });
  s.Circle = {120, 120, 100};
  s.Detection.WeightKernel[2][2] = 100;
  return s;
}

// Screen offsets of a picture pixel from the picture centre (x right, z up).
struct Offsets {
  double x, z;
};
Offsets OffsetsOf(int sx, int sy, int w, int h) { return {sx - w / 2.0, (h - sy) - h / 2.0}; }

TEST(Toning, NoRotationPaintsOnlyTheUpperHalfOfTheDisc) {
  const AppState s = SphereState();
  ToningView view;
  view.RotationX = 0;
  RasterSurface left(297, 244), right(297, 244);
  ASSERT_TRUE(ToningSweep(s, view, left, right));
  const double R = 1 / view.ToningScale;
  int painted = 0;
  for (int sy = 0; sy < 244; ++sy)
    for (int sx = 0; sx < 297; ++sx) {
      const Offsets o = OffsetsOf(sx, sy, 297, 244);
      const double r = std::hypot(o.x, o.z);
      const bool isPainted = left.pixel(sx, sy) != kToningBackground;
      painted += isPainted;
      if (isPainted) {
        EXPECT_GE(o.z, 0) << sx << "," << sy;
        EXPECT_LE(r, R + 1e-9) << sx << "," << sy;
        EXPECT_EQ(left.pixel(sx, sy), Rgb(100, 100, 100));
        EXPECT_EQ(right.pixel(sx, sy), Rgb(100, 100, 100));
      } else if (o.z >= 0 && r < R - 0.5) {
        ADD_FAILURE() << "unpainted inside the upper half at " << sx << "," << sy;
      }
    }
  EXPECT_GT(painted, 18000);  // about half of a disc of radius 111
}

TEST(Toning, TiltOf45DegreesPaintsTheTiltedVisibleCap) {
  const AppState s = SphereState();
  const ToningView view;  // RotationX = 45 degrees
  RasterSurface left(297, 244), right(297, 244);
  ToningSweep(s, view, left, right);
  const double k = view.ToningScale, a = view.RotationX;
  int mismatches = 0, painted = 0;
  for (int sy = 0; sy < 244; ++sy)
    for (int sx = 0; sx < 297; ++sx) {
      const Offsets o = OffsetsOf(sx, sy, 297, 244);
      const double r2 = (o.x * k) * (o.x * k) + (o.z * k) * (o.z * k);
      const bool isPainted = left.pixel(sx, sy) != kToningBackground;
      painted += isPainted;
      bool expected = false;
      double margin = 1;
      if (r2 <= 1) {
        // The point facing the viewer, turned into the sphere's frame: z = s sin a + z cos a.
        const double zs = std::sqrt(1 - r2) * std::sin(a) + o.z * k * std::cos(a);
        expected = zs >= 0;
        margin = std::min(std::fabs(zs), 1 - r2);
      }
      if (isPainted != expected && margin > 1e-6) ++mismatches;
    }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(painted, 25000);  // more than the half disc: the tilt shows the top of the sphere
}

TEST(Toning, LookingAlongTheCameraAxisPaintsTheWholeDiscWithTheCentreMarked) {
  const AppState s = SphereState();
  ToningView view;
  view.RotationX = 90 * kPi / 180;  // rays (almost) without extent along y
  RasterSurface left(200, 200), right(200, 200);
  ToningSweep(s, view, left, right);
  const double R = 1 / view.ToningScale;
  int wrong = 0;
  for (int sy = 0; sy < 200; ++sy)
    for (int sx = 0; sx < 200; ++sx) {
      const Offsets o = OffsetsOf(sx, sy, 200, 200);
      const double r = std::hypot(o.x, o.z);
      if (std::fabs(r - R) < 0.5) continue;
      wrong += (left.pixel(sx, sy) != kToningBackground) != (r < R);
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(left.pixel(100, 100), Rgb(0, 200, 0));  // the point (0, 0, 1) faces the camera
  EXPECT_EQ(right.pixel(100, 100), Rgb(0, 200, 0));
  EXPECT_EQ(left.pixel(101, 100), Rgb(100, 100, 100));

  // Exactly level rays: the same picture.
  ToningView exact = view;
  exact.RotationX = std::acos(0.0);
  RasterSurface l2(200, 200), r2(200, 200);
  ToningSweep(s, exact, l2, r2);
  EXPECT_TRUE(std::equal(left.data(), left.data() + left.stride() * 200, l2.data()));

  // Rotation about z by 90 degrees with the other two 0: the ray runs along x.
  ToningView side;
  side.RotationX = 0;
  side.RotationZ = 90 * kPi / 180;
  const SphereHit hit = CastToningRay(side, 10, 20);
  EXPECT_TRUE(hit.Hit);
  EXPECT_NEAR(hit.X * hit.X + hit.Y * hit.Y + hit.Z * hit.Z, 1, 1e-12);
  EXPECT_FALSE(CastToningRay(side, 200, 0).Hit);
}

TEST(Toning, NeighbourhoodUsesOnlyPixelsInsideTheImage) {
  AppState s = MapState(10, 10, [](int x, int y) { return Pixel(100 + x + 10 * y, 0.5, 0.2); });
  for (auto& row : s.Detection.WeightKernel) row.fill(4);
  s.Circle = {1.5, 1.5, 5};
  ToningView view;
  view.RotationX = 90 * kPi / 180;
  RasterSurface left(40, 40), right(40, 40);
  EllipseColourMemory m;
  // Screen offset x = 10: sphere point (0.09, 0, ...), image pixel (1, 1).
  Тонирование(s, view, 30, 20, left, right, m);
  EXPECT_EQ(left.pixel(30, 20), Rgb(111, 111, 111));
  double sum = 0;
  for (int x = 1; x <= 3; ++x)
    for (int y = 1; y <= 3; ++y) sum += 4 * (100 + x + 10 * y) / 100.0;
  const int g = static_cast<int>(std::floor(sum));
  EXPECT_EQ(right.pixel(30, 20), Rgb(g, g, g));

  // With the ellipses: the centre's colour and the colour of the weighted sums.
  view.Ellipses = true;
  Тонирование(s, view, 30, 20, left, right, m);
  EllipseColourMemory m2;
  EXPECT_EQ(left.pixel(30, 20), StripFlag(ЦветДляЭллипса(0.5, 0.2, m2)));
  EXPECT_EQ(right.pixel(30, 20), StripFlag(ЦветДляЭллипса(9 * 4 * 0.5 / 100, 9 * 4 * 0.2 / 100, m2)));

  // A point whose image pixel lies outside the set is skipped.
  RasterSurface l2(40, 40, kToningBackground), r2(40, 40, kToningBackground);
  Тонирование(s, view, 10, 20, l2, r2, m);  // x = -10: column floor(1.05) = 1 -> inside
  Тонирование(s, view, 2, 20, l2, r2, m);   // x = -18: column floor(0.69) = 0 -> outside
  EXPECT_NE(l2.pixel(10, 20), kToningBackground);
  EXPECT_EQ(l2.pixel(2, 20), kToningBackground);
  EXPECT_EQ(r2.pixel(2, 20), kToningBackground);
}

TEST(FullSize, WindowIsTheMapPlusBorderAndCaption) {
  const WindowSize w = FullSizeWindow(180, 90);
  EXPECT_EQ(w.Width, 198);
  EXPECT_EQ(w.Height, 130);
  AppState s = MapState(6, 5, [](int x, int y) { return Pixel(20 * x + y, 0.3, 0.1 * x); });
  DisplayState ds;
  ds.Ellipses = true;
  ds.Grid = true;
  RasterSurface map, copy;
  UvelicheniePolyarizacii(map, ds, s);
  FullSizeCopy(map, copy);
  ASSERT_EQ(copy.width(), map.width());
  ASSERT_EQ(copy.height(), map.height());
  EXPECT_TRUE(std::equal(map.data(), map.data() + map.stride() * map.height(), copy.data()));
}

}  // namespace
}  // namespace ps
