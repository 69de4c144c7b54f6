#include <gtest/gtest.h>

#include <cmath>

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

TEST(RasterSurface, FillIncludesBothCornersAndClips) {
  RasterSurface s(10, 8, Rgb(1, 1, 1));
  s.fillRect(5, 6, 2, 3, Rgb(200, 100, 50) | kPaletteFlag);  // corners in any order
  EXPECT_EQ(s.pixel(2, 3), Rgb(200, 100, 50));
  EXPECT_EQ(s.pixel(5, 6), Rgb(200, 100, 50));
  EXPECT_EQ(s.pixel(6, 6), Rgb(1, 1, 1));
  EXPECT_EQ(s.pixel(5, 7), Rgb(1, 1, 1));
  EXPECT_EQ(s.pixel(1, 3), Rgb(1, 1, 1));
  s.fillRect(-100, -100, 100, 0, Rgb(9, 9, 9));  // clipped to the top row
  for (int x = 0; x < 10; ++x) EXPECT_EQ(s.pixel(x, 0), Rgb(9, 9, 9));
  EXPECT_EQ(s.pixel(0, 1), Rgb(1, 1, 1));
  // Stored bytes are R, G, B.
  EXPECT_EQ(s.data()[3 * s.width() * 3 + 2 * 3 + 0], 200);
  EXPECT_EQ(s.data()[3 * s.width() * 3 + 2 * 3 + 2], 50);
}

TEST(RasterSurface, LinesIncludeEndsAndCircleIsSymmetric) {
  RasterSurface s(40, 40, 0);
  const Colour c = Rgb(255, 0, 0);
  s.line(2, 3, 12, 8, c);
  EXPECT_EQ(s.pixel(2, 3), c);
  EXPECT_EQ(s.pixel(12, 8), c);
  s.line(-50, 20, 100, 20, c);  // clipped, no crash
  for (int x = 0; x < 40; ++x) EXPECT_EQ(s.pixel(x, 20), c);

  RasterSurface r(40, 40, 0);
  r.circle(20, 20, 10, c);
  EXPECT_EQ(r.pixel(30, 20), c);
  EXPECT_EQ(r.pixel(10, 20), c);
  EXPECT_EQ(r.pixel(20, 30), c);
  EXPECT_EQ(r.pixel(20, 10), c);
  EXPECT_EQ(r.pixel(20, 20), 0u);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) EXPECT_EQ(r.pixel(x, y), r.pixel(40 - x, y)) << x << "," << y;
  // Far outside and NaN positions draw nothing and do not crash.
  r.circle(1e12, 5, 3, c);
  r.point(std::nan(""), 3, c);
  r.line(0, 0, std::nan(""), 3, c);
}

TEST(RecordingSurface, RecordsCallsAndAnswersReadsFromFills) {
  RecordingSurface s(20, 20);
  s.setBackground(Rgb(7, 7, 7));
  s.fillRect(0, 0, 4, 4, Rgb(1, 2, 3) | kPaletteFlag);
  s.point(10.4, 10.6, Rgb(4, 5, 6));
  s.line(0, 0, 5, 5, Rgb(1, 1, 1));
  ASSERT_EQ(s.ops().size(), 3u);
  EXPECT_EQ(s.count(RecordingSurface::Kind::Line), 1u);
  EXPECT_EQ(s.pixel(4, 4), Rgb(1, 2, 3));
  EXPECT_EQ(s.pixel(10, 11), Rgb(4, 5, 6));
  EXPECT_EQ(s.pixel(15, 15), Rgb(7, 7, 7));
  s.clear();
  EXPECT_EQ(s.pixel(4, 4), Rgb(7, 7, 7));
}

}  // namespace
}  // namespace ps
