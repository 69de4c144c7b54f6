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

struct Truth {
  double cx = 0, cy = 0, r = 0;
  Truth() {
    std::map<std::string, double> t;
    std::ifstream f(std::string(PS_SAMPLE_DIR) + "/truth.txt");
    for (std::string line, key; std::getline(f, line);) {
      std::istringstream ss(line);
      if (double v; line[0] != '#' && ss >> key >> v) t[key] = v;
    }
    EXPECT_EQ(t.count("centre_x") + t.count("centre_y") + t.count("radius"), 3u);
    cx = t["centre_x"], cy = t["centre_y"], r = t["radius"];
  }
  double CentreOff(double x, double y) const { return std::hypot(x - cx, y - cy); }
  double RadiusOff(double radius) const { return std::fabs(radius - r); }
};

class SampleSphere : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    state_ = new AppState();
    ASSERT_TRUE(LoadSet(*state_, test::SampleFiles()).ok);
    ASSERT_TRUE(ЗаполнениеМассива(*state_));
  }
  static void TearDownTestSuite() { delete state_; }
  static PressInput AtCell(double x, double y, PressMode mode) {
    PressInput in;
    in.x = static_cast<float>((std::lround(x) - 1) * state_->ZoomFactor);
    in.y = static_cast<float>((std::lround(y) - 1) * state_->ZoomFactor);
    in.mode = mode;
    return in;
  }
  static AppState* state_;
  const Truth truth_;
};
AppState* SampleSphere::state_ = nullptr;

TEST_F(SampleSphere, TraceFromTheOutlineFitsTheTruthCircle) {
  const double cx = truth_.cx, cy = truth_.cy, r = truth_.r;
  // Starts on the top, left, bottom and right of the outline.
  const double starts[][2] = {{cx, cy - r}, {cx - r, cy}, {cx, cy + r}, {cx + r, cy}};
  // The outline is found under every intensity definition, the window's
  // start-up definition (mean) included.
  for (int32_t mode : {kModeMean, kModeMax, kModeLuma}) {
    AppState contour = *state_;
    contour.IntensityMode = mode;
    ASSERT_TRUE(ContourResponse(contour, false));
    for (const auto& [x, y] : starts) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << " start " << x << "," << y);
      AppState state = contour;
      SphereSession session;
      const PressResult res = HandleMapPress(state, session, AtCell(x, y, PressMode::Automatic));
      ASSERT_TRUE(res.traced);
      ASSERT_TRUE(res.circleChanged);
      EXPECT_GT(res.boundaryCount, 150);  // a good part of the way round, on the outline
      for (int k = 0; k < session.BoundaryCount; ++k)
        ASSERT_LT(truth_.RadiusOff(std::hypot(session.BoundaryList[k][0] - cx, session.BoundaryList[k][1] - cy)), 4.0)
            << "point " << k + 1;
      EXPECT_LE(truth_.CentreOff(state.Circle.CircleCentreX, state.Circle.CircleCentreY), 2.0);
      EXPECT_LE(truth_.RadiusOff(state.Circle.CircleRadius), 3.0);
    }
  }
}

TEST_F(SampleSphere, ThreeRimPointsGiveTheTruthCircle) {
  AppState state = *state_;
  SphereSession session;
  PressResult res;
  for (double a : {0.3, 2.2, 4.1})
    res = HandleMapPress(state, session, AtCell(truth_.cx + truth_.r * std::cos(a),
                                                truth_.cy + truth_.r * std::sin(a), PressMode::Manual));
  ASSERT_TRUE(res.circleChanged);
  EXPECT_LE(truth_.CentreOff(state.Circle.CircleCentreX, state.Circle.CircleCentreY), 1.5);
  EXPECT_LE(truth_.RadiusOff(state.Circle.CircleRadius), 1.5);
}

std::string Sphere(const std::string& args) {
  std::string a = "sphere";
  for (const std::string& f : test::SampleFiles()) a += " " + f;
  return a + " " + args;
}

TEST(SphereCommand, TraceAndPointsAsJson) {
  const Truth truth;
  const std::string dir = test::TempDir("sphere-cli");
  test::CliRun run = test::RunCli(Sphere("--mode max --json --out " + dir + " --start " +
                                         std::to_string(std::lround(truth.cx)) + " " +
                                         std::to_string(std::lround(truth.cy - truth.r))));
  ASSERT_EQ(run.status, 0) << run.out;
  for (const char* key : {"\"boundary_points\": ", "\"end\": \""})
    EXPECT_NE(run.out.find(key), std::string::npos) << run.out;
  auto number = [&](const std::string& key) {
    const size_t p = run.out.find("\"" + key + "\": ");
    return p == std::string::npos ? -1e9 : std::stod(run.out.substr(p + key.size() + 4));
  };
  EXPECT_LE(truth.CentreOff(number("centre_x"), number("centre_y")), 2.0) << run.out;
  EXPECT_LE(truth.RadiusOff(number("radius")), 3.0) << run.out;
  // The three layers as float64 arrays.
  for (int layer = 19; layer <= 21; ++layer) {
    const std::string npy = test::ReadAll(dir + "/layer_" + std::to_string(layer) + ".npy");
    ASSERT_GT(npy.size(), 128u) << layer;
    EXPECT_EQ(npy.substr(1, 5), "NUMPY");
    EXPECT_NE(npy.find("'descr': '<f8'"), std::string::npos);
  }
  run = test::RunCli(Sphere("--json --points 40 30 30 40 20 30"));
  ASSERT_EQ(run.status, 0);
  for (const char* want : {"\"centre_x\": 30", "\"radius\": 10", "\"end\": \"manual\""})
    EXPECT_NE(run.out.find(want), std::string::npos) << want << "\n" << run.out;
}

TEST(SphereCommand, RefusesBadStarts) {
  const std::string err = test::TempDir("sphere-cli-err") + "/err.txt";
  // On the edge: the edge message, no circle.
  EXPECT_NE(test::RunCli(Sphere("--start 1 50"), err).status, 0);
  EXPECT_NE(test::ReadAll(err).find("Не ближе, чем за 1 точку к краю"), std::string::npos);
  // On the second column: nothing is traced.
  const test::CliRun run = test::RunCli(Sphere("--start 2 50"), err);
  EXPECT_TRUE(run.status != 0 && run.out.empty()) << run.out;
  // Missing or doubled choice of method, bad numbers.
  for (const char* args : {"", "--start 5 5 --points 1 2 3 4 5 6", "--start 5 x", "--start 50 50 --mode hue"})
    EXPECT_EQ(test::RunCli(Sphere(args)).status, 2) << args;
}

}  // namespace
}  // namespace ps
