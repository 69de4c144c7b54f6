// Refinement of the sphere circle: the circle fits it is built from, synthetic
// spheres with fractional centres, refusals that keep the unrefined circle, the
// real orange of the fruit frame from presses all round its outline and from
// three rim clicks, and the command line's --refine.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <sys/wait.h>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "polarization/sample_scene.h"
#include "sphere/contour.h"
#include "sphere/press.h"
#include "sphere/refine.h"
#include "support/test_support.h"

namespace ps {
namespace {

constexpr double kPiD = 3.141592653589793;

using Points = std::vector<std::pair<double, double>>;

Points Arc(const Circle2& c, double from, double to, int n, double noise = 0, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0, noise > 0 ? noise : 1);
  Points p;
  for (int i = 0; i < n; ++i) {
    const double a = from + (to - from) * i / (n - 1);
    const double e = noise > 0 ? g(rng) : 0;
    p.emplace_back(c.x + (c.r + e) * std::cos(a), c.y + (c.r + e) * std::sin(a));
  }
  return p;
}

double CentreOff(const Circle2& a, const Circle2& b) { return std::hypot(a.x - b.x, a.y - b.y); }

TEST(CircleFits, RecoverExactAndNoisyCircles) {
  const struct {
    const char* name;
    Circle2 truth;
    double from, to, noise, tolerance;
  } cases[] = {
      {"full circle", {903.3, 267.7, 202.3}, 0, 2 * kPiD, 0, 1e-9},
      {"quarter arc", {12.25, -7.5, 30.125}, 0.3, 0.3 + kPiD / 2, 0, 1e-7},
      {"noisy full circle", {50.4, 60.6, 20.7}, 0, 2 * kPiD, 0.3, 0.08},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Points pts = Arc(c.truth, c.from, c.to, 200, c.noise);
    Circle2 taubin, geometric;
    ASSERT_TRUE(FitCircleTaubin(pts, &taubin));
    // The geometric fit starts far off and must still arrive.
    ASSERT_TRUE(FitCircleGeometric(pts, {c.truth.x + 5, c.truth.y - 4, c.truth.r * 0.8}, &geometric));
    for (const Circle2& f : {taubin, geometric}) {
      EXPECT_LE(CentreOff(f, c.truth), c.tolerance);
      EXPECT_NEAR(f.r, c.truth.r, c.tolerance);
    }
  }
  Circle2 through;
  ASSERT_TRUE(CircleThrough({{{40, 30}, {30, 40}, {20, 30}}}, &through));
  EXPECT_NEAR(through.x, 30, 1e-12);
  EXPECT_NEAR(through.y, 30, 1e-12);
  EXPECT_NEAR(through.r, 10, 1e-12);
}

TEST(CircleFits, RefuseDegeneratePoints) {
  Circle2 out{1, 2, 3};
  const Points collinear = {{0, 0}, {1, 1}, {2, 2}, {5, 5}};
  EXPECT_FALSE(FitCircleTaubin({{0, 0}, {1, 0}}, &out));
  EXPECT_FALSE(FitCircleTaubin(collinear, &out));
  EXPECT_FALSE(FitCircleGeometric({{0, 0}, {1, 0}}, {0, 0, 1}, &out));
  EXPECT_FALSE(CircleThrough({{{0, 0}, {1, 1}, {2, 2}}}, &out));
  EXPECT_FALSE(CircleThrough({{{3, 4}, {3, 4}, {7, 1}}}, &out));
  EXPECT_EQ(out.r, 3);  // untouched
}

// ---- Synthetic images through the whole refinement ----------------------------

struct Image {
  int w = 0, h = 0;
  std::vector<double> v, l19;
  void contour() {
    l19.assign(v.size(), 0);
    std::vector<double> l20(v.size()), l21(v.size());
    ContourResponse(v.data(), w, h, false, l19.data(), l20.data(), l21.data());
  }
  RefinedCircle refine(const RefineSeed& seed, bool withContour = true) const {
    return RefineCircle(v.data(), withContour ? l19.data() : nullptr, w, h, seed, {7, 8, 9});
  }
};

// A bright disc (anti-aliased by 8 x 8 sub-samples) on a dark background.
// Optionally a dark bar crosses its rim from (barX, 1) down to the centre (a
// stalk), and a brighter disc of radius 10 sits 3 cells off the rim on the
// right (a neighbouring object whose near edge is stronger than the rim).
struct DiscScene {
  Circle2 c;
  double inside = 200, outside = 50;
  int barX = 0, barWidth = 0;
  bool neighbour = false;
  bool knob = false;  // a 7-cell wide bright knob standing 10 cells out of the rim on the right
};
Image Disc(int w, int h, const DiscScene& d) {
  const Circle2& c = d.c;
  const Circle2 n{c.x + c.r + 13, c.y, 10};
  Image im{w, h, std::vector<double>(static_cast<size_t>(w) * h), {}};
  for (int y = 1; y <= h; ++y)
    for (int x = 1; x <= w; ++x) {
      double sum = 0;
      for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
          const double px = x - 0.5 + (i + 0.5) / 8, py = y - 0.5 + (j + 0.5) / 8;
          if (std::hypot(px - c.x, py - c.y) < c.r) sum += d.inside;
          else if (d.neighbour && std::hypot(px - n.x, py - n.y) < n.r) sum += 255;
          else sum += d.outside;
        }
      double val = sum / 64;
      if (d.knob && x > c.x + c.r - 3 && x <= c.x + c.r + 10 && std::fabs(y - c.y) <= 3) val = d.inside;
      if (d.barWidth && x >= d.barX && x < d.barX + d.barWidth && y < c.y) val = 10;
      im.v[static_cast<size_t>(y - 1) * w + (x - 1)] = val;
    }
  im.contour();
  return im;
}

TEST(RefineCircle, DiscWithAStalkAndANeighbourFromPressesAndClicks) {
  const Circle2 truth{60.37, 55.81, 30.4};
  // The bar crosses the top of the rim, the neighbour lies off its right side.
  const Image im = Disc(130, 110, {truth, 200, 50, 55, 4, true});
  std::vector<RefineSeed> seeds;
  for (double a : {1.3, 2.9, 4.4})  // presses on rim cells
    seeds.push_back(RefineSeed::Press(static_cast<int>(std::lround(truth.x + truth.r * std::cos(a))),
                                      static_cast<int>(std::lround(truth.y + truth.r * std::sin(a)))));
  seeds.push_back(RefineSeed::ThreeClicks({{{91, 56}, {45, 30}, {50, 84}}}));
  for (const RefineSeed& s : seeds) {
    SCOPED_TRACE(testing::Message() << "press " << s.pressX << "," << s.pressY);
    const RefinedCircle r = im.refine(s);
    ASSERT_TRUE(r.refined) << r.message;
    EXPECT_LE(CentreOff(r.circle, truth), 0.1);
    EXPECT_NEAR(r.circle.r, truth.r, 0.1);
    EXPECT_LT(r.rms, 0.05);  // edges placed between samples, not on the half-cell grid
    EXPECT_GT(r.points, 0.7 * r.rays);  // most of the ~190 rays, not those on the bar or the neighbour
    EXPECT_LT(r.points, 0.95 * r.rays);
  }
}

TEST(RefineCircle, KeepsTheUnrefinedCircleAndSaysWhy) {
  const Image flat = [] {
    Image im{80, 80, std::vector<double>(6400, 100.0), {}};
    im.contour();
    return im;
  }();
  const Image disc = Disc(80, 80, {{40.5, 40.5, 20}});
  const Image knob = Disc(130, 110, {{60.37, 55.81, 30.4}, 200, 50, 0, 0, false, true});
  // A straight step down the middle: the edge points along it fit no circle.
  const Image step = [] {
    Image im{100, 100, std::vector<double>(10000), {}};
    for (int i = 0; i < 10000; ++i) im.v[i] = i % 100 < 50 ? 50 : 200;
    im.contour();
    return im;
  }();
  const struct {
    const char* name;
    const Image& image;
    RefineSeed seed;
    bool withContour;
    RefineFailure failure;
  } cases[] = {
      {"press without the contour", disc, RefineSeed::Press(60, 40), false, RefineFailure::NoContour},
      {"press on a uniform image", flat, RefineSeed::Press(40, 40), true, RefineFailure::NoSeed},
      {"press far from any edge", disc, RefineSeed::Press(40, 40), true, RefineFailure::NoSeed},
      {"collinear clicks", disc, RefineSeed::ThreeClicks({{{20, 20}, {30, 30}, {40, 40}}}), true,
       RefineFailure::NoSeed},
      {"clicks on a uniform image", flat, RefineSeed::ThreeClicks({{{20, 40}, {40, 20}, {60, 40}}}), true,
       RefineFailure::TooFewPoints},
      // A tiny circle inside the disc: no edge within reach of its rays.
      {"clicks off the rim", disc, RefineSeed::ThreeClicks({{{35, 40}, {40, 35}, {45, 40}}}), true,
       RefineFailure::TooFewPoints},
      // The knob's end is no part of the disc's outline, which the fit finds all the same.
      {"press on a knob off the rim", knob, RefineSeed::Press(101, 56), true, RefineFailure::MovedTooFar},
      {"clicks along a straight edge", step, RefineSeed::ThreeClicks({{{50, 50}, {47, 68}, {47, 32}}}), true,
       RefineFailure::MovedTooFar},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RefinedCircle r = c.image.refine(c.seed, c.withContour);
    EXPECT_FALSE(r.refined);
    EXPECT_EQ(r.failure, c.failure) << RefineFailureName(r.failure) << ": " << r.message;
    EXPECT_EQ(r.message.rfind("Окружность не уточнена: ", 0), 0u) << r.message;
    EXPECT_TRUE(r.circle.x == 7 && r.circle.y == 8 && r.circle.r == 9);
  }
}

// The sample scene (a shaded dielectric sphere on a textured background, noise
// 1.5 grey levels) with fractional centres and radii, processed like an opened
// set: within 0.3 cells from a press on the rim and from three rim clicks.
TEST(RefineCircle, SampleScenesWithFractionalCentres) {
  const struct {
    int w, h;
    uint32_t seed;
    double cx, cy, r;
  } scenes[] = {
      {160, 120, 3, 81.37, 58.62, 38.45},
      {240, 200, 7, 110.5, 104.25, 71.8},
      {320, 240, 11, 171.83, 117.29, 79.6},
      {120, 120, 5, 55.71, 63.08, 24.33},
  };
  for (const auto& sc : scenes) {
    SCOPED_TRACE(testing::Message() << sc.w << "x" << sc.h << " seed " << sc.seed);
    SampleSceneOptions o;
    o.width = sc.w, o.height = sc.h, o.seed = sc.seed, o.centreX = sc.cx, o.centreY = sc.cy, o.radius = sc.r;
    const SampleScene scene = RenderSampleScene(o);
    AppState state;
    test::FillSet24(state, sc.w, sc.h,
                    {scene.images[0].rgb, scene.images[1].rgb, scene.images[2].rgb, scene.images[3].rgb});
    ASSERT_TRUE(ЗаполнениеМассива(state));
    ASSERT_TRUE(ContourResponse(state, false));
    const Circle2 truth{sc.cx, sc.cy, sc.r};
    std::vector<RefineSeed> seeds;
    for (double a : {0.5, 2.0, 3.6, 5.1})
      seeds.push_back(RefineSeed::Press(static_cast<int>(std::lround(sc.cx + sc.r * std::cos(a))),
                                        static_cast<int>(std::lround(sc.cy + sc.r * std::sin(a)))));
    std::array<std::pair<int, int>, 3> clicks;
    for (int i = 0; i < 3; ++i)
      clicks[i] = {static_cast<int>(std::lround(sc.cx + sc.r * std::cos(1 + 2.1 * i))),
                   static_cast<int>(std::lround(sc.cy + sc.r * std::sin(1 + 2.1 * i)))};
    seeds.push_back(RefineSeed::ThreeClicks(clicks));
    for (const RefineSeed& s : seeds) {
      const RefinedCircle r = RefineSphereCircle(state, s);
      ASSERT_TRUE(r.refined) << r.message;
      EXPECT_LE(CentreOff(r.circle, truth), 0.3) << r.circle.x << " " << r.circle.y;
      EXPECT_NEAR(r.circle.r, truth.r, 0.3);
      EXPECT_LT(r.rms, 0.1);
    }
  }
}

// ---- The orange of the real fruit frame ---------------------------------------

const std::string kFruit = std::string(PS_REALDATA_DIR) + "/fruits_IMX250MZR.png";
// Hand-measured outline of the orange in 1-based cells of the 1224 x 1024 sub-images.
const Circle2 kOrange{903.3, 267.7, 202.3};

class FruitOrange : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::filesystem::exists(kFruit)) return;
    const std::string dir = test::TempDir("refine-fruit");
    const std::string cmd = std::string("'") + PS_CLI_PATH + "' demosaic '" + kFruit + "' --pattern 0,45,135,90 --out '" +
                            dir + "' > /dev/null";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
    state_ = new AppState();
    ASSERT_TRUE(LoadSet(*state_, {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"}).ok);
    ASSERT_TRUE(ЗаполнениеМассива(*state_));
    state_->IntensityMode = kModeMean;
    ASSERT_TRUE(ContourResponse(*state_, false));
  }
  static void TearDownTestSuite() {
    delete state_;
    state_ = nullptr;
  }
  void SetUp() override {
    if (!std::filesystem::exists(kFruit)) GTEST_SKIP() << "real data not found: " << kFruit;
    ASSERT_NE(state_, nullptr);
  }
  // The crest of the drawn contour (most negative response) on the ray from
  // the measured centre at angle a, within 8 cells of the measured rim.
  static std::pair<int, int> Crest(double a) {
    std::pair<int, int> best{0, 0};
    double lowest = 0;
    for (double rho = kOrange.r - 8; rho <= kOrange.r + 8; rho += 0.5) {
      const int x = static_cast<int>(std::lround(kOrange.x + rho * std::cos(a)));
      const int y = static_cast<int>(std::lround(kOrange.y + rho * std::sin(a)));
      if (const double r = state_->ResultMap.at(x, y, 19); r < lowest) lowest = r, best = {x, y};
    }
    return best;
  }
  static PressInput At(int x, int y, PressMode mode) {
    PressInput in;
    in.x = static_cast<float>((x - 1) * state_->ZoomFactor);
    in.y = static_cast<float>((y - 1) * state_->ZoomFactor);
    in.mode = mode;
    return in;
  }
  static void ExpectOrange(const RefinedCircle& r) {
    ASSERT_TRUE(r.refined) << r.message;
    EXPECT_LE(CentreOff(r.circle, kOrange), 2.0) << r.circle.x << " " << r.circle.y;
    EXPECT_NEAR(r.circle.r, kOrange.r, 1.5);
  }
  static AppState* state_;
};
AppState* FruitOrange::state_ = nullptr;

// Presses in automatic mode and three presses in manual mode, as the window
// makes them; the specified fit stays beside the refinement.
TEST_F(FruitOrange, PressesOnTheCrestAllRound) {
  // Where the trace goes wrong, and on the banana's stalk where it touches the rim.
  std::vector<std::pair<int, int>> presses = {{978, 86}, {1089, 345}, {701, 268}, {1039, 418}};
  for (int k = 0; k < 8; ++k) presses.push_back(Crest(kPiD / 8 + k * kPiD / 4));
  for (const auto& [x, y] : presses) {
    SCOPED_TRACE(testing::Message() << "press " << x << "," << y);
    AppState state = *state_;
    SphereSession session;
    const PressResult press = HandleMapPress(state, session, At(x, y, PressMode::Automatic));
    ASSERT_TRUE(press.circleChanged);
    const SphereCircle specified = state.Circle;
    const RefinedCircle r = RefineAfterPress(state, session, press);
    ExpectOrange(r);
    EXPECT_GT(r.points, 0.6 * r.rays);  // the rim all round, less the stalks
    EXPECT_EQ(state.Circle.CircleRadius, specified.CircleRadius);  // the refinement only reads the state
    ASSERT_TRUE(StoreRefinedCircle(state, r));
    EXPECT_EQ(state.Circle.CircleCentreX, r.circle.x);
  }
}

TEST_F(FruitOrange, PressesOnTheBananaKeepTheUnrefinedCircle) {
  for (const auto& [x, y] : {std::pair{600, 636}, {800, 620}}) {  // its upper edge, a long shallow curve
    SCOPED_TRACE(testing::Message() << "press " << x << "," << y);
    AppState state = *state_;
    SphereSession session;
    const PressResult press = HandleMapPress(state, session, At(x, y, PressMode::Automatic));
    ASSERT_TRUE(press.circleChanged);
    const RefinedCircle r = RefineAfterPress(state, session, press);
    EXPECT_EQ(r.failure, RefineFailure::NotACircle) << r.circle.x << " " << r.circle.y << " " << r.circle.r;
    EXPECT_EQ(r.circle.r, state.Circle.CircleRadius);
    EXPECT_FALSE(StoreRefinedCircle(state, r));
  }
}

TEST_F(FruitOrange, ThreeClicksOnTheCrest) {
  for (double a0 : {0.2, 1.0, 2.5}) {
    SCOPED_TRACE(testing::Message() << "clicks from angle " << a0);
    AppState state = *state_;
    SphereSession session;
    PressResult press;
    for (int i = 0; i < 3; ++i) {
      const auto [x, y] = Crest(a0 + i * 2 * kPiD / 3);
      press = HandleMapPress(state, session, At(x, y, PressMode::Manual));
    }
    ASSERT_TRUE(press.circleChanged);
    ExpectOrange(RefineAfterPress(state, session, press));
  }
}

// ---- Command line -------------------------------------------------------------

TEST(SphereCommandRefine, PrintsBothCirclesOrWhyNot) {
  std::string files;
  for (const std::string& f : test::SampleFiles()) files += " " + f;
  const test::CliRun ok = test::RunCli("sphere" + files + " --start 245 118 --refine --json");
  ASSERT_EQ(ok.status, 0);
  const size_t at = ok.out.find("\"refined\": {\"centre_x\": ");
  ASSERT_NE(at, std::string::npos) << ok.out;
  for (const char* key : {"\"points\": ", "\"rms\": "}) EXPECT_NE(ok.out.find(key, at), std::string::npos) << key;
  EXPECT_EQ(ok.out.find("failure"), std::string::npos) << ok.out;
  // Three clicks in the sample's dark background: no edge, the unrefined circle is kept.
  const test::CliRun kept = test::RunCli("sphere" + files + " --points 20 20 40 10 30 40 --refine --json");
  ASSERT_EQ(kept.status, 0);
  EXPECT_NE(kept.out.find("\"failure\": \"too_few_points\""), std::string::npos) << kept.out;
  EXPECT_NE(kept.out.find("\"message\": \"Окружность не уточнена"), std::string::npos) << kept.out;
}

}  // namespace
}  // namespace ps
