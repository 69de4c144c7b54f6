// The whole pipeline on a real camera frame nobody on the team made: an apple,
// an orange and a banana on a table, shot with a polarization camera. The frame
// is split with the demosaic command, the four files go through the BMP reader,
// the set is processed, the contour response computed, the orange's outline
// traced from a press on it and a circle fitted to the trace.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "sphere/circle_fit.h"
#include "sphere/contour.h"
#include "sphere/trace.h"
#include "support/test_support.h"

namespace ps {
namespace {

const std::string kFrame = std::string(PS_REALDATA_DIR) + "/fruits_IMX250MZR.png";

// The orange's outline, measured independently of this system on the mean of
// the four 1224 x 1024 sub-images (default pattern): the image was smoothed
// (two 7 x 7 box filters), sampled along 360 rays from a first guess of the
// centre, and on each ray the edge taken as the strongest rise in brightness
// outward (the rim is darker than the table behind it) within 15 px of the
// guess; on the lower rim (ray angles 60°..150°, y pointing down), where the
// lit rim stands in front of its own dark shadow, as the strongest fall. Rays
// crossing the orange's own stalk (258°..285°) or the banana's stalk
// (35°..60°) were left out. A least-squares circle was fitted to the 307 edge
// points, points more than 4 px off were dropped and the fit repeated, and
// the rays re-cast from the new centre, six times over: 270 points remained,
// rms 1.7 px. Converted to the map's 1-based cells (+1 on both axes).
// Fitting the upper arc alone (ray angles 160°..400°) gives centre (905.4,
// 261.5) and radius 199.9: the orange is not a perfect sphere, and the two
// fits differ by 6 cells in the centre.
constexpr double kOrangeCentreX = 903.3;
constexpr double kOrangeCentreY = 267.3;
constexpr double kOrangeRadius = 202.0;

// Where the press starts the trace: on the orange's left outline, where the rim
// stands darkest against the bright table, on the crest of the contour response
// (column 703 in this row; the brightness falls from 87 to 52 between columns
// 702 and 704). The trace runs from there up the left side, over the top and
// down the right side (about 530 points).
constexpr int kPressX = 703;
constexpr int kPressY = 267;

class FruitFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kFrame)) GTEST_SKIP() << "real data not found: " << kFrame;
  }
};

TEST_F(FruitFrameTest, CircleFittedToTheTracedOrangeMatchesItsMeasuredOutline) {
  const std::string dir = test::TempDir("fruit");
  const std::string cmd =
      std::string("'") + PS_CLI_PATH + "' demosaic '" + kFrame + "' --out '" + dir + "' > /dev/null";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;

  AppState state;
  ASSERT_TRUE(LoadSet(state, {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"}).ok);
  ASSERT_EQ(state.SetWidth, 1224);
  ASSERT_EQ(state.SetHeight, 1024);
  ASSERT_TRUE(ЗаполнениеМассива(state));
  ASSERT_TRUE(ContourResponse(state, /*autocontrast=*/false));

  const int W = state.SetWidth, H = state.SetHeight;
  const double* response = state.ResultMap.layer(19);
  ASSERT_NE(response, nullptr);
  // The press lies on the outline: the response there is a strong crest.
  EXPECT_LT(response[static_cast<size_t>(kPressY - 1) * W + (kPressX - 1)], -20.0);

  const TraceResult trace = Trace(response, W, H, kPressX, kPressY);
  const int n = trace.count();
  std::printf("trace: %d points, end %s\n", n, TraceEndName(trace.end()));
  // The trace must follow a good part of the outline (2·π·202 ≈ 1270 cells) ...
  ASSERT_GE(n, 300);
  // ... and every point must lie on it.
  int off = 0;
  for (const auto& [x, y] : trace.points)
    off += std::fabs(std::hypot(x - kOrangeCentreX, y - kOrangeCentreY) - kOrangeRadius) > 12.0;
  EXPECT_LE(off, n / 20) << off << " of " << n << " trace points are more than 12 cells off the outline";

  const CircleFit fit = FitCircleToBoundary(MakeBoundaryList(trace.points), n, W, H);
  ASSERT_TRUE(fit.found);
  std::printf("fit: centre (%.1f, %.1f) radius %.1f; measured (%.1f, %.1f) radius %.1f\n", fit.centreX,
              fit.centreY, fit.radius, kOrangeCentreX, kOrangeCentreY, kOrangeRadius);
  EXPECT_LE(std::hypot(fit.centreX - kOrangeCentreX, fit.centreY - kOrangeCentreY), 12.0);
  EXPECT_LE(std::fabs(fit.radius - kOrangeRadius), 6.0);
}

}  // namespace
}  // namespace ps
