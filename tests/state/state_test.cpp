#include <gtest/gtest.h>

#include <stdexcept>

#include "state/app_state.h"
#include "state/number_format.h"

namespace ps {
namespace {

TEST(ImageBuffer, RejectsEveryIndexOutsideItsBounds) {
  ImageBuffer b(3, 2);
  b.set(3, 2, 2, 4, 7);
  EXPECT_EQ(b.at(3, 2, 2, 4), 7);
  EXPECT_EQ(b.at(1, 1, 0, 1), 0);
  EXPECT_THROW(b.at(0, 1, 0, 1), std::out_of_range);
  EXPECT_THROW(b.at(4, 1, 0, 1), std::out_of_range);
  EXPECT_THROW(b.at(1, 3, 0, 1), std::out_of_range);
  EXPECT_THROW(b.at(1, 1, 3, 1), std::out_of_range);
  EXPECT_THROW(b.at(1, 1, -1, 1), std::out_of_range);
  EXPECT_THROW(b.at(1, 1, 0, 0), std::out_of_range);
  EXPECT_THROW(b.set(1, 1, 0, 5, 1), std::out_of_range);
  EXPECT_THROW(ImageBuffer(0, 5), std::length_error);
  EXPECT_THROW(ImageBuffer(100000, 100000), std::length_error);
}

TEST(ResultLayers, UnusedLayersTakeNoMemoryAndContourLayersAppearOnFirstWrite) {
  ResultLayers m(4, 3);
  for (int l : {6, 12, 18}) {
    EXPECT_FALSE(m.hasStorage(l));
    EXPECT_EQ(m.at(2, 2, l), 0.0);
    EXPECT_EQ(m.layer(l), nullptr);
    EXPECT_THROW(m.set(1, 1, l, 1.0), std::invalid_argument);
  }
  for (int l = 19; l <= 21; ++l) EXPECT_FALSE(m.hasStorage(l));
  EXPECT_EQ(m.at(4, 3, 20), 0.0);
  m.set(4, 3, 20, -2.5);
  EXPECT_TRUE(m.hasStorage(20));
  EXPECT_FALSE(m.hasStorage(19));
  EXPECT_EQ(m.at(4, 3, 20), -2.5);
  EXPECT_EQ(m.layer(20)[2 * 4 + 3], -2.5);  // row-major, row y = 1 first

  ResultLayers copy = m;
  copy.set(1, 1, 1, 9);
  EXPECT_EQ(m.at(1, 1, 1), 0.0);
  EXPECT_EQ(copy.at(4, 3, 20), -2.5);

  m.clearContourLayers();
  EXPECT_FALSE(m.hasStorage(20));
  EXPECT_THROW(m.at(5, 1, 1), std::out_of_range);
  EXPECT_THROW(m.at(1, 0, 1), std::out_of_range);
  EXPECT_THROW(m.at(1, 1, 22), std::out_of_range);
  EXPECT_THROW(m.at(1, 1, 0), std::out_of_range);
}

TEST(AppState, ZoomIsLoweredUntilTheSetFits2000Pixels) {
  EXPECT_EQ(FitZoom(9, 500, 300), 4);
  EXPECT_EQ(FitZoom(9, 2500, 10), 1);
  EXPECT_EQ(FitZoom(9, 200, 100), 9);
  EXPECT_EQ(FitZoom(9, 640, 480), 3);
  EXPECT_EQ(FitZoom(9, 222, 1), 9);  // 9 x 222 = 1998
  EXPECT_EQ(FitZoom(9, 223, 1), 8);  // 9 x 223 = 2007
}

TEST(AppState, NewSetResetsTheLoadingFlags) {
  AppState s;
  s.CurrentSlot = 3;
  s.SetStarted = 2;
  s.ZoomFactor = 2;
  s.SlotLoaded = {true, true, false, true};
  s.SubtractNext = {true, false, true, false};
  s.startNewSet();
  EXPECT_EQ(s.CurrentSlot, 0);
  EXPECT_EQ(s.SetStarted, 0);
  EXPECT_EQ(s.ZoomFactor, 9);
  for (int k = 0; k < 4; ++k) {
    EXPECT_FALSE(s.SlotLoaded[k]);
    EXPECT_FALSE(s.SubtractNext[k]);
  }
  EXPECT_EQ(s.IntensityMode, kModeMean);
}

TEST(NumberFormat, PatternsWithTheUsersSeparator) {
  EXPECT_EQ(FormatNumber(0.25, "0.000", ","), "0,250");
  EXPECT_EQ(FormatNumber(0.25, "0.000", "."), "0.250");
  EXPECT_EQ(FormatNumber(1234.5678, "###0.000", ","), "1234,568");
  EXPECT_EQ(FormatNumber(0.5, "###0.000", ","), "0,500");
  EXPECT_EQ(FormatNumber(-3.14159, "0.00", ","), "-3,14");
  EXPECT_EQ(FormatNumber(2.5, "0", ","), "3");   // halves away from zero
  EXPECT_EQ(FormatNumber(0.125, "0.00", "."), "0.13");
  EXPECT_EQ(FormatNumber(9.9996, "0.000", "."), "10.000");
  EXPECT_EQ(FormatNumber(-0.0001, "0.000", "."), "0.000");
  EXPECT_EQ(FormatNumber(1.5, "#.##", "."), "1.5");
  EXPECT_EQ(FormatNumber(0, "0.0", "."), "0.0");
  EXPECT_EQ(FormatNumber(123456789.0, "0", "."), "123456789");
  EXPECT_EQ(FormatNumber(1e-7, "0.000", "."), "0.000");
}

TEST(NumberFormat, ParsingAcceptsTheSeparatorAndRejectsJunk) {
  EXPECT_EQ(ParseNumber("0,25", ","), 0.25);
  EXPECT_EQ(ParseNumber(" 12.5 ", ","), 12.5);
  EXPECT_EQ(ParseNumber("-3", "."), -3.0);
  EXPECT_FALSE(ParseNumber("", ","));
  EXPECT_FALSE(ParseNumber("abc", ","));
  EXPECT_FALSE(ParseNumber("1,2,3", ","));
  EXPECT_FALSE(ParseNumber("1x", "."));
}

}  // namespace
}  // namespace ps
