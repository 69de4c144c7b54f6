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
#include "sphere/sphere_test_util.h"
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
  // The cell on the outline at angle a.
  std::pair<int, int> Rim(double a) const {
    return {static_cast<int>(std::lround(cx + r * std::cos(a))), static_cast<int>(std::lround(cy + r * std::sin(a)))};
  }
  void ExpectNear(double x, double y, double radius, double centreOff, double radiusOff) const {
    EXPECT_LE(std::hypot(x - cx, y - cy), centreOff) << x << " " << y;
    EXPECT_LE(std::fabs(radius - r), radiusOff) << radius;
  }
};

TEST(SampleSphere, TraceFromTheOutlineAndThreeRimPointsFitTheTruthCircle) {
  const Truth truth;
  AppState loaded;
  ASSERT_TRUE(LoadSet(loaded, test::SampleFiles()).ok);
  ASSERT_TRUE(ЗаполнениеМассива(loaded));
  // Starts on the right, bottom, left and top of the outline, under every
  // intensity definition, the window's start-up definition (mean) included.
  for (int32_t mode : {kModeMean, kModeMax, kModeLuma}) {
    AppState contour = loaded;
    contour.IntensityMode = mode;
    ASSERT_TRUE(ContourResponse(contour, false));
    for (int k = 0; k < 4; ++k) {
      const auto [x, y] = truth.Rim(k * kPi / 2);
      SCOPED_TRACE(testing::Message() << "mode " << mode << " start " << x << "," << y);
      AppState state = contour;
      SphereSession session;
      const PressResult res = HandleMapPress(state, session, test::At(state, x, y, PressMode::Automatic));
      ASSERT_TRUE(res.traced && res.circleChanged);
      EXPECT_GT(res.boundaryCount, 150);  // a good part of the way round, on the outline
      for (int i = 0; i < session.BoundaryCount; ++i) {
        const double d = std::hypot(session.BoundaryList[i][0] - truth.cx, session.BoundaryList[i][1] - truth.cy);
        ASSERT_LT(std::fabs(d - truth.r), 4.0) << "point " << i + 1;
      }
      truth.ExpectNear(state.Circle.CircleCentreX, state.Circle.CircleCentreY, state.Circle.CircleRadius, 2, 3);
    }
  }
  SphereSession session;
  const PressResult res = test::PressAll(loaded, session, {truth.Rim(0.3), truth.Rim(2.2), truth.Rim(4.1)}, PressMode::Manual);
  ASSERT_TRUE(res.circleChanged);
  truth.ExpectNear(loaded.Circle.CircleCentreX, loaded.Circle.CircleCentreY, loaded.Circle.CircleRadius, 1.5, 1.5);
}

std::string Sphere(const std::string& args) {
  std::string a = "sphere";
  for (const std::string& f : test::SampleFiles()) a += " " + f;
  return a + " " + args;
}

TEST(SphereCommand, TraceLayersPointsRefinementAndRefusals) {
  const Truth truth;
  const std::string dir = test::TempDir("sphere-cli"), err = dir + "/err.txt";
  const auto [x, y] = truth.Rim(-kPi / 2);
  const struct {
    std::string args;
    int status;
    std::vector<const char*> out;  // parts of stdout
    const char* absent;            // not in stdout; null: stdout empty
    const char* says;              // part of stderr
  } cases[] = {
      {"--mode max --json --out " + dir + " --start " + std::to_string(x) + " " + std::to_string(y), 0,
       {"\"boundary_points\": ", "\"end\": \""}, "refined", ""},
      {"--json --points 40 30 30 40 20 30", 0, {"\"centre_x\": 30", "\"radius\": 10", "\"end\": \"manual\""}, "refined", ""},
      {"--start 245 118 --refine --json", 0, {"\"refined\": {\"centre_x\": ", "\"points\": ", "\"rms\": "}, "failure", ""},
      // Three clicks in the dark background: no edge, the unrefined circle is kept.
      {"--points 20 20 40 10 30 40 --refine --json", 0,
       {"\"failure\": \"too_few_points\", \"message\": \"Окружность не уточнена"}, "", ""},
      {"--start 1 50", 1, {}, nullptr, "Не ближе, чем за 1 точку к краю"},
      {"--start 2 50", 1, {}, nullptr, ""},  // on the second column: nothing is traced
      // Missing or doubled choice of method, bad numbers.
      {"", 2, {}, nullptr, ""},
      {"--start 5 5 --points 1 2 3 4 5 6", 2, {}, nullptr, ""},
      {"--start 5 x", 2, {}, nullptr, ""},
      {"--start 50 50 --mode hue", 2, {}, nullptr, ""},
  };
  std::string traced;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const test::CliRun run = test::RunCli(Sphere(c.args), err);
    EXPECT_EQ(run.status, c.status);
    for (const char* want : c.out) EXPECT_NE(run.out.find(want), std::string::npos) << want << "\n" << run.out;
    if (!c.absent) EXPECT_EQ(run.out, "");
    else if (*c.absent) EXPECT_EQ(run.out.find(c.absent), std::string::npos) << run.out;
    EXPECT_NE(test::ReadAll(err).find(c.says), std::string::npos);
    if (traced.empty()) traced = run.out;
  }
  auto number = [&](const std::string& key) {
    const size_t p = traced.find("\"" + key + "\": ");
    return p == std::string::npos ? -1e9 : std::stod(traced.substr(p + key.size() + 4));
  };
  truth.ExpectNear(number("centre_x"), number("centre_y"), number("radius"), 2, 3);
  for (int layer = 19; layer <= 21; ++layer) {  // the contour layers as float64 arrays
    const std::string npy = test::ReadAll(dir + "/layer_" + std::to_string(layer) + ".npy");
    ASSERT_GT(npy.size(), 128u) << layer;
    EXPECT_EQ(npy.substr(1, 5), "NUMPY");
    EXPECT_NE(npy.find("'descr': '<f8'"), std::string::npos);
  }
}

}  // namespace
}  // namespace ps
