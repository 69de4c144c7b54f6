// The whole pipeline on real polarization-camera frames nobody on the team
// made: each frame is split with the demosaic command, the four files go
// through the BMP reader and the set is processed.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <sys/wait.h>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "sphere/circle_fit.h"
#include "sphere/contour.h"
#include "sphere/trace.h"
#include "support/test_support.h"

namespace ps {
namespace {

const std::string kFruits = std::string(PS_REALDATA_DIR) + "/fruits_IMX250MZR.png";
const std::string kPolarizer = std::string(PS_REALDATA_DIR) + "/polarizer_IMX250MZR.png";

// Splits `frame` with `pattern` (the default when empty), loads and processes the 1224 x 1024 set.
void LoadProcessed(AppState& state, const std::string& frame, const std::string& pattern) {
  if (!std::filesystem::exists(frame)) GTEST_SKIP() << "real data not found: " << frame;
  const std::string dir = test::TempDir("realdata");
  const std::string cmd = std::string("'") + PS_CLI_PATH + "' demosaic '" + frame + "' --out '" + dir + "'" +
                          (pattern.empty() ? "" : " --pattern " + pattern) + " > /dev/null";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
  ASSERT_TRUE(LoadSet(state, {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"}).ok);
  ASSERT_EQ(std::make_pair(state.SetWidth, state.SetHeight), std::make_pair(1224, 1024));
  ASSERT_TRUE(ЗаполнениеМассива(state));
}

// An apple, an orange and a banana on a table. The orange's outline was
// measured independently of this system on the mean of the four sub-images:
// the strongest brightness step at the rim along 360 rays (stalks left out), a
// robust least-squares circle, 270 points, rms 1.7 px, in 1-based cells.
constexpr double kOrangeCentreX = 903.3, kOrangeCentreY = 267.3, kOrangeRadius = 202.0;
// The press: on the orange's left rim, darkest against the table, on the crest of the response.
constexpr int kPressX = 703, kPressY = 267;

TEST(RealFrames, CircleFittedToTheTracedOrangeMatchesItsMeasuredOutline) {
  AppState state;
  LoadProcessed(state, kFruits, "");
  if (HasFatalFailure() || IsSkipped()) return;
  ASSERT_TRUE(ContourResponse(state, /*autocontrast=*/false));
  const int W = state.SetWidth, H = state.SetHeight;
  const double* response = state.ResultMap.layer(19);
  ASSERT_NE(response, nullptr);
  EXPECT_LT(response[static_cast<size_t>(kPressY - 1) * W + (kPressX - 1)], -20.0);  // a strong crest

  const TraceResult trace = Trace(response, W, H, kPressX, kPressY);
  const int n = trace.count();
  ASSERT_GE(n, 300) << TraceEndName(trace.end());  // a good part of the outline (2·π·202 ≈ 1270 cells)
  int off = 0;
  for (const auto& [x, y] : trace.points)
    off += std::fabs(std::hypot(x - kOrangeCentreX, y - kOrangeCentreY) - kOrangeRadius) > 12.0;
  EXPECT_LE(off, n / 20) << off << " of " << n << " trace points are more than 12 cells off the outline";

  const CircleFit fit = FitCircleToBoundary(MakeBoundaryList(trace.points), n, W, H);
  ASSERT_TRUE(fit.found);
  EXPECT_LE(std::hypot(fit.centreX - kOrangeCentreX, fit.centreY - kOrangeCentreY), 12.0)
      << fit.centreX << " " << fit.centreY;
  EXPECT_LE(std::fabs(fit.radius - kOrangeRadius), 6.0) << fit.radius;
}

// Four linear polarizer filters in front of a window, labelled 0°, 45°, 90° and
// 135° in the scene; centres read off the 0° sub-image (dark-rimmed discs of
// radius ~105 cells). The mean azimuth inside a disc of radius 60 is compared
// with the label. The azimuth is an axis (mod π), so it is averaged as the
// doubled angle: a filter at 90° has pixels near +π/2 and -π/2.
TEST(RealFrames, PolarizerFiltersReadTheirLabelsInEitherPattern) {
  const int kFilters[][3] = {{0, 191, 545}, {45, 501, 547}, {90, 779, 547}, {135, 1055, 553}};  // label, cx, cy
  const int r = 60;
  // The scene's layout (0,0)=0°, (0,1)=45°, (1,0)=135°, (1,1)=90° reads each
  // label; the Sony layout (the default) measures from the other axis in the
  // other sense: 90° minus the label.
  const std::pair<const char*, bool> patterns[] = {{"0,45,135,90", false}, {"", true}};
  for (const auto& [pattern, sony] : patterns) {
    AppState state;
    LoadProcessed(state, kPolarizer, pattern);
    if (HasFatalFailure() || IsSkipped()) return;
    for (const auto& [label, cx, cy] : kFilters) {
      double c = 0, s = 0;
      long n = 0;
      for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) {
            const double az = ОпределениеИнтенсивностей(std::as_const(state), x, y).Azimuth;
            c += std::cos(2 * az), s += std::sin(2 * az), ++n;
          }
      const double degrees = std::atan2(s, c) / 2 * 180 / M_PI;
      const double d = std::fmod(std::fabs(degrees - (sony ? 90 - label : label)), 180.0);
      EXPECT_LT(std::min(d, 180 - d), 10.0) << pattern << ": filter " << label << " reads " << degrees;
      if (!sony) EXPECT_GT(std::hypot(c, s) / n, 0.9) << "filter " << label << ": azimuths scattered";
    }
  }
}

}  // namespace
}  // namespace ps
