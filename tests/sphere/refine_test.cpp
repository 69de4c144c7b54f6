// Refinement of the sphere circle: the circle fits, discs with a stalk and a
// neighbour, sample scenes, refusals that keep the unrefined circle; and the real
// fruit frame, whose degenerate presses are refused by the map and the command
// line, and whose orange is refined from presses all round it and three rim clicks.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <tuple>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "polarization/sample_scene.h"
#include "sphere/refine.h"
#include "sphere/sphere_test_util.h"
#include "support/test_support.h"

namespace ps {
namespace {

constexpr double kPiD = 3.141592653589793;

double CentreOff(const Circle2& a, const Circle2& b) { return std::hypot(a.x - b.x, a.y - b.y); }
void ExpectRefined(const RefinedCircle& r, const Circle2& truth, double centreOff, double radiusOff, double rms) {
  ASSERT_TRUE(r.refined) << r.message;
  EXPECT_LE(CentreOff(r.circle, truth), centreOff) << r.circle.x << " " << r.circle.y;
  EXPECT_NEAR(r.circle.r, truth.r, radiusOff);
  EXPECT_LT(r.rms, rms);
}
// The cell on circle c at angle a.
std::pair<int, int> RimCell(const Circle2& c, double a) {
  return {static_cast<int>(std::lround(c.x + c.r * std::cos(a))), static_cast<int>(std::lround(c.y + c.r * std::sin(a)))};
}

TEST(CircleFits, ExactArcsFromAFarStartAndDegeneratePoints) {
  for (const auto& [truth, from, to] : {std::tuple{Circle2{903.3, 267.7, 202.3}, 0.0, 2 * kPiD},
                                        std::tuple{Circle2{12.25, -7.5, 30.125}, 0.3, 0.3 + kPiD / 2}}) {
    std::vector<std::pair<double, double>> pts;
    for (int i = 0; i < 100; ++i) {
      const double a = from + (to - from) * i / 99;
      pts.emplace_back(truth.x + truth.r * std::cos(a), truth.y + truth.r * std::sin(a));
    }
    Circle2 taubin, geometric;
    ASSERT_TRUE(FitCircleTaubin(pts, &taubin) && FitCircleGeometric(pts, {truth.x + 5, truth.y - 4, truth.r * 0.8}, &geometric));
    for (const Circle2& f : {taubin, geometric}) EXPECT_LE(CentreOff(f, truth) + std::fabs(f.r - truth.r), 1e-7);
  }
  Circle2 c{1, 2, 3};
  ASSERT_TRUE(CircleThrough({{{40, 30}, {30, 40}, {20, 30}}}, &c));
  EXPECT_LE(CentreOff(c, {30, 30, 10}) + std::fabs(c.r - 10), 1e-12);
  EXPECT_FALSE(FitCircleTaubin({{0, 0}, {1, 0}}, &c) || FitCircleTaubin({{0, 0}, {1, 1}, {2, 2}, {5, 5}}, &c));
  EXPECT_FALSE(FitCircleGeometric({{0, 0}, {1, 0}}, {0, 0, 1}, &c));
  EXPECT_FALSE(CircleThrough({{{0, 0}, {1, 1}, {2, 2}}}, &c) || CircleThrough({{{3, 4}, {3, 4}, {7, 1}}}, &c));
  EXPECT_EQ(c.r, 10);  // untouched by the refusals
}

struct Image {
  int w = 0, h = 0;
  std::vector<double> v, l19;
  Image(int width, int height, const std::function<double(int, int)>& value) : w(width), h(height) {
    for (int y = 1; y <= h; ++y)
      for (int x = 1; x <= w; ++x) v.push_back(value(x, y));
    l19.assign(v.size(), 0);
    std::vector<double> l20(v.size()), l21(v.size());
    ContourResponse(v.data(), w, h, false, l19.data(), l20.data(), l21.data());
  }
  RefinedCircle refine(const RefineSeed& seed, bool withContour = true) const {
    return RefineCircle(v.data(), withContour ? l19.data() : nullptr, w, h, seed, {7, 8, 9});
  }
};

// A disc of 200 on 50, anti-aliased by 8 x 8 sub-samples. Optionally a dark
// bar (a stalk) crosses the top of the rim, a brighter disc of radius 10 sits
// 3 cells off the rim on the right (a neighbour whose near edge is stronger
// than the rim), or a 7-cell knob of the disc's brightness stands 10 cells out.
enum Extra { kBarAndNeighbour = 1, kKnob = 2 };
Image Disc(int w, int h, const Circle2& c, int extras = 0) {
  return Image(w, h, [&](int x, int y) {
    if ((extras & kBarAndNeighbour) && std::abs(x - std::lround(c.x) + 4) <= 1 && y < c.y) return 10.0;
    if ((extras & kKnob) && x > c.x + c.r - 3 && x <= c.x + c.r + 10 && std::fabs(y - c.y) <= 3) return 200.0;
    double sum = 0;
    for (int j = 0; j < 8; ++j)
      for (int i = 0; i < 8; ++i) {
        const double px = x - 0.5 + (i + 0.5) / 8, py = y - 0.5 + (j + 0.5) / 8;
        const bool neighbour = (extras & kBarAndNeighbour) && std::hypot(px - c.x - c.r - 13, py - c.y) < 10;
        sum += std::hypot(px - c.x, py - c.y) < c.r ? 200 : neighbour ? 255 : 50;
      }
    return sum / 64;
  });
}

TEST(RefineCircle, DiscWithAStalkAndANeighbourFromPressesAndClicks) {
  const Circle2 truth{60.37, 55.81, 30.4};
  const Image im = Disc(130, 110, truth, kBarAndNeighbour);
  std::vector<RefineSeed> seeds = {RefineSeed::ThreeClicks({{{91, 56}, {45, 30}, {50, 84}}})};
  for (double a : {1.3, 2.9, 4.4}) seeds.push_back(RefineSeed::Press(RimCell(truth, a).first, RimCell(truth, a).second));
  for (const RefineSeed& s : seeds) {
    SCOPED_TRACE(testing::Message() << "press " << s.pressX << "," << s.pressY);
    const RefinedCircle r = im.refine(s);
    ExpectRefined(r, truth, 0.1, 0.1, 0.05);
    // Most of the ~190 rays, but not those on the bar or the neighbour.
    EXPECT_TRUE(r.points > 0.7 * r.rays && r.points < 0.95 * r.rays) << r.points << " of " << r.rays;
  }
}

TEST(RefineCircle, KeepsTheUnrefinedCircleAndSaysWhy) {
  const Image flat(80, 80, [](int, int) { return 100.0; });
  const Image disc = Disc(80, 80, {40.5, 40.5, 20});
  const Image knob = Disc(130, 110, {60.37, 55.81, 30.4}, kKnob);
  const Image step(100, 100, [](int x, int) { return x <= 50 ? 50.0 : 200.0; });
  // Only a quarter of a disc's outline shows: too little of the circle to trust.
  const Image quarter(130, 110, [](int x, int y) {
    return x <= 60 || y <= 55 || std::hypot(x - 60.37, y - 55.81) < 30.4 ? 200.0 : 50.0;
  });
  // A cog: radius 30 +- 3.5 six times round, edge points 2.5 cells off any circle.
  const Image cog(130, 110, [](int x, int y) {
    return std::hypot(x - 60.0, y - 55.0) < 30 + 3.5 * std::cos(6 * std::atan2(y - 55.0, x - 60.0)) ? 200.0 : 50.0;
  });
  using F = RefineFailure;
  const struct {
    const char* name;
    const Image& image;
    RefineSeed seed;
    F failure;
  } cases[] = {
      {"press without the contour", disc, RefineSeed::Press(60, 40), F::NoContour},
      {"press on a uniform image", flat, RefineSeed::Press(40, 40), F::NoSeed},
      {"press far from any edge", disc, RefineSeed::Press(40, 40), F::NoSeed},
      {"collinear clicks", disc, RefineSeed::ThreeClicks({{{20, 20}, {30, 30}, {40, 40}}}), F::NoSeed},
      {"nearly collinear clicks", disc, RefineSeed::ThreeClicks({{{10, 40}, {40, 41}, {70, 40}}}), F::NoSeed},
      {"clicks on a uniform image", flat, RefineSeed::ThreeClicks({{{20, 40}, {40, 20}, {60, 40}}}), F::TooFewPoints},
      // A small circle inside the disc: no edge within reach of its rays.
      {"clicks off the rim", disc, RefineSeed::ThreeClicks({{{35, 40}, {40, 35}, {45, 40}}}), F::TooFewPoints},
      // The fit finds the disc, which does not pass the knob's end.
      {"press on a knob off the rim", knob, RefineSeed::Press(101, 56), F::MovedTooFar},
      {"clicks on a quarter of the outline", quarter, RefineSeed::ThreeClicks({{{90, 61}, {82, 77}, {66, 86}}}), F::TooFewPoints},
      {"clicks round a cog", cog, RefineSeed::ThreeClicks({{{89, 63}, {39, 76}, {52, 26}}}), F::NotACircle},
      // The edge points along a straight edge fit no circle.
      {"clicks along a straight edge", step, RefineSeed::ThreeClicks({{{50, 50}, {47, 68}, {47, 32}}}), F::MovedTooFar},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RefinedCircle r = c.image.refine(c.seed, c.failure != F::NoContour);
    EXPECT_TRUE(!r.refined && r.failure == c.failure) << RefineFailureName(r.failure) << ": " << r.message;
    EXPECT_EQ(r.message.rfind("Окружность не уточнена: ", 0), 0u) << r.message;
    EXPECT_TRUE(r.circle.x == 7 && r.circle.y == 8 && r.circle.r == 9);
  }
}

// The sample scene (a shaded dielectric sphere on a textured background, noise
// 1.5 grey levels) with fractional centres and radii, processed like an opened
// set: within 0.3 cells from presses on the rim and from three rim clicks.
TEST(RefineCircle, SampleScenesWithFractionalCentres) {
  const struct {
    int w, h;
    uint32_t seed;
    Circle2 truth;
  } scenes[] = {{160, 120, 3, {81.37, 58.62, 38.45}},
                {240, 200, 7, {110.5, 104.25, 71.8}},
                {320, 240, 11, {171.83, 117.29, 79.6}},
                {120, 120, 5, {55.71, 63.08, 24.33}}};
  for (const auto& [w, h, seed, truth] : scenes) {
    SCOPED_TRACE(testing::Message() << w << "x" << h << " seed " << seed);
    SampleSceneOptions o;
    o.width = w, o.height = h, o.seed = seed, o.centreX = truth.x, o.centreY = truth.y, o.radius = truth.r;
    const SampleScene scene = RenderSampleScene(o);
    AppState state;
    test::FillSet24(state, w, h, {scene.images[0].rgb, scene.images[1].rgb, scene.images[2].rgb, scene.images[3].rgb});
    ASSERT_TRUE(ЗаполнениеМассива(state));
    ASSERT_TRUE(ContourResponse(state, false));
    std::vector<RefineSeed> seeds = {RefineSeed::ThreeClicks({RimCell(truth, 1), RimCell(truth, 3.1), RimCell(truth, 5.2)})};
    for (double a : {0.5, 2.0, 3.6, 5.1}) seeds.push_back(RefineSeed::Press(RimCell(truth, a).first, RimCell(truth, a).second));
    for (const RefineSeed& s : seeds) ExpectRefined(RefineSphereCircle(state, s), truth, 0.3, 0.3, 0.1);
  }
}

// Hand-measured outline of the orange in 1-based cells.
const Circle2 kOrange{903.3, 267.7, 202.3};

class FruitFrame : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string frame = std::string(PS_REALDATA_DIR) + "/fruits_IMX250MZR.png";
    if (!std::filesystem::exists(frame)) return;
    dir_ = test::TempDir("fruit-frame");
    const std::string cmd = std::string("'") + PS_CLI_PATH + "' demosaic '" + frame + "' --pattern 0,45,135,90 --out '" +
                            dir_ + "' > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    state_ = new AppState;
    ASSERT_TRUE(LoadSet(*state_, {dir_ + "/0.bmp", dir_ + "/45.bmp", dir_ + "/90.bmp", dir_ + "/135.bmp"}).ok);
    ASSERT_TRUE(ЗаполнениеМассива(*state_));
    state_->IntensityMode = kModeMean;
    ASSERT_TRUE(ContourResponse(*state_, false));
  }
  static void TearDownTestSuite() { delete state_; }
  void SetUp() override {
    if (!state_) GTEST_SKIP() << "real frame not found under " << PS_REALDATA_DIR;
  }
  // The crest of the drawn contour (most negative response) on the ray from
  // the measured centre at angle a, within 8 cells of the measured rim.
  static std::pair<int, int> Crest(double a) {
    std::pair<int, int> best{0, 0};
    double lowest = 0;
    for (double dr = -8; dr <= 8; dr += 0.5)
      if (const auto [x, y] = RimCell({kOrange.x, kOrange.y, kOrange.r + dr}, a); state_->ResultMap.at(x, y, 19) < lowest)
        lowest = state_->ResultMap.at(x, y, 19), best = {x, y};
    return best;
  }
  // Presses on the map as the window makes them (one in automatic mode, three
  // in manual mode), then the refinement from them.
  static RefinedCircle PressAndRefine(const std::vector<std::pair<int, int>>& cells) {
    AppState state = *state_;
    SphereSession session;
    const PressResult press =
        test::PressAll(state, session, cells, cells.size() == 3 ? PressMode::Manual : PressMode::Automatic);
    // The exhaustive fit may be refused; the refinement starts from the press all the same.
    EXPECT_TRUE(press.circleChanged || press.refusal != CircleRefusal::None);
    const double unrefined = state.Circle.CircleRadius;
    const RefinedCircle r = RefineAfterPress(state, session, press);
    EXPECT_EQ(state.Circle.CircleRadius, unrefined);  // the refinement only reads the state
    EXPECT_EQ(StoreRefinedCircle(state, r), r.refined);
    EXPECT_EQ(state.Circle.CircleRadius, r.refined ? r.circle.r : unrefined);
    return r;
  }
  static AppState* state_;
  static std::string dir_;
};
AppState* FruitFrame::state_ = nullptr;
std::string FruitFrame::dir_;

// Just inside the orange's rim the trace dies after 6 and after 1 point, which
// used to fit radius 2.9 and a circle of radius 759 about cell (1, 1); three
// clicks on one row used to give a circle too. On the rim itself the orange is
// found. The command line says the same and ends with status 1; with --refine a
// refused fit is still reported and the refinement from the same press gives
// the circle, but collinear clicks give none either way.
TEST_F(FruitFrame, DegenerateTracesAndClicksAreRefusedOnTheMapAndByTheCommand) {
  ASSERT_EQ(std::make_pair(state_->SetWidth, state_->SetHeight), std::make_pair(1224, 1024));
  const struct {
    PressMode mode;
    std::vector<std::pair<int, int>> presses;
    CircleRefusal refusal;
    int boundary, status, refinedStatus;  // refinedStatus -1: not run with --refine
    const char* says;
  } cases[] = {
      {PressMode::Automatic, {{705, 268}}, CircleRefusal::TooFewPoints, 6, 1, -1, "Окружность шара не найдена: На границе 6 точек"},
      {PressMode::Automatic, {{710, 268}}, CircleRefusal::TooFewPoints, 1, 1, -1, "Окружность шара не найдена: На границе 1 точка"},
      {PressMode::Automatic, {{978, 86}}, CircleRefusal::TooFewPoints, 6, 1, 0, "Окружность шара не найдена"},
      {PressMode::Manual, {{100, 240}, {300, 240}, {500, 240}}, CircleRefusal::OnOneLine, 0, 1, 1, "лежат на одной прямой"},
      {PressMode::Automatic, {{703, 267}}, CircleRefusal::None, 529, 0, -1, ""},
  };
  const std::string files = " '" + dir_ + "/0.bmp' '" + dir_ + "/45.bmp' '" + dir_ + "/90.bmp' '" + dir_ + "/135.bmp'";
  const std::string err = dir_ + "/stderr.txt";
  for (const auto& c : cases) {
    std::string args = c.mode == PressMode::Manual ? " --points" : " --start";
    for (auto [x, y] : c.presses) args += " " + std::to_string(x) + " " + std::to_string(y);
    SCOPED_TRACE(args);
    AppState s = *state_;
    s.Circle = {600, 500, 100};
    SphereSession session;
    const PressResult r = test::PressAll(s, session, c.presses, c.mode);
    EXPECT_EQ(r.refusal, c.refusal);
    if (c.mode == PressMode::Automatic) EXPECT_EQ(r.boundaryCount, c.boundary);
    if (c.refusal != CircleRefusal::None) {
      EXPECT_FALSE(s.Circle.exists());
      EXPECT_EQ(r.messages.back().title, kNoCircleTitle);
    } else {  // the orange, measured apart from this system
      EXPECT_LE(std::hypot(s.Circle.CircleCentreX - 903, s.Circle.CircleCentreY - 267), 10);
      EXPECT_NEAR(s.Circle.CircleRadius, 202, 5);
    }
    for (const auto& [refine, status] : {std::pair{"", c.status}, {" --refine", c.refinedStatus}}) {
      if (status < 0) continue;
      EXPECT_EQ(test::RunCli("sphere" + files + args + refine, err).status, status) << refine;
      EXPECT_NE(test::ReadAll(err).find(c.says), std::string::npos) << test::ReadAll(err);
    }
  }
}

TEST_F(FruitFrame, PressesAndClicksOnTheCrestRefineToTheOrange) {
  // Where the trace goes wrong (it stops after 6 cells, fits radius 90, or
  // misses by 9.5), on the banana's stalk where it touches the rim, and on
  // the crest at eight points all round.
  std::vector<std::vector<std::pair<int, int>>> presses = {{{978, 86}}, {{1089, 345}}, {{701, 268}}, {{1039, 418}}};
  for (int k = 0; k < 8; ++k) presses.push_back({Crest(kPiD / 8 + k * kPiD / 4)});
  for (double a : {0.2, 1.0, 2.5}) presses.push_back({Crest(a), Crest(a + 2 * kPiD / 3), Crest(a + 4 * kPiD / 3)});
  for (const auto& cells : presses) {
    SCOPED_TRACE(testing::Message() << "press " << cells[0].first << "," << cells[0].second << " of " << cells.size());
    const RefinedCircle r = PressAndRefine(cells);
    ExpectRefined(r, kOrange, 2.0, 1.5, 3.0);
    EXPECT_GT(r.points, 0.6 * r.rays);  // the rim all round, less the stalks
  }
  // The banana's upper edge, a long shallow curve: no circle.
  for (const auto& cell : {std::pair{600, 636}, {800, 620}})
    EXPECT_EQ(PressAndRefine({cell}).failure, RefineFailure::NotACircle) << cell.first;
}

}  // namespace
}  // namespace ps
