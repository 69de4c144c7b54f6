// The demosaic command on synthetic frames in the formats a camera tool saves
// (PNG, TIFF, BMP), its refusals, and the files it writes going through the
// same BMP reader as any photograph of a set.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#include "imageio/bmp.h"
#include "imageio/demosaic.h"
#include "support/test_support.h"

#ifdef PS_HAVE_QTGUI
#include <QImage>
#include <QImageWriter>
#endif

namespace ps {
namespace {

struct RunResult {
  int code = -1;
  std::string out;
};

// Runs polarsphere-cli with `args` (already quoted where needed), capturing stdout.
RunResult RunCli(const std::string& args) {
  RunResult r;
  const std::string cmd = std::string("'") + PS_CLI_PATH + "' " + args + " 2>/dev/null";
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  const int status = pclose(pipe);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

std::vector<std::string> SetPaths(const std::string& dir) {
  return {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"};
}

#ifdef PS_HAVE_QTGUI

// Grey level of frame pixel (x, y): distinct per block position and varying
// across the frame, so a wrong offset, order or flip shows.
int FrameValue(int x, int y) { return (40 * ((y % 2) * 2 + x % 2) + 3 * (x / 2) + 7 * (y / 2)) % 256; }

QImage GreyFrame(int w, int h) {
  QImage img(w, h, QImage::Format_Grayscale8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.scanLine(y)[x] = static_cast<uchar>(FrameValue(x, y));
  return img;
}

// Checks that slot k of `state` holds the frame pixels of block position
// `position` for every sub-image pixel.
void ExpectSlotFromPosition(const AppState& state, int slot, int position, bool eightBit) {
  const int dy = position / 2, dx = position % 2;
  for (int y = 1; y <= state.SetHeight; ++y)
    for (int x = 1; x <= state.SetWidth; ++x) {
      const int want = FrameValue(2 * (x - 1) + dx, 2 * (y - 1) + dy);
      ASSERT_EQ(state.ImageStore.at(x, y, 0, slot), want) << "slot " << slot << " at " << x << "," << y;
      if (!eightBit) ASSERT_EQ(state.ImageStore.at(x, y, 2, slot), want);
    }
}

TEST(DemosaicCommandTest, PngTiffAndBmpFramesGiveTheSameSetThroughTheBmpReader) {
  const std::string dir = test::TempDir("demosaic-formats");
  const QImage frame = GreyFrame(22, 14);
  ASSERT_TRUE(frame.save(QString::fromStdString(dir + "/frame.png")));
  ASSERT_TRUE(frame.save(QString::fromStdString(dir + "/frame.bmp")));  // 8-bit indexed grey
  const bool haveTiff = QImageWriter::supportedImageFormats().contains("tiff");
  if (haveTiff) ASSERT_TRUE(frame.save(QString::fromStdString(dir + "/frame.tif")));

  std::vector<std::string> frames = {"frame.png", "frame.bmp"};
  if (haveTiff) frames.push_back("frame.tif");
  else ADD_FAILURE() << "Qt has no TIFF plugin (install qt6-image-formats-plugins)";

  for (const std::string& f : frames) {
    const std::string out = dir + "/out-" + f;
    const RunResult r = RunCli("demosaic " + Q(dir + "/" + f) + " --out " + Q(out));
    ASSERT_EQ(r.code, 0) << f << ": " << r.out;

    AppState state;
    state.startNewSet();
    const SetLoadOutcome loaded = LoadSet(state, SetPaths(out));
    ASSERT_TRUE(loaded.ok) << f;
    EXPECT_EQ(state.SetWidth, 11);
    EXPECT_EQ(state.SetHeight, 7);
    EXPECT_EQ(state.Header.BitsPerPixel, 8);
    const MosaicPattern sony;
    for (int slot = 1; slot <= 4; ++slot) ExpectSlotFromPosition(state, slot, sony.positionOfSlot(slot), true);
    // One palette serves the whole set: it must be the grey ramp, index = level.
    for (int i = 0; i < 256; ++i)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(state.PaletteTable[i][c], static_cast<float>(i));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(state.ColouredPixelCount[k], 0);
  }
}

TEST(DemosaicCommandTest, PatternBitsAndJsonOutput) {
  const std::string dir = test::TempDir("demosaic-options");
  ASSERT_TRUE(GreyFrame(9, 7).save(QString::fromStdString(dir + "/odd.png")));  // odd: last row/column dropped
  const std::string out = dir + "/set";
  const RunResult r =
      RunCli("demosaic " + Q(dir + "/odd.png") + " --out " + Q(out) + " --pattern 0,45,135,90 --bits 24 --json");
  ASSERT_EQ(r.code, 0) << r.out;
  for (const char* key : {"\"ok\": true", "\"frame_width\": 9", "\"frame_height\": 7", "\"width\": 4",
                          "\"height\": 3", "\"bits\": 24", "\"pattern\": \"0,45,135,90\"", "\"135\": "})
    EXPECT_NE(r.out.find(key), std::string::npos) << key << " missing in " << r.out;

  AppState state;
  state.startNewSet();
  ASSERT_TRUE(LoadSet(state, SetPaths(out)).ok);
  EXPECT_EQ(state.Header.BitsPerPixel, 24);
  MosaicPattern p;
  ASSERT_TRUE(ParseMosaicPattern("0,45,135,90", &p, nullptr));
  for (int slot = 1; slot <= 4; ++slot) ExpectSlotFromPosition(state, slot, p.positionOfSlot(slot), false);
}

TEST(DemosaicCommandTest, RefusesWhatIsNotAnEightBitGreyMosaic) {
  const std::string dir = test::TempDir("demosaic-refusals");
  QImage colour(8, 8, QImage::Format_RGB32);
  colour.fill(qRgb(10, 10, 10));
  colour.setPixel(5, 3, qRgb(10, 200, 10));
  ASSERT_TRUE(colour.save(QString::fromStdString(dir + "/colour.png")));
  QImage greyRgb(8, 8, QImage::Format_RGB32);  // grey stored as colour: accepted
  greyRgb.fill(qRgb(77, 77, 77));
  ASSERT_TRUE(greyRgb.save(QString::fromStdString(dir + "/greyrgb.png")));
  QImage deep(8, 8, QImage::Format_Grayscale16);
  deep.fill(1000);
  ASSERT_TRUE(deep.save(QString::fromStdString(dir + "/deep.png")));
  ASSERT_TRUE(GreyFrame(1, 9).save(QString::fromStdString(dir + "/thin.png")));
  {
    FILE* f = std::fopen((dir + "/junk.png").c_str(), "wb");
    ASSERT_TRUE(f);
    std::fputs("not a picture", f);
    std::fclose(f);
  }

  const std::string out = dir + "/out";
  EXPECT_EQ(RunCli("demosaic " + Q(dir + "/greyrgb.png") + " --out " + Q(out)).code, 0);
  for (const char* bad : {"colour.png", "deep.png", "thin.png", "junk.png", "missing.png"}) {
    const std::string o = dir + "/out-" + bad;
    const RunResult r = RunCli("demosaic " + Q(dir + "/" + bad) + " --out " + Q(o) + " --json");
    EXPECT_EQ(r.code, 1) << bad;
    EXPECT_NE(r.out.find("\"ok\": false"), std::string::npos) << bad << ": " << r.out;
    EXPECT_FALSE(std::filesystem::exists(o + "/0.bmp")) << bad;
  }
  const std::string frame = Q(dir + "/greyrgb.png");
  EXPECT_EQ(RunCli("demosaic " + frame + " --out " + Q(out) + " --pattern 0,45,90").code, 2);
  EXPECT_EQ(RunCli("demosaic " + frame + " --out " + Q(out) + " --pattern 0,45,45,90").code, 2);
  EXPECT_EQ(RunCli("demosaic " + frame + " --out " + Q(out) + " --bits 16").code, 2);
  EXPECT_EQ(RunCli("demosaic " + frame).code, 2);  // no --out
  EXPECT_EQ(RunCli("demosaic --out " + Q(out)).code, 2);  // no frame
}

#endif  // PS_HAVE_QTGUI

}  // namespace
}  // namespace ps
