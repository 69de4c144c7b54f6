// Splitting a polarization-camera mosaic into the four sub-images of a set.
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "imageio/demosaic.h"

namespace ps {
namespace {

TEST(MosaicPatternTest, ParsesPermutationsAndRejectsEverythingElse) {
  MosaicPattern p;
  std::string error;
  EXPECT_EQ(FormatMosaicPattern(p), "90,45,135,0");  // default: Sony layout
  ASSERT_TRUE(ParseMosaicPattern("0,45,135,90", &p, &error)) << error;
  EXPECT_EQ(p.azimuth, (std::array<int, 4>{0, 45, 135, 90}));
  ASSERT_TRUE(ParseMosaicPattern(" 135, 0 ,90,45 ", &p, &error)) << error;
  EXPECT_EQ(p.azimuth, (std::array<int, 4>{135, 0, 90, 45}));

  const MosaicPattern before = p;
  for (const char* bad : {"", "0,45,90", "0,45,90,135,0", "0,0,90,135", "0,45,90,30", "0,45,90,-135",
                          "0,45,90,135,", ",0,45,90", "0;45;90;135", "0,45,90,x", "0,45,90,1350", "0,45,90,0135"}) {
    error.clear();
    EXPECT_FALSE(ParseMosaicPattern(bad, &p, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
    EXPECT_EQ(p, before) << "a refused pattern must leave the output alone: " << bad;
  }
}

// Each sub-image takes one pixel per 2 x 2 block from its pattern position. The
// 7 x 5 frame is stored with 3 bytes of row padding (0xEE): the last column and
// row belong to no complete block, and the padding must never be read.
TEST(SplitMosaicTest, EachSubImageTakesOnePixelPerBlockFromItsPosition) {
  const int w = 7, h = 5;
  const size_t stride = 10;
  std::vector<uint8_t> frame(stride * h, 0xEE);
  for (int y = 0; y < h; ++y)  // 100 + 10 * block position + block column + 3 * block row
    for (int x = 0; x < w; ++x) frame[y * stride + x] = uint8_t(100 + 10 * ((y % 2) * 2 + x % 2) + x / 2 + 3 * (y / 2));
  for (const char* text : {"90,45,135,0", "0,45,135,90", "45,135,0,90"}) {
    MosaicPattern pattern;
    ASSERT_TRUE(ParseMosaicPattern(text, &pattern, nullptr));
    const PolarizationSet set = SplitMosaic(frame.data(), w, h, stride, pattern);
    for (int slot = 1; slot <= 4; ++slot) {
      const GreyImage& img = set[slot - 1];
      ASSERT_EQ(std::make_tuple(img.width, img.height, img.pixels.size()), std::make_tuple(3, 2, size_t{6}));
      const int position = pattern.positionOfSlot(slot);
      EXPECT_EQ(pattern.azimuth[position], 45 * (slot - 1)) << text;
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
          EXPECT_EQ(img.at(x, y), 100 + 10 * position + x + 3 * y) << text << " slot " << slot;
    }
  }
}

TEST(SplitMosaicTest, RefusesFramesWithoutACompleteBlockAndBadGreyImages) {
  const uint8_t frame[8] = {};
  EXPECT_THROW(SplitMosaic(frame, 1, 8, 1, MosaicPattern{}), std::invalid_argument);
  EXPECT_THROW(SplitMosaic(frame, 8, 1, 8, MosaicPattern{}), std::invalid_argument);
  EXPECT_THROW(SplitMosaic(frame, 4, 2, 3, MosaicPattern{}), std::invalid_argument);  // stride < width
  EXPECT_THROW(SplitMosaic(nullptr, 2, 2, 2, MosaicPattern{}), std::invalid_argument);
  // The written files are read back through the BMP reader in the command's tests.
  EXPECT_THROW(EncodeGreyBmp(GreyImage{2, 1, {7, 250}}, 16), std::invalid_argument);
  EXPECT_THROW(EncodeGreyBmp(GreyImage{2, 2, {1, 2, 3}}, 8), std::invalid_argument);
  EXPECT_THROW(EncodeGreyBmp(GreyImage{}, 24), std::invalid_argument);
}

}  // namespace
}  // namespace ps
