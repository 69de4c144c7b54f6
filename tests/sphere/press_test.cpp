// The map press: pressed cell, edge refusals, manual points, automatic trace and
// fit, the marks and messages handed to the window; the sphere of the bundled
// sample set against its truth file, and the sphere command on the same set.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "sphere/sphere_test_util.h"
#include "support/test_support.h"

namespace ps {
namespace {

using test::At;
using test::PressAll;

int CountColour(const PressResult& r, uint32_t colour) {
  int n = 0;
  for (const MapMark& m : r.marks) n += m.colour == colour;
  return n;
}

auto Rect(const MapMark& m) { return std::make_tuple(m.left, m.top, m.right, m.bottom); }
auto CircleOf(const AppState& s) {
  return std::make_tuple(s.Circle.CircleCentreX, s.Circle.CircleCentreY, s.Circle.CircleRadius);
}

TEST(PressedCellAndMarks, Geometry) {
  EXPECT_EQ(PressedCell(5.4f, 8.6f, 3, 100, 100), std::make_pair(2, 4));
  EXPECT_EQ(PressedCell(2.5f, 3.5f, 1, 100, 100), std::make_pair(3, 5));  // halves go to even
  EXPECT_EQ(PressedCell(-40.0f, 1e9f, 9, 50, 40), std::make_pair(1, 40));
  EXPECT_EQ(PressedCell(448.9f, 0.0f, 9, 50, 40), std::make_pair(50, 1));
  EXPECT_EQ(PressedCell(10.0f, 10.0f, 4, 0, 0).first, 0);  // no image: cell 0
  EXPECT_EQ(Rect(CellMark(3, 2, 9, kTraceColour)), std::make_tuple(18.0, 9.0, 26.0, 17.0));
  EXPECT_EQ(Rect(CellMark(3, 2, 1, kTraceColour)), std::make_tuple(2.0, 1.0, 2.0, 1.0));
  const auto marks = CircleMarks({10, 20, 5}, 4);
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(Rect(marks[0]), std::make_tuple(36.0, 76.0, 38.0, 78.0));
  EXPECT_TRUE(marks[1].kind == MarkKind::Circle && marks[1].colour == kCircleColour);
  EXPECT_EQ(std::make_tuple(marks[1].centreX, marks[1].centreY, marks[1].radius), std::make_tuple(37.0, 77.0, 20.0));
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
  EXPECT_TRUE(r.manualPointAdded && !r.circleChanged && session.ManualPointCount == 1);
  ASSERT_EQ(r.marks.size(), 1u);
  EXPECT_EQ(r.marks[0].colour, kManualPointColour);
  EXPECT_EQ(std::make_pair(r.marks[0].left, r.marks[0].right), std::make_pair(78.0, 79.0));
  EXPECT_FALSE(HandleMapPress(s, session, At(s, 30, 40, PressMode::Manual)).circleChanged);
  r = HandleMapPress(s, session, At(s, 20, 30, PressMode::Manual));
  ASSERT_TRUE(r.circleChanged);
  EXPECT_EQ(CircleOf(s), std::make_tuple(30.0, 30.0, 10.0));
  EXPECT_TRUE(session.ManualPoints[0][0] == 20 && session.ManualPoints[2][1] == 30);  // newest first
  EXPECT_TRUE(r.marks.size() == 2u && CountColour(r, kCircleColour) == 2);  // centre square and outline
  // The fourth press drops (40, 30): the circle through (50, 30), (20, 30),
  // (30, 40) has its centre on cell (35, 25). The earlier circle is painted over first.
  r = HandleMapPress(s, session, At(s, 50, 30, PressMode::Manual));
  ASSERT_TRUE(r.circleChanged);
  EXPECT_EQ(std::make_pair(CountColour(r, kCircleEraseColour), r.marks.front().colour), std::make_pair(2, kCircleEraseColour));
  EXPECT_EQ(session.ManualPointCount, 3);
  EXPECT_EQ(std::make_pair(s.Circle.CircleCentreX, s.Circle.CircleCentreY), std::make_pair(35.0, 25.0));
  EXPECT_NEAR(s.Circle.CircleRadius, std::sqrt(250.0), 1e-5);
}

TEST(MapPress, AutomaticTraceClosesAndFitsOrIsCancelled) {
  AppState s = test::MapState(120, 100, 3);
  test::ForEachRingCell(60, 50, 20, [&](int x, int y) { s.ResultMap.set(x, y, 19, -100); });
  s.Circle = {58, 52, 19};
  // A cancelled fit keeps the circle: painted over before the trace, drawn again after it.
  std::atomic<bool> cancel{true};
  Progress progress;
  progress.cancel = &cancel;
  SphereSession session;
  PressResult r = HandleMapPress(s, session, At(s, 40, 46, PressMode::Automatic), progress);
  EXPECT_TRUE(r.traced && !r.circleChanged && r.messages.empty());
  EXPECT_EQ(CircleOf(s), std::make_tuple(58.0, 52.0, 19.0));
  EXPECT_EQ(std::make_pair(CountColour(r, kCircleEraseColour), CountColour(r, kCircleColour)), std::make_pair(2, 2));
  EXPECT_EQ(r.marks.back().colour, kCircleColour);

  r = HandleMapPress(s, session, At(s, 40, 46, PressMode::Automatic));
  ASSERT_TRUE(r.traced && r.circleChanged && r.messages.empty());
  EXPECT_EQ(r.traceEnd, TraceEnd::Closed);
  EXPECT_LE(std::hypot(s.Circle.CircleCentreX - 60, s.Circle.CircleCentreY - 50), 1);
  EXPECT_NEAR(s.Circle.CircleRadius, 21, 1);
  // The old circle is drawn over first, then every move, every boundary cell
  // again, and the new circle last.
  const int n = r.boundaryCount;
  EXPECT_EQ(n, session.BoundaryCount);
  EXPECT_TRUE(r.marks.front().colour == kCircleEraseColour && r.marks.back().colour == kCircleColour);
  EXPECT_EQ(std::make_pair(CountColour(r, kCircleEraseColour), CountColour(r, kTraceColour)), std::make_pair(2, 2 * n));
  // The boundary list holds every point twice, n rows apart.
  ASSERT_EQ(session.BoundaryList.size(), static_cast<size_t>(2 * n));
  for (int k = 0; k < n; ++k) {
    EXPECT_EQ(session.BoundaryList[k], session.BoundaryList[k + n]);
    const int x = static_cast<int>(session.BoundaryList[k][0]), y = static_cast<int>(session.BoundaryList[k][1]);
    EXPECT_EQ(session.BoundaryMarks[(y - 1) * 120 + (x - 1)], k + 1);
  }
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
  const struct {
    PressMode mode;
    std::vector<std::pair<int, int>> presses;   // the last one fits
    std::vector<std::pair<int, int>> response;  // cells of layer 19 set to -100
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
  EXPECT_EQ(CheckFitPoints(P{{1, 1}, {2, 2}}, 3), CircleRefusal::TooFewPoints);
  EXPECT_EQ(CheckFitPoints(P{{5, 5}, {5, 5}, {5, 5}}, 3), CircleRefusal::OnOneLine);
  EXPECT_EQ(CheckFitPoints(P{{5, 5}, {5, 5}, {7, 9}, {9, 13}}, 3), CircleRefusal::OnOneLine);
  EXPECT_EQ(CheckFitPoints(P{{5, 5}, {5, 5}, {7, 9}, {9, 14}}, 3), CircleRefusal::None);
  EXPECT_EQ(CheckFitPoints(P{}, 0), CircleRefusal::OnOneLine);
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
