// Azimuth convention on a real camera frame: four linear polarizer filters in
// front of a window, labelled 0°, 45°, 90° and 135° in the scene. The frame is
// split with the demosaic command, loaded through the BMP reader and processed
// into the result map; the mean azimuth inside each filter is compared with its
// label.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "support/test_support.h"

namespace ps {
namespace {

const std::string kFrame = std::string(PS_REALDATA_DIR) + "/polarizer_IMX250MZR.png";

struct Filter {
  int label;       // degrees, as written in the scene
  int cx, cy;      // centre in 1-based cells of the 1224 x 1024 sub-images
};
// Centres read off the 0° sub-image (each filter is a dark-rimmed disc of
// radius ~105 cells); the test averages over a disc of radius 60 inside it.
constexpr Filter kFilters[] = {{0, 191, 545}, {45, 501, 547}, {90, 779, 547}, {135, 1055, 553}};
constexpr int kDiscRadius = 60;

// Splits the frame with `pattern`, loads and processes the set.
void LoadProcessed(AppState& state, const std::string& pattern) {
  const std::string dir = test::TempDir("polarizer");
  const std::string cmd = std::string("'") + PS_CLI_PATH + "' demosaic '" + kFrame + "' --out '" + dir +
                          "' --pattern " + pattern + " > /dev/null";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
  const SetLoadOutcome loaded =
      LoadSet(state, {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"});
  ASSERT_TRUE(loaded.ok);
  ASSERT_EQ(state.SetWidth, 1224);
  ASSERT_EQ(state.SetHeight, 1024);
  ASSERT_TRUE(ЗаполнениеМассива(state));
}

struct AxialMean {
  double degrees;     // mean azimuth, 0..180
  double coherence;   // length of the mean doubled-angle vector, 0..1
};

// The azimuth is an axis (defined mod π), so it is averaged as the doubled angle
// on the unit circle: a filter at 90° has pixels near +π/2 and -π/2 whose plain
// mean would be 0.
AxialMean MeanAzimuth(const AppState& state, const Filter& f) {
  double c = 0, s = 0;
  long n = 0;
  for (int y = f.cy - kDiscRadius; y <= f.cy + kDiscRadius; ++y)
    for (int x = f.cx - kDiscRadius; x <= f.cx + kDiscRadius; ++x) {
      if ((x - f.cx) * (x - f.cx) + (y - f.cy) * (y - f.cy) > kDiscRadius * kDiscRadius) continue;
      const double az = ОпределениеИнтенсивностей(state, x, y).Azimuth;
      c += std::cos(2 * az);
      s += std::sin(2 * az);
      ++n;
    }
  double deg = std::atan2(s, c) / 2 * 180 / M_PI;
  if (deg < 0) deg += 180;
  return {deg, std::hypot(c, s) / static_cast<double>(n)};
}

// Difference of two axes in degrees, folded to 0..90.
double AxisDifference(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 180.0);
  return d > 90 ? 180 - d : d;
}

class PolarizerFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kFrame)) GTEST_SKIP() << "real data not found: " << kFrame;
  }
};

// The labels in the scene follow the layout (0,0)=0°, (0,1)=45°, (1,0)=135°,
// (1,1)=90°: with it the system's azimuth (the polarizer angle of greatest
// intensity, counted from the 0° slot towards the 45° slot) reads each filter's
// label.
TEST_F(PolarizerFrameTest, MatchingPatternReadsEachFiltersLabel) {
  AppState state;
  LoadProcessed(state, "0,45,135,90");
  for (const Filter& f : kFilters) {
    const AxialMean m = MeanAzimuth(state, f);
    std::printf("filter %3d: mean azimuth %6.1f deg, coherence %.3f\n", f.label, m.degrees, m.coherence);
    EXPECT_LT(AxisDifference(m.degrees, f.label), 10.0) << "filter " << f.label << " reads " << m.degrees;
    EXPECT_GT(m.coherence, 0.9) << "filter " << f.label << ": azimuths scattered";
  }
}

// The Sony layout (the default) describes the same pixels with the angle
// measured from the other axis and in the other sense: every filter reads
// 90° minus its label, so 45° and 135° agree and 0° and 90° trade places.
TEST_F(PolarizerFrameTest, DefaultSonyPatternReadsNinetyMinusTheLabel) {
  AppState state;
  LoadProcessed(state, "90,45,135,0");
  for (const Filter& f : kFilters) {
    const AxialMean m = MeanAzimuth(state, f);
    std::printf("filter %3d: mean azimuth %6.1f deg (Sony layout)\n", f.label, m.degrees);
    EXPECT_LT(AxisDifference(m.degrees, 90 - f.label), 10.0) << "filter " << f.label << " reads " << m.degrees;
  }
}

}  // namespace
}  // namespace ps
