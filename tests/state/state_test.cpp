#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "state/app_state.h"
#include "state/atomic_file.h"
#include "state/number_format.h"
#include "support/test_support.h"

namespace ps {
namespace {

TEST(ImageBuffer, RejectsEveryIndexOutsideItsBounds) {
  ImageBuffer b(3, 2);
  b.set(3, 2, 2, 4, 7);
  EXPECT_TRUE(b.at(3, 2, 2, 4) == 7 && b.at(1, 1, 0, 1) == 0);
  for (const auto [x, y, channel, slot] : {std::array{0, 1, 0, 1}, {4, 1, 0, 1}, {1, 3, 0, 1}, {1, 1, 3, 1},
                                           {1, 1, -1, 1}, {1, 1, 0, 0}, {1, 1, 0, 5}})
    EXPECT_THROW(b.at(x, y, channel, slot), std::out_of_range) << x << y << channel << slot;
  for (const int width : {0, 100000}) EXPECT_THROW(ImageBuffer(width, width ? width : 5), std::length_error);
}

TEST(ResultLayers, UnusedLayersTakeNoMemoryAndContourLayersAppearOnFirstWrite) {
  ResultLayers m(4, 3);
  for (int l : {6, 12, 18}) {
    EXPECT_TRUE(!m.hasStorage(l) && m.layer(l) == nullptr && m.at(2, 2, l) == 0.0);
    EXPECT_THROW(m.set(1, 1, l, 1.0), std::invalid_argument);
  }
  EXPECT_EQ(m.at(4, 3, 20), 0.0);
  m.set(4, 3, 20, -2.5);
  EXPECT_TRUE(m.hasStorage(20) && !m.hasStorage(19));
  EXPECT_EQ(m.layer(20)[2 * 4 + 3], -2.5);  // row-major, row y = 1 first
  ResultLayers copy = m;
  copy.set(1, 1, 1, 9);
  EXPECT_TRUE(m.at(1, 1, 1) == 0.0 && copy.at(4, 3, 20) == -2.5);
  m.clearContourLayers();
  EXPECT_FALSE(m.hasStorage(20));
  for (const auto [x, y, l] : {std::array{5, 1, 1}, {1, 0, 1}, {1, 1, 22}, {1, 1, 0}})
    EXPECT_THROW(m.at(x, y, l), std::out_of_range);
}

TEST(AppState, ZoomIsLoweredUntilTheSetFits2000Pixels) {
  const struct { int width, height, zoom; } cases[] = {
      {500, 300, 4}, {2500, 10, 1}, {200, 100, 9}, {640, 480, 3},
      {222, 1, 9},  // 9 x 222 = 1998
      {223, 1, 8},  // 9 x 223 = 2007
      {1, 667, 2},  // 3 x 667 = 2001
  };
  for (const auto& c : cases) EXPECT_EQ(FitZoom(9, c.width, c.height), c.zoom) << c.width << " x " << c.height;
}

TEST(AppState, NewSetResetsTheLoadingFlags) {
  AppState s;
  s.CurrentSlot = 3, s.SetStarted = 2, s.ZoomFactor = 2, s.SlotLoaded = {true, true, false, true}, s.SubtractNext = {true};
  s.startNewSet();
  EXPECT_TRUE(s.CurrentSlot == 0 && s.SetStarted == 0 && s.ZoomFactor == 9 && s.IntensityMode == kModeMean);
  EXPECT_TRUE(s.SlotLoaded == decltype(s.SlotLoaded){} && s.SubtractNext == decltype(s.SubtractNext){});
}

TEST(NumberFormat, PatternsWithTheUsersSeparator) {
  const struct { double value; const char *pattern, *separator, *text; } cases[] = {
      {0.25, "0.000", ",", "0,250"},         {0.25, "0.000", ".", "0.250"},
      {1234.5678, "###0.000", ",", "1234,568"}, {0.5, "###0.000", ",", "0,500"},
      {-3.14159, "0.00", ",", "-3,14"},      {2.5, "0", ",", "3"},  // halves away from zero
      {0.125, "0.00", ".", "0.13"},          {9.9996, "0.000", ".", "10.000"},
      {-0.0001, "0.000", ".", "0.000"},      {1.5, "#.##", ".", "1.5"},
      {0, "0.0", ".", "0.0"},                {123456789.0, "0", ".", "123456789"},
      {1e-7, "0.000", ".", "0.000"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatNumber(c.value, c.pattern, c.separator), c.text) << c.value;
}

TEST(NumberFormat, ParsingAcceptsTheSeparatorAndRejectsJunk) {
  EXPECT_TRUE(ParseNumber("0,25", ",") == 0.25 && ParseNumber(" 12.5 ", ",") == 12.5 && ParseNumber("-3", ".") == -3.0);
  for (const char* junk : {"", "abc", "1,2,3", "1x"}) EXPECT_FALSE(ParseNumber(junk, ",")) << junk;
}

TEST(AtomicFile, AFailedRenameIsReportedAndLeavesNoTemporaryFile) {
  namespace fs = std::filesystem;
  const std::string dir = test::TempDir("rename");
  const std::string target = dir + "/out.txt";
  AtomicFile f;
  ASSERT_TRUE(f.open(target, nullptr));
  ASSERT_TRUE(f.write("data"));
  fs::create_directory(target);  // a folder takes the target's place while the file is written
  std::string error;
  EXPECT_FALSE(f.commit(&error));
  EXPECT_NE(error.find("Не удаётся записать файл " + target), std::string::npos) << error;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);  // only the folder: no temporary file
  EXPECT_EQ(LiveTemporaryFileCount(), 0);
}

}  // namespace
}  // namespace ps
