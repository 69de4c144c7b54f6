#include <gtest/gtest.h>

#include <cmath>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "polarization/sample_scene.h"
#include "support/test_support.h"

namespace ps {
namespace {

TEST(SampleScene, DiffusePolarizationGrowsTowardsTheRim) {
  EXPECT_NEAR(DiffuseDegreeOfPolarization(0, 1.5), 0, 1e-12);
  double last = 0;
  for (int deg = 10; deg <= 89; deg += 10) {
    const double p = DiffuseDegreeOfPolarization(deg * 3.141592653589793 / 180, 1.5);
    EXPECT_GT(p, last);
    last = p;
  }
  EXPECT_LT(last, 0.5);
}

// The bundled set, processed: the azimuth on the sphere points along the
// normal's image-plane direction (mod pi), the degree of polarization grows to
// the rim, and the background is nearly unpolarized.
TEST(SampleScene, BundledSetCarriesTheModelledPolarization) {
  AppState s;
  ASSERT_TRUE(LoadSet(s, test::SampleFiles()).ok);
  ЗаполнениеМассива(s);
  s.IntensityMode = kModeMean;
  const double cx = 166, cy = 118, r = 79;
  for (int a = 0; a < 360; a += 30) {
    const double t = a * 3.141592653589793 / 180;
    const int x = static_cast<int>(std::lround(cx + 0.85 * r * std::cos(t)));
    const int y = static_cast<int>(std::lround(cy - 0.85 * r * std::sin(t)));
    const PixelValues v = ОпределениеИнтенсивностей(static_cast<const AppState&>(s), x, y);
    double d = std::fmod(v.Azimuth - std::atan2(cy - y, x - cx) + 10 * 3.141592653589793, 3.141592653589793);
    d = std::min(d, 3.141592653589793 - d);
    EXPECT_LT(d, 0.15) << "angle " << a;
    EXPECT_LT(v.AxisRatio, 0.95);
  }
  const PixelValues centre = ОпределениеИнтенсивностей(static_cast<const AppState&>(s), 166, 118);
  EXPECT_GT(centre.AxisRatio, 0.97);
  EXPECT_GT(centre.A0, 120);
  const PixelValues corner = ОпределениеИнтенсивностей(static_cast<const AppState&>(s), 5, 5);
  EXPECT_LT(corner.A0, 70);
}

}  // namespace
}  // namespace ps
