#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "display/surface.h"

namespace ps {
namespace {

TEST(Colour, ComponentsAreClampedAndPackedRedFirst) {
  EXPECT_EQ(Rgb(1, 2, 3), 1u + 256u * 2 + 65536u * 3);
  EXPECT_EQ(Rgb(300, 256, 1000), Rgb(255, 255, 255));
  EXPECT_EQ(Rgb(-5, 0, 0), 0u);
  const Colour c = Rgb(10, 20, 30) | kPaletteFlag;
  EXPECT_EQ(RedOf(c), 10);
  EXPECT_EQ(GreenOf(c), 20);
  EXPECT_EQ(BlueOf(c), 30);
}

// Exact lines, circles and fills are pinned by the golden map; these are the
// corner rules and the clipping a picture inside its window relies on.
TEST(RasterSurface, FillIncludesBothCornersLinesTheirEndsAndEverythingClips) {
  RasterSurface s(10, 8, Rgb(1, 1, 1));
  s.fillRect(5, 6, 2, 3, Rgb(200, 100, 50) | kPaletteFlag);  // corners in any order
  for (auto [x, y, inside] : {std::tuple{2, 3, true}, {5, 6, true}, {6, 6, false}, {5, 7, false}, {1, 3, false}})
    EXPECT_EQ(s.pixel(x, y), inside ? Rgb(200, 100, 50) : Rgb(1, 1, 1)) << x << "," << y;
  s.fillRect(-100, -100, 100, 0, Rgb(9, 9, 9));  // clipped to the top row
  for (int x = 0; x < 10; ++x) EXPECT_EQ(s.pixel(x, 0), Rgb(9, 9, 9));
  EXPECT_EQ(s.pixel(0, 1), Rgb(1, 1, 1));

  const Colour c = Rgb(255, 0, 0);
  s.line(2, 3, 8, 6, c);
  EXPECT_EQ(s.pixel(2, 3), c);
  EXPECT_EQ(s.pixel(8, 6), c);
  s.line(-50, 7, 100, 7, c);  // clipped, no crash
  for (int x = 0; x < 10; ++x) EXPECT_EQ(s.pixel(x, 7), c);
  // Far outside and NaN positions draw nothing and do not crash.
  s.circle(1e12, 5, 3, c);
  s.point(std::nan(""), 3, c);
  s.line(0, 0, std::nan(""), 3, c);
}

}  // namespace
}  // namespace ps
