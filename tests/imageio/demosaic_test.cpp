// Splitting a polarization-camera mosaic into the four sub-images of a set.
#include <gtest/gtest.h>

#include <stdexcept>

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

TEST(MosaicPatternTest, PositionOfSlotFollowsThePattern) {
  const MosaicPattern sony;  // (0,0)=90 (0,1)=45 (1,0)=135 (1,1)=0
  EXPECT_EQ(sony.positionOfSlot(1), 3);
  EXPECT_EQ(sony.positionOfSlot(2), 1);
  EXPECT_EQ(sony.positionOfSlot(3), 0);
  EXPECT_EQ(sony.positionOfSlot(4), 2);
  EXPECT_THROW(sony.positionOfSlot(0), std::out_of_range);
  EXPECT_THROW(sony.positionOfSlot(5), std::out_of_range);
  EXPECT_EQ(SubImageFileName(1), "0.bmp");
  EXPECT_EQ(SubImageFileName(4), "135.bmp");
}

// A frame whose every pixel tells where it came from: 100 + 10 * block position
// (row-major within the 2 x 2 block) + block column + block row * 3 (small, < 10
// for the sizes used here).
std::vector<uint8_t> MarkedFrame(int width, int height, size_t stride) {
  std::vector<uint8_t> f(stride * height, 0xEE);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      f[static_cast<size_t>(y) * stride + x] =
          static_cast<uint8_t>(100 + 10 * ((y % 2) * 2 + x % 2) + (x / 2) + 3 * (y / 2));
  return f;
}

TEST(SplitMosaicTest, EachSubImageTakesOnePixelPerBlockFromItsPosition) {
  const int w = 6, h = 4;
  const auto frame = MarkedFrame(w, h, w);
  for (const char* text : {"90,45,135,0", "0,45,135,90", "45,135,0,90"}) {
    MosaicPattern pattern;
    ASSERT_TRUE(ParseMosaicPattern(text, &pattern, nullptr));
    const PolarizationSet set = SplitMosaic(frame.data(), w, h, w, pattern);
    for (int slot = 1; slot <= 4; ++slot) {
      const GreyImage& img = set[slot - 1];
      ASSERT_EQ(img.width, 3);
      ASSERT_EQ(img.height, 2);
      ASSERT_EQ(img.pixels.size(), 6u);
      const int position = pattern.positionOfSlot(slot);
      EXPECT_EQ(pattern.azimuth[position], 45 * (slot - 1)) << text;
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
          EXPECT_EQ(img.at(x, y), 100 + 10 * position + x + 3 * y) << text << " slot " << slot;
    }
  }
}

TEST(SplitMosaicTest, DefaultPatternOnAKnownBlock) {
  // One block: (0,0)=90 deg pixel 11, (0,1)=45 deg 22, (1,0)=135 deg 33, (1,1)=0 deg 44.
  const uint8_t frame[4] = {11, 22, 33, 44};
  const PolarizationSet set = SplitMosaic(frame, 2, 2, 2, MosaicPattern{});
  EXPECT_EQ(set[0].pixels, std::vector<uint8_t>{44});  // 0 deg
  EXPECT_EQ(set[1].pixels, std::vector<uint8_t>{22});  // 45 deg
  EXPECT_EQ(set[2].pixels, std::vector<uint8_t>{11});  // 90 deg
  EXPECT_EQ(set[3].pixels, std::vector<uint8_t>{33});  // 135 deg
}

TEST(SplitMosaicTest, OddEdgesAreDroppedAndStrideIsHonoured) {
  // 7 x 5 frame stored with 3 bytes of row padding: the last column and row
  // belong to no complete block and the padding (0xEE) must never be read.
  const int w = 7, h = 5;
  const size_t stride = 10;
  const auto frame = MarkedFrame(w, h, stride);
  const PolarizationSet set = SplitMosaic(frame.data(), w, h, stride, MosaicPattern{});
  for (int slot = 1; slot <= 4; ++slot) {
    const GreyImage& img = set[slot - 1];
    ASSERT_EQ(img.width, 3);
    ASSERT_EQ(img.height, 2);
    for (uint8_t v : img.pixels) EXPECT_LT(v, 0xEE);
    EXPECT_EQ(img.at(2, 1), 100 + 10 * MosaicPattern{}.positionOfSlot(slot) + 2 + 3);
  }
}

TEST(SplitMosaicTest, RefusesFramesWithoutACompleteBlock) {
  const uint8_t frame[8] = {};
  EXPECT_THROW(SplitMosaic(frame, 1, 8, 1, MosaicPattern{}), std::invalid_argument);
  EXPECT_THROW(SplitMosaic(frame, 8, 1, 8, MosaicPattern{}), std::invalid_argument);
  EXPECT_THROW(SplitMosaic(frame, 4, 2, 3, MosaicPattern{}), std::invalid_argument);  // stride < width
  EXPECT_THROW(SplitMosaic(nullptr, 2, 2, 2, MosaicPattern{}), std::invalid_argument);
}

// The files' bytes are checked through the BMP reader in the command's tests;
// here only the refusals.
TEST(EncodeGreyBmpTest, RefusesOtherDepthsAndInconsistentImages) {
  EXPECT_THROW(EncodeGreyBmp(GreyImage{2, 1, {7, 250}}, 16), std::invalid_argument);
  EXPECT_THROW(EncodeGreyBmp(GreyImage{2, 2, {1, 2, 3}}, 8), std::invalid_argument);
  EXPECT_THROW(EncodeGreyBmp(GreyImage{}, 24), std::invalid_argument);
}

}  // namespace
}  // namespace ps
