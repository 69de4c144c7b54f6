// The sphere of the bundled sample set, found by a trace from a cell of its
// outline and by three rim points, against the set's truth file; and the
// command-line tool on the same set.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "sphere/contour.h"
#include "sphere/press.h"
#include "support/test_support.h"

namespace ps {
namespace {

std::map<std::string, double> Truth() {
  std::map<std::string, double> t;
  std::ifstream f(std::string(PS_SAMPLE_DIR) + "/truth.txt");
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ss(line);
    std::string key;
    double v;
    if (ss >> key >> v) t[key] = v;
  }
  return t;
}

class SampleSphere : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    state_ = new AppState();
    const SetLoadOutcome loaded = LoadSet(*state_, test::SampleFiles());
    ASSERT_TRUE(loaded.ok);
    ASSERT_TRUE(ЗаполнениеМассива(*state_));
    state_->IntensityMode = kModeMax;
    ASSERT_TRUE(ContourResponse(*state_, false));
  }
  static void TearDownTestSuite() {
    delete state_;
    state_ = nullptr;
  }
  PressInput AtCell(int x, int y, PressMode mode) const {
    PressInput in;
    in.x = static_cast<float>((x - 1) * state_->ZoomFactor);
    in.y = static_cast<float>((y - 1) * state_->ZoomFactor);
    in.mode = mode;
    return in;
  }
  static AppState* state_;
};
AppState* SampleSphere::state_ = nullptr;

TEST_F(SampleSphere, TraceFromTheOutlineFitsTheTruthCircle) {
  const auto truth = Truth();
  ASSERT_EQ(truth.count("centre_x") + truth.count("centre_y") + truth.count("radius"), 3u);
  const double cx = truth.at("centre_x"), cy = truth.at("centre_y"), r = truth.at("radius");
  // Starts on the top, left, bottom and right of the outline.
  const int starts[][2] = {{static_cast<int>(std::lround(cx)), static_cast<int>(std::lround(cy - r))},
                           {static_cast<int>(std::lround(cx - r)), static_cast<int>(std::lround(cy))},
                           {static_cast<int>(std::lround(cx)), static_cast<int>(std::lround(cy + r))},
                           {static_cast<int>(std::lround(cx + r)), static_cast<int>(std::lround(cy))}};
  // The outline is found under every intensity definition, the window's
  // start-up definition (mean) included.
  for (int32_t mode : {kModeMean, kModeMax, kModeLuma}) {
    AppState contour = *state_;
    contour.IntensityMode = mode;
    ASSERT_TRUE(ContourResponse(contour, false));
    for (const auto& s : starts) {
      SCOPED_TRACE(mode);
      AppState state = contour;
      SphereSession session;
      const PressResult res = HandleMapPress(state, session, AtCell(s[0], s[1], PressMode::Automatic));
      ASSERT_TRUE(res.traced) << s[0] << "," << s[1];
      ASSERT_TRUE(res.circleChanged);
      // The trace follows the outline for a good part of the way round.
      EXPECT_GT(res.boundaryCount, 150);
      for (int k = 0; k < session.BoundaryCount; ++k) {
        const double d = std::hypot(session.BoundaryList[k][0] - cx, session.BoundaryList[k][1] - cy);
        ASSERT_LT(std::fabs(d - r), 4.0) << "point " << k + 1 << " from " << s[0] << "," << s[1];
      }
      EXPECT_LE(std::hypot(state.Circle.CircleCentreX - cx, state.Circle.CircleCentreY - cy), 2.0)
          << s[0] << "," << s[1];
      EXPECT_LE(std::fabs(state.Circle.CircleRadius - r), 3.0) << s[0] << "," << s[1];
    }
  }
}

TEST_F(SampleSphere, ThreeRimPointsGiveTheTruthCircle) {
  const auto truth = Truth();
  const double cx = truth.at("centre_x"), cy = truth.at("centre_y"), r = truth.at("radius");
  AppState state = *state_;
  SphereSession session;
  const double angles[3] = {0.3, 2.2, 4.1};
  PressResult res;
  for (double a : angles)
    res = HandleMapPress(state, session,
                         AtCell(static_cast<int>(std::lround(cx + r * std::cos(a))),
                                static_cast<int>(std::lround(cy + r * std::sin(a))), PressMode::Manual));
  ASSERT_TRUE(res.circleChanged);
  EXPECT_LE(std::hypot(state.Circle.CircleCentreX - cx, state.Circle.CircleCentreY - cy), 1.5);
  EXPECT_LE(std::fabs(state.Circle.CircleRadius - r), 1.5);
}

std::string SampleArgs() {
  std::string a;
  for (const std::string& f : test::SampleFiles()) a += " " + f;
  return a;
}

TEST(SphereCommand, TraceAndPointsAsJson) {
  const auto truth = Truth();
  const double cx = truth.at("centre_x"), cy = truth.at("centre_y"), r = truth.at("radius");
  const std::string dir = test::TempDir("sphere-cli");
  const std::string start = std::to_string(std::lround(cx)) + " " + std::to_string(std::lround(cy - r));
  test::CliRun run = test::RunCli("sphere" + SampleArgs() + " --mode max --json --out " + dir + " --start " + start);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("\"boundary_points\": "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"end\": \""), std::string::npos) << run.out;
  auto number = [&](const std::string& key) {
    const size_t p = run.out.find("\"" + key + "\": ");
    return p == std::string::npos ? -1e9 : std::stod(run.out.substr(p + key.size() + 4));
  };
  EXPECT_LE(std::hypot(number("centre_x") - cx, number("centre_y") - cy), 2.0) << run.out;
  EXPECT_LE(std::fabs(number("radius") - r), 3.0) << run.out;
  // The three layers as float64 arrays of the set's size (240 x 320 for the sample).
  for (int layer = 19; layer <= 21; ++layer) {
    const std::string npy = test::ReadAll(dir + "/layer_" + std::to_string(layer) + ".npy");
    ASSERT_GT(npy.size(), 128u) << layer;
    EXPECT_EQ(npy.substr(1, 5), "NUMPY");
    EXPECT_NE(npy.find("'descr': '<f8'"), std::string::npos);
  }

  run = test::RunCli("sphere" + SampleArgs() + " --json --points 40 30 30 40 20 30");
  ASSERT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\"centre_x\": 30"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"radius\": 10"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"end\": \"manual\""), std::string::npos) << run.out;
}

TEST(SphereCommand, RefusesBadStarts) {
  const std::string err = test::TempDir("sphere-cli-err") + "/err.txt";
  // On the edge: the edge message, no circle.
  test::CliRun run = test::RunCli("sphere" + SampleArgs() + " --start 1 50", err);
  EXPECT_NE(run.status, 0);
  EXPECT_NE(test::ReadAll(err).find("Не ближе, чем за 1 точку к краю"), std::string::npos);
  // On the second column: nothing is traced.
  run = test::RunCli("sphere" + SampleArgs() + " --start 2 50", err);
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "");
  // Missing or doubled choice of method, bad numbers.
  EXPECT_EQ(test::RunCli("sphere" + SampleArgs()).status, 2);
  EXPECT_EQ(test::RunCli("sphere" + SampleArgs() + " --start 5 5 --points 1 2 3 4 5 6").status, 2);
  EXPECT_EQ(test::RunCli("sphere" + SampleArgs() + " --start 5 x").status, 2);
  EXPECT_EQ(test::RunCli("sphere" + SampleArgs() + " --start 50 50 --mode hue").status, 2);
}

}  // namespace
}  // namespace ps
