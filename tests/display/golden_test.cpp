// A small map drawn with every overlay, compared pixel for pixel with the
// committed picture; and the render command's PNG compared with the same
// drawing. Set PS_UPDATE_GOLDEN=1 to rewrite the committed picture after an
// intended change of the drawing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "display/display_fixtures.h"
#include "display/render.h"

#ifdef PS_HAVE_QTGUI
#include <QImage>
#include <QString>
#endif

namespace ps {
namespace {

#ifdef PS_HAVE_QTGUI

const std::string kGolden = std::string(PS_TESTS_DIR) + "/display/golden/map_small.png";

QImage ImageOf(const RasterSurface& s) {
  return QImage(s.data(), s.width(), s.height(), s.stride(), QImage::Format_RGB888).copy();
}

// Same size and every pixel the same.
bool SamePicture(const RasterSurface& drawn, const QImage& file) {
  return ImageOf(drawn) == file.convertToFormat(QImage::Format_RGB888);
}

int Render(const std::string& args) { return std::system((std::string(PS_CLI_PATH) + " render" + args).c_str()); }

RasterSurface GoldenMap() {
  AppState s = test::SyntheticSet(24, 18);
  s.IntensityMode = kModeMean;
  s.ZoomFactor = 7;
  s.Circle = {12, 9, 6};
  MapRenderOptions options;
  options.Grid = options.Ellipses = options.ShowCircle = true;
  return RenderMap(s, options);
}

TEST(Golden, SmallMapWithGridEllipsesAndCircle) {
  const RasterSurface map = GoldenMap();
  ASSERT_EQ(map.width(), 24 * 7 - 1);
  if (const char* update = std::getenv("PS_UPDATE_GOLDEN"); update && std::string(update) == "1") {
    ASSERT_TRUE(ImageOf(map).save(QString::fromStdString(kGolden), "PNG"));
    GTEST_SKIP() << "golden picture rewritten";
  }
  QImage golden;
  ASSERT_TRUE(golden.load(QString::fromStdString(kGolden))) << kGolden;
  EXPECT_TRUE(SamePicture(map, golden));
}

TEST(Golden, RenderCommandWritesWhatTheWindowDraws) {
  const std::string dir = test::TempDir("display-render");
  const auto photos = test::SyntheticPhotographs(24, 18);
  std::string files;
  for (int k = 0; k < 4; ++k) {
    const std::string path = dir + "/" + std::to_string(45 * k) + ".bmp";
    ASSERT_TRUE(WriteFileBytes(path, EncodeBmp24(photos[k])));
    files += " " + path;
  }
  const std::string png = dir + "/map.png";
  ASSERT_EQ(Render(files + " --png " + png + " --zoom 7 --grid --ellipses --mode mean --circle 12 9 6 > /dev/null"), 0);
  QImage written;
  ASSERT_TRUE(written.load(QString::fromStdString(png)));
  EXPECT_TRUE(SamePicture(GoldenMap(), written));

  // The toning pair: two pictures of the statistics window side by side.
  const std::string tone = dir + "/tone.png";
  ASSERT_EQ(Render(files + " --png " + tone + " --circle 12 9 6 --tone 45 0 0 > /dev/null"), 0);
  ASSERT_TRUE(written.load(QString::fromStdString(tone)));
  EXPECT_EQ(written.width(), 2 * kToningWidth + kToningGap);
  EXPECT_EQ(written.height(), kToningHeight);

  // Refusals: a zoom that makes the map too large, toning without a circle.
  EXPECT_NE(Render(files + " --png " + png + " --zoom 90 2> /dev/null"), 0);
  EXPECT_NE(Render(files + " --png " + png + " --tone 0 0 0 2> /dev/null"), 0);
}

#else
TEST(Golden, NeedsQtToReadPictures) { GTEST_SKIP() << "built without Qt"; }
#endif

}  // namespace
}  // namespace ps
