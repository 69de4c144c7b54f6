// The map press: pressed cell, edge refusals, manual points, automatic trace and fit, the
// marks and messages handed to the window; the refinement of the circle on discs and sample
// scenes; the bundled set and the real fruit frame, on the map and by the sphere command.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "polarization/sample_scene.h"
#include "sphere/sphere_test_util.h"
#include "support/test_support.h"

namespace ps {
namespace {

using test::At;
using test::PressAll;

int CountColour(const PressResult& r, uint32_t c) {
  return static_cast<int>(std::count_if(r.marks.begin(), r.marks.end(), [&](const MapMark& m) { return m.colour == c; }));
}

auto Rect(const MapMark& m) { return std::make_tuple(m.left, m.top, m.right, m.bottom); }

TEST(PressedCellAndMarks, Geometry) {
  // Halves go to even; presses beyond the map are held to it; no image: cell 0.
  EXPECT_EQ(std::make_tuple(PressedCell(5.4f, 8.6f, 3, 100, 100), PressedCell(2.5f, 3.5f, 1, 100, 100),
                            PressedCell(-40.0f, 1e9f, 9, 50, 40), PressedCell(448.9f, 0.0f, 9, 50, 40)),
            std::make_tuple(std::pair{2, 4}, std::pair{3, 5}, std::pair{1, 40}, std::pair{50, 1}));
  EXPECT_EQ(PressedCell(10.0f, 10.0f, 4, 0, 0).first, 0);
  EXPECT_EQ(std::make_pair(Rect(CellMark(3, 2, 9, kTraceColour)), Rect(CellMark(3, 2, 1, kTraceColour))),
            std::make_pair(std::make_tuple(18.0, 9.0, 26.0, 17.0), std::make_tuple(2.0, 1.0, 2.0, 1.0)));
  const auto marks = CircleMarks({10, 20, 5}, 4);
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_TRUE(marks[1].kind == MarkKind::Circle && marks[1].colour == kCircleColour);
  EXPECT_EQ(std::make_tuple(Rect(marks[0]), marks[1].centreX, marks[1].centreY, marks[1].radius),
            std::make_tuple(std::make_tuple(36.0, 76.0, 38.0, 78.0), 37.0, 77.0, 20.0));
}

TEST(MapPress, EdgeCellsShowTheMessageAndTheNextRingTracesNothing) {
  for (PressMode mode : {PressMode::Automatic, PressMode::Manual}) {
    AppState s = test::MapState(40, 30, 5);
    SphereSession session;
    session.BoundaryMarks.assign(7, 3);
    for (auto [x, y] : {std::pair{1, 10}, {40, 10}, {10, 1}, {10, 30}}) {
      const PressResult r = HandleMapPress(s, session, At(s, x, y, mode));
      ASSERT_EQ(r.messages.size(), 1u);
      EXPECT_EQ(std::tie(r.messages[0].text, r.messages[0].title), std::make_tuple(kEdgeMessage, ""));
      EXPECT_TRUE(!r.selectionChanged && r.marks.empty() && session.ManualPointCount == 0);
    }
    // The marks are renewed even so.
    EXPECT_EQ(session.BoundaryMarks, std::vector<int32_t>(40 * 30, 0));
    if (mode == PressMode::Manual) continue;
    // An automatic start must lie two cells inside: one cell in, it only selects.
    for (auto [x, y] : {std::pair{2, 10}, {39, 10}, {10, 2}, {10, 29}}) {
      const PressResult r = HandleMapPress(s, session, At(s, x, y, mode));
      EXPECT_TRUE(!r.traced && r.messages.empty() && r.selectionChanged) << x << "," << y;
    }
    EXPECT_EQ(s.Detection.RotationLimit, 0);  // not even read
  }
  AppState empty;  // no image set at all: every press is at the edge
  SphereSession session;
  EXPECT_EQ(HandleMapPress(empty, session, PressInput{}).messages.size(), 1u);
}

TEST(MapPress, ManualPointsFitThreeAndReplaceTheOldest) {
  AppState s = test::MapState(100, 80, 2);
  SphereSession session;
  // Other modes only select.
  for (PressMode mode : {PressMode::Automatic, PressMode::Indeterminate}) {
    const PressResult r = HandleMapPress(s, session, At(s, 2, 3, mode));
    EXPECT_TRUE(r.messages.empty() && r.marks.empty() && !r.traced && r.selectionChanged);
    EXPECT_EQ(std::make_tuple(s.SelectionLeft, s.SelectionBottom, session.ManualPointCount), std::make_tuple(2, 3, 0));
  }
  PressResult r = HandleMapPress(s, session, At(s, 40, 30, PressMode::Manual));
  EXPECT_TRUE(r.manualPointAdded && !r.circleChanged && session.ManualPointCount == 1 && r.marks.size() == 1);
  EXPECT_EQ(std::make_tuple(r.marks[0].colour, r.marks[0].left, r.marks[0].right), std::make_tuple(kManualPointColour, 78.0, 79.0));
  EXPECT_FALSE(HandleMapPress(s, session, At(s, 30, 40, PressMode::Manual)).circleChanged);
  r = HandleMapPress(s, session, At(s, 20, 30, PressMode::Manual));
  ASSERT_TRUE(r.circleChanged);
  test::ExpectCircleNear(s, {30, 30, 10}, 0, 0);
  EXPECT_TRUE(session.ManualPoints[0][0] == 20 && session.ManualPoints[2][1] == 30);  // newest first
  EXPECT_TRUE(r.marks.size() == 2u && CountColour(r, kCircleColour) == 2);  // centre square and outline
  // The fourth press drops (40, 30): the circle through (50, 30), (20, 30),
  // (30, 40) has its centre on cell (35, 25). The earlier circle is painted over first.
  r = HandleMapPress(s, session, At(s, 50, 30, PressMode::Manual));
  ASSERT_TRUE(r.circleChanged);
  EXPECT_EQ(std::make_pair(CountColour(r, kCircleEraseColour), r.marks.front().colour), std::make_pair(2, kCircleEraseColour));
  EXPECT_EQ(session.ManualPointCount, 3);
  test::ExpectCircleNear(s, {35, 25, std::sqrt(250.0)}, 0, 1e-5);
}

TEST(MapPress, AutomaticTraceClosesAndFitsOrIsCancelled) {
  AppState s = test::MapState(120, 100, 3);
  test::ForEachRingCell(60, 50, 20, [&](int x, int y) { s.ResultMap.set(x, y, 19, -100); });
  s.Circle = {58, 52, 19};
  // A cancelled fit keeps the circle: painted over before the trace, drawn again after it.
  SphereSession session;
  PressResult r = HandleMapPress(s, session, At(s, 40, 46, PressMode::Automatic), test::Cancelled());
  EXPECT_TRUE(r.traced && !r.circleChanged && r.messages.empty());
  test::ExpectCircleNear(s, {58, 52, 19}, 0, 0);
  EXPECT_EQ(std::make_pair(CountColour(r, kCircleEraseColour), CountColour(r, kCircleColour)), std::make_pair(2, 2));
  EXPECT_EQ(r.marks.back().colour, kCircleColour);

  r = HandleMapPress(s, session, At(s, 40, 46, PressMode::Automatic));
  ASSERT_TRUE(r.traced && r.circleChanged && r.messages.empty());
  EXPECT_EQ(r.traceEnd, TraceEnd::Closed);
  test::ExpectCircleNear(s, {60, 50, 21}, 1, 1);
  // The old circle is drawn over first, then every move, every boundary cell
  // again, and the new circle last. The boundary list holds every point twice, n rows apart.
  const int n = r.boundaryCount;
  EXPECT_EQ(std::make_pair(n, session.BoundaryList.size()), std::make_pair(session.BoundaryCount, size_t(2 * n)));
  EXPECT_TRUE(r.marks.front().colour == kCircleEraseColour && r.marks.back().colour == kCircleColour);
  EXPECT_EQ(std::make_pair(CountColour(r, kCircleEraseColour), CountColour(r, kTraceColour)), std::make_pair(2, 2 * n));
  for (int k = 0; k < n; ++k) EXPECT_EQ(session.BoundaryList[k], session.BoundaryList[k + n]);
  // The rotation limits were read from their fields (degrees) while 0.
  EXPECT_EQ(std::make_pair(s.Detection.RotationLimit, s.Detection.RotationChangeLimit),
            std::make_pair(60 * kPi / 180, 35 * kPi / 180));
}

TEST(MapPress, DeadEndsAndTheMargin) {
  AppState s = test::MapState(30, 20, 4);
  SphereSession session;
  PressResult r = HandleMapPress(s, session, At(s, 15, 10, PressMode::Automatic));  // a flat response
  ASSERT_TRUE(r.traced && r.traceEnd == TraceEnd::DeadEnd);
  ASSERT_EQ(r.messages.size(), 2u);  // the dead end, then the refused fit
  EXPECT_EQ(std::tie(r.messages[0].text, r.messages[0].title), std::make_tuple(kDeadEndMessage, kDeadEndTitle));
  EXPECT_EQ(std::make_pair(CountColour(r, kDeadEndColour), r.boundaryCount), std::make_pair(1, 1));
  // A trace reaching the margin is marked as such; a set rotation limit is kept.
  for (int x = 2; x <= 4; ++x) s.ResultMap.set(x, 10, 19, -50);
  s.Detection.RotationLimit = 0.5;
  r = HandleMapPress(s, session, At(s, 5, 10, PressMode::Automatic));
  EXPECT_TRUE(r.traced && r.traceEnd == TraceEnd::EdgeReached);
  EXPECT_EQ(CountColour(r, kTraceEdgeColour), r.boundaryCount);
  EXPECT_EQ(s.Detection.RotationLimit, 0.5);
  // The set grew but the map was not rebuilt: a start beyond the map reads nothing.
  s.SetWidth = 60;
  r = HandleMapPress(s, session, At(s, 40, 10, PressMode::Automatic));
  EXPECT_TRUE(r.traced && r.traceEnd == TraceEnd::DeadEnd);
}

// Fits that give no usable circle: the user is told why, the circle is
// cleared (radius 0) and an earlier one, if any, is painted over exactly once.
TEST(MapPress, RefusedFitsClearTheCircleAndSayWhy) {
  std::vector<std::pair<int, int>> line;
  for (int x = 3; x <= 57; ++x) line.push_back({x, 20});
  // The presses (the last one fits), the cells of layer 19 set to -100, the refusal, its text.
  const struct {
    PressMode mode;
    std::vector<std::pair<int, int>> presses, response;
    CircleRefusal refusal;
    const char* says;
    bool hadCircle = true;
  } cases[] = {
      {PressMode::Automatic, {{30, 20}}, {}, CircleRefusal::TooFewPoints, "На границе 1 точка, а для окружности нужно не меньше 8."},
      {PressMode::Automatic, {{30, 20}}, {}, CircleRefusal::TooFewPoints, "На границе 1 точка", false},
      {PressMode::Automatic, {{30, 20}}, line, CircleRefusal::OnOneLine, "Все точки границы лежат на одной прямой"},
      {PressMode::Manual, {{10, 10}, {20, 20}, {30, 30}}, {}, CircleRefusal::OnOneLine, "Три указанные точки лежат на одной прямой"},
      {PressMode::Manual, {{10, 10}, {20, 25}, {10, 10}}, {}, CircleRefusal::OnOneLine, "или совпадают"},
      {PressMode::Manual, {{10, 5}, {30, 5}, {50, 7}}, {}, CircleRefusal::OutsideImage, "не помещается в изображение 60 x 40"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    AppState s = test::MapState(60, 40, 2);
    for (auto [x, y] : c.response) s.ResultMap.set(x, y, 19, -100);
    if (c.hadCircle) s.Circle = {30, 20, 8};  // an earlier fit
    SphereSession session;
    const PressResult r = PressAll(s, session, c.presses, c.mode);
    EXPECT_EQ(r.refusal, c.refusal);
    EXPECT_TRUE(!r.circleChanged && !s.Circle.exists());
    ASSERT_FALSE(r.messages.empty());
    EXPECT_EQ(r.messages.back().title, kNoCircleTitle);
    EXPECT_NE(r.messages.back().text.find(c.says), std::string::npos) << r.messages.back().text;
    EXPECT_EQ(r.messages.back().text.find("Прежняя окружность шара снята.") != std::string::npos, c.hadCircle);
    EXPECT_EQ(std::make_pair(CountColour(r, kCircleEraseColour), CountColour(r, kCircleColour)),
              std::make_pair(c.hadCircle ? 2 : 0, 0));
  }
}

TEST(FitChecks, PointsAndCircles) {
  using P = std::vector<std::pair<int, int>>;
  using R = CircleRefusal;
  EXPECT_EQ(std::make_tuple(CheckFitPoints(P{{1, 1}, {2, 2}}, 3), CheckFitPoints(P{{5, 5}, {5, 5}, {5, 5}}, 3),
                            CheckFitPoints(P{{5, 5}, {5, 5}, {7, 9}, {9, 13}}, 3),
                            CheckFitPoints(P{{5, 5}, {5, 5}, {7, 9}, {9, 14}}, 3), CheckFitPoints(P{}, 0)),
            std::make_tuple(R::TooFewPoints, R::OnOneLine, R::OnOneLine, R::None, R::OnOneLine));
  // The disc must lie in the cells 0.5 .. size + 0.5 of a 20 x 20 image.
  const std::pair<CircleFit, CircleRefusal> circles[] = {
      {{true, 10.5, 10.5, 10}, CircleRefusal::None},  // touches both far sides
      {{true, 10.5, 10.5, 10.01}, CircleRefusal::OutsideImage},
      {{true, 1, 1, 758.6}, CircleRefusal::OutsideImage},
      {{true, 16, 10, 5}, CircleRefusal::OutsideImage},  // beyond the right side only
      {{true, 15, 10, 5}, CircleRefusal::None},
      {{false, 10, 10, 3}, CircleRefusal::NoCentre},
  };
  for (const auto& [fit, want] : circles) EXPECT_EQ(CheckFittedCircle(fit, 20, 20), want) << fit.radius;
}

// The sphere of the bundled set, as its truth.txt gives it.
const Circle2 kSample{166, 118, 79};

TEST(SampleSphere, TraceFromTheOutlineAndThreeRimPointsFitTheTruthCircle) {
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
      const auto [x, y] = test::RimCell(kSample, k * kPi / 2);
      SCOPED_TRACE(testing::Message() << "mode " << mode << " start " << x << "," << y);
      AppState state = contour;
      SphereSession session;
      const PressResult res = HandleMapPress(state, session, test::At(state, x, y, PressMode::Automatic));
      ASSERT_TRUE(res.traced && res.circleChanged);
      EXPECT_GT(res.boundaryCount, 150);  // a good part of the way round
      test::ExpectCircleNear(state, kSample, 2, 3);
    }
  }
  SphereSession session;
  const std::vector<std::pair<int, int>> rim = {test::RimCell(kSample, 0.3), test::RimCell(kSample, 2.2), test::RimCell(kSample, 4.1)};
  ASSERT_TRUE(test::PressAll(loaded, session, rim, PressMode::Manual).circleChanged);
  test::ExpectCircleNear(loaded, kSample, 1.5, 1.5);
}

std::string Sphere(const std::string& args) {
  std::string a = "sphere";
  for (const std::string& f : test::SampleFiles()) a += " " + f;
  return a + " " + args;
}

TEST(SphereCommand, TraceLayersPointsRefinementAndRefusals) {
  const std::string dir = test::TempDir("sphere-cli"), err = dir + "/err.txt";
  const auto [x, y] = test::RimCell(kSample, -kPi / 2);
  // The arguments, the status, parts of stdout, a part not in it (null: stdout empty), a part of stderr.
  const struct { std::string args; int status; std::vector<const char*> out; const char *absent, *says; } cases[] = {
      {"--mode max --json --out " + dir + " --start " + std::to_string(x) + " " + std::to_string(y), 0,
       {"\"boundary_points\": ", "\"end\": \""}, "refined", ""},
      {"--json --points 40 30 30 40 20 30", 0, {"\"centre_x\": 30", "\"radius\": 10", "\"end\": \"manual\""}, "refined", ""},
      {"--start 245 118 --refine --json", 0, {"\"refined\": {\"centre_x\": ", "\"points\": ", "\"rms\": "}, "failure", ""},
      // Three clicks in the dark background: no edge, the unrefined circle is kept.
      {"--points 20 20 40 10 30 40 --refine --json", 0,
       {"\"failure\": \"too_few_points\", \"message\": \"Окружность не уточнена"}, "", ""},
      {"", 2, {}, nullptr, ""},  // no choice of method, or both
      {"--start 5 5 --points 1 2 3 4 5 6", 2, {}, nullptr, ""},
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
  test::ExpectCircleNear(number("centre_x"), number("centre_y"), number("radius"), kSample, 2, 3);
  for (int layer = 19; layer <= 21; ++layer)  // the contour layers as float64 arrays
    EXPECT_NE(test::ReadAll(dir + "/layer_" + std::to_string(layer) + ".npy").find("'descr': '<f8'"), std::string::npos);
}

using test::RimCell;
double CentreOff(const Circle2& a, const Circle2& b) { return std::hypot(a.x - b.x, a.y - b.y); }
void ExpectRefined(const RefinedCircle& r, const Circle2& truth, double centreOff, double radiusOff, double rms) {
  ASSERT_TRUE(r.refined) << r.message;
  test::ExpectCircleNear(r.circle.x, r.circle.y, r.circle.r, truth, centreOff, radiusOff);
  EXPECT_LT(r.rms, rms);
}

TEST(CircleFits, ExactArcsFromAFarStartAndDegeneratePoints) {
  for (const auto& [truth, from, to] : {std::tuple{Circle2{903.3, 267.7, 202.3}, 0.0, 2 * kPi},
                                        std::tuple{Circle2{12.25, -7.5, 30.125}, 0.3, 0.3 + kPi / 2}}) {
    std::vector<std::pair<double, double>> pts;
    for (int i = 0; i < 100; ++i) {
      const double a = from + (to - from) * i / 99;
      pts.emplace_back(truth.x + truth.r * std::cos(a), truth.y + truth.r * std::sin(a));
    }
    Circle2 taubin, geometric;
    ASSERT_TRUE(FitCircleTaubin(pts, &taubin) && FitCircleGeometric(pts, {truth.x + 5, truth.y - 4, truth.r * 0.8}, &geometric));
    for (const Circle2& f : {taubin, geometric}) EXPECT_LE(CentreOff(f, truth) + std::fabs(f.r - truth.r), 1e-7);
  }
  Circle2 c;
  ASSERT_TRUE(CircleThrough({{{40, 30}, {30, 40}, {20, 30}}}, &c));
  EXPECT_LE(CentreOff(c, {30, 30, 10}) + std::fabs(c.r - 10), 1e-12);
  EXPECT_FALSE(FitCircleTaubin({{0, 0}, {1, 1}, {2, 2}, {5, 5}}, &c) || FitCircleGeometric({{0, 0}, {1, 0}}, {0, 0, 1}, &c) ||
               CircleThrough({{{3, 4}, {3, 4}, {7, 1}}}, &c));
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
  const struct { const char* name; const Image& image; RefineSeed seed; F failure; } cases[] = {
      {"press without the contour", disc, RefineSeed::Press(60, 40), F::NoContour},
      {"press on a uniform image", flat, RefineSeed::Press(40, 40), F::NoSeed},
      {"press far from any edge", disc, RefineSeed::Press(40, 40), F::NoSeed},
      {"collinear clicks", disc, RefineSeed::ThreeClicks({{{20, 20}, {30, 30}, {40, 40}}}), F::NoSeed},
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
  const struct { int w, h; uint32_t seed; Circle2 truth; } scenes[] = {
      {160, 120, 3, {81.37, 58.62, 38.45}}, {240, 200, 7, {110.5, 104.25, 71.8}}, {120, 120, 5, {55.71, 63.08, 24.33}}};
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

// Just inside the orange's rim the trace dies after 6 and after 1 point, and three clicks lie
// on one row: refused on the map and by the command (status 1), where --refine still finds
// the circle from the press but not from the clicks. On the rim itself the orange is found.
TEST_F(FruitFrame, DegenerateTracesAndClicksAreRefusedOnTheMapAndByTheCommand) {
  ASSERT_EQ(std::make_pair(state_->SetWidth, state_->SetHeight), std::make_pair(1224, 1024));
  // The boundary's point count, the command's status without and with --refine (-1: not run), its message.
  const struct { PressMode mode; std::vector<std::pair<int, int>> presses; CircleRefusal refusal;
                 int boundary, status, refinedStatus; const char* says; } cases[] = {
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
    } else {
      test::ExpectCircleNear(s, kOrange, 10, 5);
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
  for (int k = 0; k < 8; ++k) presses.push_back({Crest(kPi / 8 + k * kPi / 4)});
  for (double a : {0.2, 1.0, 2.5}) presses.push_back({Crest(a), Crest(a + 2 * kPi / 3), Crest(a + 4 * kPi / 3)});
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
