// A small map drawn with every overlay, compared pixel for pixel with the
// committed picture, and the render command's PNG compared with the same
// drawing. PS_UPDATE_GOLDEN=1 rewrites the picture after an intended change.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "display/display_fixtures.h"
#include "display/render.h"

#ifdef PS_HAVE_QTGUI
#include <QImage>
#include <QString>

namespace ps {
namespace {

QImage ImageOf(const RasterSurface& s) {
  return QImage(s.data(), s.width(), s.height(), s.stride(), QImage::Format_RGB888).copy();
}
QImage Load(const std::string& path) {
  QImage image;
  EXPECT_TRUE(image.load(QString::fromStdString(path))) << path;
  return image.convertToFormat(QImage::Format_RGB888);
}
int Render(const std::string& args) { return std::system((std::string(PS_CLI_PATH) + " render" + args).c_str()); }

RasterSurface GoldenMap() {
  AppState s;
  std::vector<std::vector<uint8_t>> rgb;
  for (const RgbImage& im : test::SyntheticPhotographs(24, 18)) rgb.push_back(im.rgb);
  test::FillSet24(s, 24, 18, rgb);
  s.ColouredPixelCount = {24 * 18, 24 * 18, 24 * 18, 24 * 18};
  ЗаполнениеМассива(s);
  s.IntensityMode = kModeMean;
  s.ZoomFactor = 7;
  s.Circle = {12, 9, 6};
  MapRenderOptions options;
  options.Grid = options.Ellipses = options.ShowCircle = true;
  return RenderMap(s, options);
}

TEST(Golden, SmallMapWithGridEllipsesAndCircle) {
  const std::string golden = std::string(PS_TESTS_DIR) + "/display/golden/map_small.png";
  const RasterSurface map = GoldenMap();
  ASSERT_EQ(map.width(), 24 * 7 - 1);
  if (const char* update = std::getenv("PS_UPDATE_GOLDEN"); update && std::string(update) == "1") {
    ASSERT_TRUE(ImageOf(map).save(QString::fromStdString(golden), "PNG"));
    GTEST_SKIP() << "golden picture rewritten";
  }
  EXPECT_TRUE(ImageOf(map) == Load(golden));
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
  const std::string png = dir + "/map.png", tone = dir + "/tone.png";
  ASSERT_EQ(Render(files + " --png " + png + " --zoom 7 --grid --ellipses --mode mean --circle 12 9 6 > /dev/null"), 0);
  EXPECT_TRUE(ImageOf(GoldenMap()) == Load(png));
  // The toning pair: two pictures of the statistics window side by side.
  ASSERT_EQ(Render(files + " --png " + tone + " --circle 12 9 6 --tone 45 0 0 > /dev/null"), 0);
  EXPECT_EQ(Load(tone).size(), QSize(2 * kToningWidth + kToningGap, kToningHeight));
  // Refused: a zoom that makes the map too large, toning without a circle.
  EXPECT_NE(Render(files + " --png " + png + " --zoom 90 2> /dev/null"), 0);
  EXPECT_NE(Render(files + " --png " + png + " --tone 0 0 0 2> /dev/null"), 0);
}

}  // namespace
}  // namespace ps
#endif
