// From the map to a circle: the detection settings, the contour response and its masks,
// the boundary trace, and the exhaustive circle fits against their plain versions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "sphere/circle_fit.h"
#include "sphere/contour.h"
#include "sphere/detection_settings.h"
#include "sphere/sphere_test_util.h"
#include "sphere/trace.h"
#include "state/number_format.h"

namespace ps {
namespace {

TEST(KernelPresets, ValuesAndTotals) {
  for (KernelPreset p : {KernelPreset::Square, KernelPreset::Gauss, KernelPreset::GaussWithoutCentre}) {
    const PresetKernels k = PresetValues(p);
    double total = 0;
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 5; ++c) {
        total += k.weight[r][c];
        if (r == 0 || r == 4 || c == 0 || c == 4) EXPECT_EQ(k.subtract[r][c], 0);
        EXPECT_EQ(std::make_pair(k.weight[r][c], k.weight[r][c]), std::make_pair(k.weight[c][r], k.weight[4 - r][c]));
      }
    EXPECT_NEAR(total, 100, 0.0005) << PresetCaption(p);
  }
  const PresetKernels g = PresetValues(KernelPreset::Gauss);
  EXPECT_EQ(std::make_tuple(g.weight[0][0], g.weight[0][1], g.weight[2][2], g.subtract[2][1]),
            std::make_tuple(0.0095f, 0.2009f, 32.3492f, 10.5588f));
  EXPECT_EQ(std::make_pair(PresetValueText(2.2947f, "."), KernelTotalText(PresetValues(KernelPreset::Square).weight, ",")),
            std::make_pair(std::string("2.2947"), std::string("Всего 100,000000 %  из 100 %")));
}

// The window's preset buttons, totals, show-mode options and the session's first
// preset are pinned by its own test; here the fields' texts and their parsing.
TEST(DetectionSettingsModel, LoadShowsTheSettingsAndEditsChangeTheirElements) {
  DetectionSettings s;
  const PresetKernels want = PresetValues(KernelPreset::GaussWithoutCentre);
  s.WeightKernel[0][0] = 3.5f;
  s.SubtractKernel[1][1] = 7;
  s.EllipticitySensitivity = 0.2;
  s.AzimuthSensitivity = 3;
  const DetectionSettings before = s;
  DetectionSettingsModel m(s, ",");
  m.Load();  // changes nothing
  EXPECT_EQ(std::tie(s.WeightKernel, s.SubtractKernel, s.EllipticitySensitivity, s.AzimuthSensitivity, s.RotationLimit),
            std::tie(before.WeightKernel, before.SubtractKernel, before.EllipticitySensitivity,
                     before.AzimuthSensitivity, before.RotationLimit));
  const auto& f = m.fields();
  EXPECT_EQ(std::tie(f.Weight[0], f.Weight[12], f.Subtract[0], f.Subtract[4], f.Ellipticity, f.Azimuth, f.DiameterDeviation),
            std::make_tuple("3,5", "10,3802", "7", "100", "20", "300", "0,5"));
  // A zero limit only shows the field's initial text; a set one shows degrees.
  EXPECT_EQ(std::tie(f.RotationLimit, f.RotationChangeLimit), std::make_tuple("60", "35"));
  s.RotationLimit = 90 * kPi / 180;
  s.RotationChangeLimit = 0.5;
  m.Load();
  EXPECT_EQ(std::tie(f.RotationLimit, f.RotationChangeLimit), std::make_tuple("90", "29"));
  // "Обновить" reads the weight boxes again.
  for (auto& row : s.WeightKernel) row.fill(0);
  m.Refresh();
  EXPECT_EQ(std::make_pair(s.WeightKernel[0][0], s.WeightKernel[2][2]), std::make_pair(3.5f, want.weight[2][2]));

  const float kept = s.WeightKernel[1][2];
  m.EditWeight(8, "abc");  // not a number: unchanged
  EXPECT_EQ(s.WeightKernel[1][2], kept);
  m.EditWeight(8, "12,5");
  m.EditSubtract(1, "3,25");  // Text001 = SubtractKernel(2, 2)
  m.EditSubtract(9, "1");     // Text009 = SubtractKernel(4, 4)
  EXPECT_EQ(std::make_tuple(s.WeightKernel[1][2], s.SubtractKernel[1][1], s.SubtractKernel[3][3]),
            std::make_tuple(12.5f, 3.25f, 1.0f));
  const auto kernel = s.WeightKernel;  // boxes that do not exist change nothing
  m.EditWeight(0, "5");
  m.EditWeight(26, "5");
  m.EditSubtract(10, "5");
  EXPECT_EQ(s.WeightKernel, kernel);
  const double change = s.RotationChangeLimit;
  m.EditEllipticity("50");
  m.EditAzimuth("250");
  m.EditAzimuth("");  // empty: kept
  m.EditRotationChangeLimit("x");
  m.EditDiameterDeviation("0,75");
  EXPECT_EQ(std::tie(s.EllipticitySensitivity, s.AzimuthSensitivity, s.RotationChangeLimit, s.DiameterDeviationLimit),
            std::make_tuple(0.5, 2.5, change, 0.75));
}

// Kernel and sensitivity fields take only numbers in their range. While
// typing, anything else leaves the stored value; on confirming, the field
// goes back to the value from before the entry and the refusal says why.
TEST(DetectionSettingsModel, EntriesOutOfRangeOrNotNumbersAreRefused) {
  // The field, the texts it shows while typing, the percent stored after confirming, a part of the refusal (null: taken).
  struct Case { CheckedField field; std::vector<const char*> typed; double stored; const char* says; };
  const Case cases[] = {
      {CheckedField::Weight, {"1", "10", "100"}, 100, nullptr},
      {CheckedField::Weight, {"0"}, 0, nullptr},
      {CheckedField::Weight, {"-", "-5", "-50"}, 5.7546, "Число -50 вне этих пределов."},
      {CheckedField::Weight, {"1", "10", "100", "100,", "100,0", "100,01"}, 5.7546, "Оставлено прежнее значение 5,7546."},
      {CheckedField::Weight, {"a", "ab", "abc"}, 5.7546, "«abc» — не число."},
      {CheckedField::Subtract, {"1", "15", "150"}, 100, "Весовой коэффициент вычитаемой области задаётся числом от 0 до 100 %."},
      {CheckedField::Ellipticity, {"1", "10", "100", "1000", "10000"}, 10000, nullptr},
      {CheckedField::Ellipticity, {"10001"}, 100, "Чувствительность к изменению эллиптичности задаётся числом от 0 до 10000 %."},
      {CheckedField::Azimuth, {"50%"}, 100, "не число"},
      {CheckedField::Weight, {""}, 5.7546, nullptr},  // emptied: back to its value without a message
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.back());
    DetectionSettings s;
    DetectionSettingsModel m(s, ",");
    m.Load();
    std::optional<Message> refusal;
    double stored = 0;
    std::string shown;
    for (const char* t : c.typed) {
      if (c.field == CheckedField::Weight) m.EditWeight(7, t);  // WeightKernel(2, 2)
      if (c.field == CheckedField::Subtract) m.EditSubtract(5, t);  // SubtractKernel(3, 3)
      if (c.field == CheckedField::Ellipticity) m.EditEllipticity(t);
      if (c.field == CheckedField::Azimuth) m.EditAzimuth(t);
    }
    const auto& f = m.fields();
    switch (c.field) {
      case CheckedField::Weight: refusal = m.ConfirmWeight(7), stored = s.WeightKernel[1][1], shown = f.Weight[6]; break;
      case CheckedField::Subtract: refusal = m.ConfirmSubtract(5), stored = s.SubtractKernel[2][2], shown = f.Subtract[4]; break;
      case CheckedField::Ellipticity: refusal = m.ConfirmEllipticity(), stored = s.EllipticitySensitivity * 100, shown = f.Ellipticity; break;
      case CheckedField::Azimuth: refusal = m.ConfirmAzimuth(), stored = s.AzimuthSensitivity * 100, shown = f.Azimuth; break;
    }
    EXPECT_NEAR(stored, c.stored, 1e-4);
    EXPECT_EQ(static_cast<float>(*ParseNumber(shown, ",")), static_cast<float>(c.stored));  // shows what is stored
    ASSERT_EQ(refusal.has_value(), c.says != nullptr);
    if (refusal) {
      EXPECT_NE(refusal->text.find(c.says), std::string::npos) << refusal->text;
      EXPECT_EQ(std::make_pair(refusal->title, refusal->icon), std::make_pair(std::string("Настройки"), MessageIcon::Exclamation));
    }
  }
}

TEST(DetectionSettings, PreviewGreyAndUnreadableRotationLimits) {
  // 50 -> 127.5 rounds to even; out-of-range percentages are held.
  for (auto [percent, want] : {std::pair{0.0f, 255}, {100.0f, 0}, {50.0f, 128}, {-20.0f, 255}, {180.0f, 0}, {10.3802f, 229}})
    EXPECT_EQ(PreviewGrey(percent), want) << percent;
  DetectionSettings t;  // read while 0 and kept once set: pinned by the press tests
  ReadRotationLimits(t, "", "abc", ",");
  EXPECT_EQ(std::make_pair(t.RotationLimit, t.RotationChangeLimit), std::make_pair(0.0, 0.0));
}

struct Layers {
  std::vector<double> l19, l20, l21;
  explicit Layers(size_t n) : l19(n, -7.0), l20(n, -7.0), l21(n, -7.0) {}
};

// The fast version on `threads` threads (0: all cores), or the plain loop for threads < 0.
Layers Contour(const std::vector<double>& v, int w, int h, bool autocontrast, int threads = 0) {
  Layers out(v.size());
  if (threads < 0)
    ContourResponseReference(v.data(), w, h, autocontrast, out.l19.data(), out.l20.data(), out.l21.data());
  else
    EXPECT_TRUE(ContourResponse(v.data(), w, h, autocontrast, out.l19.data(), out.l20.data(), out.l21.data(), {}, threads));
  return out;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(ContourMasks, ShapesAndCounts) {
  const ContourMasks m = BuildContourMasks();
  int plus = 0, minus = 0, disc = 0, core = 0;
  for (int a = 0; a < 17; ++a)
    for (int b = 0; b < 17; ++b) {
      plus += m.Edge1[a][b] == 1, minus += m.Edge1[a][b] == -1, disc += m.Disc[a][b] != 0, core += m.Disc[a][b] == 7;
      // Edge2 is Edge1 transposed, the disc symmetric both ways, the centre line empty.
      EXPECT_EQ(std::make_tuple(m.Edge2[a][b], m.Disc[16 - a][b], m.Disc[a][16 - b], b == 8 ? m.Edge1[a][b] : 0),
                std::make_tuple(m.Edge1[b][a], m.Disc[a][b], m.Disc[a][b], 0));
    }
  EXPECT_EQ(std::make_tuple(plus, minus, disc, core), std::make_tuple(15, 15, 221, 21));
  // (a, b) 1-based: (8, 6) and (6, 8) are +1, (12, 10) is -1, (7, 6) lies outside.
  EXPECT_EQ(std::make_tuple(m.Edge1[7][5], m.Edge1[5][7], m.Edge1[11][9], m.Edge1[6][5]), std::make_tuple(1, 1, -1, 0));
  // Disc: (1, 7) and (9, 1) on the outermost ring, (6, 1) outside.
  EXPECT_EQ(std::make_tuple(m.Disc[0][6], m.Disc[8][0], m.Disc[5][0]), std::make_tuple(1, 1, 0));
}

TEST(ContourResponse, VerticalStepAndBorders) {
  // Columns 1..20 at 10, columns 21..40 at 60.
  const int w = 40, h = 30;
  std::vector<double> v(w * h);
  for (size_t i = 0; i < v.size(); ++i) v[i] = i % w < 20 ? 10 : 60;
  const Layers out = Contour(v, w, h, false);
  auto at = [&](const std::vector<double>& L, int x, int y) { return L[(y - 1) * w + (x - 1)]; };
  for (int y = 1; y <= h; ++y) {
    // The two columns either side of the step see the whole half discs.
    EXPECT_EQ(std::make_tuple(at(out.l21, 20, y), at(out.l21, 21, y), at(out.l21, 5, y), at(out.l21, 36, y)),
              std::make_tuple(15 * 50.0, 15 * 50.0, 0.0, 0.0)) << y;
    // Negative on the crest, rising towards 0 away from it; reads above and
    // below repeat the border rows, so every row is the same.
    EXPECT_LT(at(out.l19, 20, y), std::min(0.0, at(out.l19, 17, y))) << y;
    EXPECT_LE(at(out.l19, 21, y), at(out.l19, 24, y)) << y;
    EXPECT_EQ(at(out.l19, 20, y), at(out.l19, 20, 15));
  }
  // A uniform image gives exactly 0, and autocontrast its own value.
  const Layers flat = Contour(std::vector<double>(w * h, 137.25), w, h, true);
  for (size_t i = 0; i < v.size(); ++i)
    ASSERT_EQ(std::make_tuple(flat.l19[i], flat.l21[i], flat.l20[i]), std::make_tuple(0.0, 0.0, 137.25)) << i;
}

TEST(ContourResponse, FastEqualsPlainLoopBitForBit) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> real(0, 255);
  const int sizes[][2] = {{1, 1}, {1, 7}, {5, 1}, {2, 3}, {17, 5}, {9, 30}, {40, 33}, {64, 3}, {101, 57}};
  for (const auto& [w, h] : sizes)
    for (int variant = 0; variant < 3; ++variant) {
      std::vector<double> v(w * h);
      for (double& x : v) x = variant == 0 ? rng() % 256 : variant == 1 ? real(rng) : (rng() % 3 == 0 ? 200.0 : 20.0);
      for (bool ac : {false, true}) {
        const Layers ref = Contour(v, w, h, ac, -1);
        if (!ac)  // without autocontrast layer 20 is left untouched
          for (double x : ref.l20) ASSERT_EQ(x, -7.0);
        for (int threads : {1, 2, 3}) {
          const Layers fast = Contour(v, w, h, ac, threads);
          ASSERT_TRUE(SameBits(fast.l21, ref.l21) && SameBits(fast.l19, ref.l19) && SameBits(fast.l20, ref.l20))
              << w << "x" << h << " variant " << variant << " ac " << ac << " threads " << threads;
        }
      }
    }
}

TEST(ContourResponse, StateVersionReadsTheChosenDefinition) {
  AppState s = test::MapState(20, 20);
  for (int y = 1; y <= 20; ++y)  // a step in the mean layer (7) only
    for (int x = 11; x <= 20; ++x) s.ResultMap.set(x, y, 7, 100);
  for (auto [mode, want] : {std::pair{kModeMax, 0.0}, {kModeMean, 1500.0}}) {
    s.IntensityMode = mode;
    ASSERT_TRUE(ContourResponse(s, mode == kModeMean));
    EXPECT_EQ(s.ResultMap.at(10, 10, 21), want);
  }
  EXPECT_TRUE(s.ResultMap.hasStorage(20));  // autocontrast fills layer 20
  AppState empty;  // no map, or cancelled: stops
  EXPECT_FALSE(ContourResponse(empty, false) || ContourResponse(s, false, test::Cancelled()));
}

TEST(ContourPointColour, Classification) {
  AppState s = test::MapState(7, 7);
  // Layer 19: a crest of -100 along column 4, -10 beside it, +5 elsewhere.
  for (int y = 1; y <= 7; ++y)
    for (int x = 1; x <= 7; ++x) {
      s.ResultMap.set(x, y, 19, x == 4 ? -100 : (x == 3 || x == 5) ? -10 : 5);
      s.ResultMap.set(x, y, 1, 80);
    }
  const struct { int x, y; bool autocontrast, withImage, drawn, contourPoint; } cases[] = {
      {1, 4, false, true, false, false},  // positive response: never drawn
      {4, 4, false, true, true, true},    // on the crest: 6 of the 9 cells are smaller
      {4, 4, false, false, true, true},
      {4, 4, true, true, true, false},    // autocontrast suppresses contour points
      {4, 4, true, false, false, false},
      {3, 4, false, true, true, false},   // beside the crest: only three cells are smaller
      {3, 4, false, false, false, false},
      {4, 1, false, true, true, false},   // border cells are never contour points
      {0, 4, false, true, false, false},  // outside the map
      {8, 4, false, true, false, false},
  };
  for (const auto& c : cases) {
    const ContourPointStyle p = ContourPointColour(s.ResultMap, c.x, c.y, c.autocontrast, c.withImage);
    EXPECT_EQ(std::make_pair(p.drawn, p.contourPoint), std::make_pair(c.drawn, c.contourPoint))
        << c.x << "," << c.y << " ac " << c.autocontrast << " image " << c.withImage;
  }
  // v = 100, g = 136 with the image; strong responses saturate to black.
  EXPECT_EQ(ContourPointColour(s.ResultMap, 4, 4, false, true).colour, SphereRgb(119, 119, 155));
  EXPECT_NE(ContourPointColour(s.ResultMap, 4, 4, false, false).colour, SphereRgb(255, 255, 255));  // stands out
  s.ResultMap.set(4, 4, 19, -1000);
  EXPECT_EQ(ContourPointColour(s.ResultMap, 4, 4, false, true).colour, SphereRgb(0, 0, 0));
  EXPECT_FALSE(ContourPointColour(test::MapState(7, 7).ResultMap, 4, 4, false, true).drawn);  // no layer 19
}

using Cell = std::pair<int, int>;

struct Response {
  int w, h;
  std::vector<double> v;
  Response(int w_, int h_) : w(w_), h(h_), v(static_cast<size_t>(w_) * h_, 0.0) {}
  double& at(int x, int y) { return v[static_cast<size_t>(y - 1) * w + (x - 1)]; }
  TraceResult Trace(int x, int y) const { return ps::Trace(v.data(), w, h, x, y); }
};

// A one-cell ring of negative response on the midpoint circle of radius r.
Response Ring(int w, int h, int cx, int cy, int r, std::set<Cell>* cells) {
  Response res(w, h);
  test::ForEachRingCell(cx, cy, r, [&](int x, int y) {
    res.at(x, y) = -100;
    cells->insert({x, y});
  });
  return res;
}

TEST(Trace, RingIsClosedOrLeftWhereTheTraceTurnsAway) {
  std::set<Cell> ring, big;
  const Response r = Ring(120, 100, 60, 50, 20, &ring);
  const TraceResult t = r.Trace(40, 46);
  EXPECT_TRUE(t.closed && !t.edgeReached && !t.deadEnd && t.end() == TraceEnd::Closed);
  EXPECT_EQ(std::set<Cell>(t.points.begin(), t.points.end()), ring);
  // The last move is back onto the start; marks number the points in order.
  EXPECT_EQ(std::make_tuple(t.moves.back(), t.moves.size(), static_cast<size_t>(t.count())),
            std::make_tuple(Cell(40, 46), ring.size(), ring.size()));
  for (int k = 1; k <= t.count(); ++k) EXPECT_EQ(t.marks[(t.points[k - 1].second - 1) * r.w + t.points[k - 1].first - 1], k);
  // Past the point farthest from the start the trace closes in on it; a step that
  // moves away again after three closing steps is refused: round a larger ring it
  // stops at (66, 79), before the ring's next cell (65, 80).
  const Response rb = Ring(120, 100, 60, 50, 30, &big);
  const TraceResult u = rb.Trace(60, 20);
  const std::set<Cell> visited(u.points.begin(), u.points.end());
  EXPECT_TRUE(u.deadEnd && u.count() > 60 && std::includes(big.begin(), big.end(), visited.begin(), visited.end()));
  EXPECT_EQ(std::make_tuple(u.lastX, u.lastY, big.count({65, 80}), u.marks[(80 - 1) * rb.w + (65 - 1)]),
            std::make_tuple(66, 79, size_t{1}, 0));
}

TEST(Trace, CandidateRules) {
  // Each case: cells set to a response, the start, the first moves expected.
  const struct { const char* rule; int startX, startY; std::vector<std::tuple<int, int, double>> cells;
                 std::vector<Cell> moves; } cases[] = {
      // From (5, 5) the neighbours are scanned column by column, the best kept rounded.
      {"10.2 is not below the rounded 10", 5, 5, {{4, 4, -10.4}, {6, 6, -10.2}}, {{6, 6}}},
      {"9.9 is below 10", 5, 5, {{4, 4, -10.4}, {6, 6, -9.9}}, {{4, 4}}},
      {"10.6 scanned after (4, 4) wins", 5, 5, {{4, 4, -10.4}, {6, 6, -9.9}, {5, 4, -10.6}}, {{5, 4}}},
      // At (6, 6) the weaker (6, 7) would beat (7, 6), but it touches the previous point.
      {"cells touching the previous point", 5, 6, {{6, 6, -500}, {6, 7, -400}, {7, 6, -10}}, {{6, 6}, {7, 6}}},
      // (5, 5) -> (6, 6): cells with i = 5 or j = 5 are excluded.
      {"forward after a diagonal", 5, 5, {{6, 6, -30}, {5, 7, -900}, {7, 5, -800}, {6, 7, -10}, {7, 7, -5}}, {{6, 6}, {6, 7}}},
  };
  for (const auto& c : cases) {
    Response r(20, 20);
    for (const auto& [x, y, v] : c.cells) r.at(x, y) = v;
    const TraceResult t = r.Trace(c.startX, c.startY);
    ASSERT_GE(t.moves.size(), c.moves.size()) << c.rule;
    EXPECT_EQ(std::vector<Cell>(t.moves.begin(), t.moves.begin() + c.moves.size()), c.moves) << c.rule;
  }
}

// How a trace ends: rows of negative response (x from, x to, y, value), the
// start, the end, the point count, the last point and the cell it ended on.
TEST(Trace, Endings) {
  const struct {
    const char* what;
    int w, h;
    std::vector<std::tuple<int, int, int, double>> runs;
    Cell start;
    TraceEnd end;
    int count;
    Cell lastPoint, lastCell;
  } cases[] = {
      {"no negative response", 30, 30, {{1, 30, 15, 3.0}}, {15, 15}, TraceEnd::DeadEnd, 1, {15, 15}, {15, 15}},
      // The margin itself is never entered.
      {"reaching the margin", 20, 12, {{2, 3, 6, -20}}, {4, 6}, TraceEnd::EdgeReached, 3, {2, 6}, {2, 6}},
      // The scan from (5, 2) sees row 1 and sets the flag, yet it still moves on to (6, 2).
      {"a run along row 2", 30, 12, {{5, 20, 2, -20}}, {5, 2}, TraceEnd::EdgeReached, 1, {5, 2}, {6, 2}},
      // Right x4, up-right, down-right: x advances by 4 over four moves while y goes both ways.
      {"a zigzag", 30, 20, {{5, 9, 10, -40}, {10, 10, 9, -40}, {11, 11, 10, -40}}, {5, 10}, TraceEnd::DeadEnd, 6,
       {10, 9}, {10, 9}},
      // A straight line longer than the step bound, ever farther from the start.
      {"the step bound", 3020, 12, {{3, 3015, 6, -50}}, {4, 6}, TraceEnd::DeadEnd, 3000, {3003, 6}, {3004, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Response r(c.w, c.h);
    for (const auto& [x0, x1, y, v] : c.runs)
      for (int x = x0; x <= x1; ++x) r.at(x, y) = v;
    const TraceResult t = r.Trace(c.start.first, c.start.second);
    EXPECT_EQ(std::make_tuple(t.end(), t.count(), t.points.back(), Cell(t.lastX, t.lastY)),
              std::make_tuple(c.end, c.count, c.lastPoint, c.lastCell));
    EXPECT_EQ(t.stepLimit, c.count == kTraceStepLimit);
    if (c.count == kTraceStepLimit) EXPECT_EQ(static_cast<int>(t.moves.size()), kTraceStepLimit);
  }
  // A missing layer reads as zero; a start outside the map touches nothing.
  const TraceResult none = Trace(nullptr, 30, 30, 15, 15);
  EXPECT_TRUE(none.deadEnd && none.count() == 1 && none.moves.empty());
  const Response r(10, 10);
  EXPECT_TRUE(r.Trace(0, 5).deadEnd && r.Trace(11, 5).deadEnd && Trace(nullptr, 0, 0, 1, 1).deadEnd);
}

using Points = std::vector<std::pair<int, int>>;
using Three = std::array<std::pair<int, int>, 3>;

auto Key(const CircleFit& f) { return std::make_tuple(f.found, f.centreX, f.centreY, f.radius); }
#define EXPECT_SAME_FIT(a, b) EXPECT_EQ(Key(a), Key(b))  // radius bit for bit

// Cells of an 8-connected walk round a circle, with some jitter.
Points NoisyCircle(std::mt19937& rng, double cx, double cy, double r, double jitter) {
  Points pts;
  std::normal_distribution<double> noise(0, jitter);
  const int steps = std::max(3, static_cast<int>(2 * 3.14159 * r));
  for (int k = 0; k < steps; ++k) {
    const double t = 2 * 3.14159 * k / steps;
    const int x = static_cast<int>(std::lround(cx + (r + noise(rng)) * std::cos(t)));
    const int y = static_cast<int>(std::lround(cy + (r + noise(rng)) * std::sin(t)));
    if (pts.empty() || pts.back() != std::make_pair(x, y)) pts.emplace_back(x, y);
  }
  return pts;
}

CircleFit Fit(const Points& pts, int w, int h, int threads = 0, const Progress& p = {}) {
  return FitCircleToBoundary(MakeBoundaryList(pts), static_cast<int>(pts.size()), w, h, p, threads);
}

TEST(FitCircleToBoundary, CleanCircleTiesAndBadInput) {
  std::mt19937 rng(1);
  const CircleFit f = Fit(NoisyCircle(rng, 40, 35, 20, 0.0), 80, 70);
  ASSERT_TRUE(f.found);
  EXPECT_LE(std::hypot(f.centreX - 40, f.centreY - 35), 1);
  EXPECT_NEAR(f.radius, 21, 0.6);  // the mean distance plus one cell
  // n = 1: the point pairs with itself, every sum is 0 and the first cell keeps
  // the fit, one cell beyond the distance.
  const auto one = MakeBoundaryList({{15, 12}});
  for (const CircleFit& g : {FitCircleToBoundary(one, 1, 30, 30), FitCircleToBoundaryReference(one, 1, 30, 30)})
    EXPECT_EQ(Key(g), std::make_tuple(true, 1.0, 1.0, static_cast<double>(std::sqrt(14.0f * 14 + 11 * 11)) + 1));
  // Two points one above the other: every cell of row 5 sums to exactly 0. The
  // first of them wins, whichever thread finds it.
  const Points two = {{5, 3}, {5, 7}};
  const CircleFit ref = FitCircleToBoundaryReference(MakeBoundaryList(two), 2, 40, 12);
  EXPECT_EQ(std::make_pair(ref.centreX, ref.centreY), std::make_pair(1.0, 5.0));
  for (int threads : {1, 2, 3}) EXPECT_SAME_FIT(Fit(two, 40, 12, threads), ref) << threads;
  // Bad input, a long scattered boundary (every cell sums far above 10000), a cancelled run: no fit.
  EXPECT_FALSE(FitCircleToBoundary({}, 0, 10, 10).found);
  EXPECT_FALSE(FitCircleToBoundary(MakeBoundaryList({{3, 3}}), 2, 10, 10).found);
  EXPECT_FALSE(FitCircleToBoundary(MakeBoundaryList({{3, 3}}), 1, 0, 10).found);
  Points scattered;
  for (int k = 0; k < 600; ++k) scattered.emplace_back(1 + rng() % 200, 1 + rng() % 200);
  EXPECT_FALSE(Fit(scattered, 60, 60).found);
  EXPECT_FALSE(FitCircleToBoundaryReference(MakeBoundaryList(scattered), 600, 60, 60).found);
  EXPECT_FALSE(Fit(NoisyCircle(rng, 30, 30, 10, 0), 60, 60, 0, test::Cancelled()).found);
}

TEST(FitCircleToBoundary, FastEqualsPlainSearchOnRandomCases) {
  std::mt19937 rng(42);
  for (int c = 0; c < 120; ++c) {
    const int w = 5 + rng() % 60, h = 5 + rng() % 60;
    Points pts;
    const int kind = c % 4;
    if (kind < 2) {
      pts = NoisyCircle(rng, 1 + rng() % w, 1 + rng() % h, 2 + rng() % 30, kind == 0 ? 0.0 : 1.5);
    } else if (kind == 2) {  // an arc, as a trace that ended early leaves
      pts = NoisyCircle(rng, w / 2.0, h / 2.0, 3 + rng() % 25, 0.7);
      pts.resize(std::max<size_t>(1, pts.size() * (30 + rng() % 60) / 100));
    } else {
      for (int k = 0, n = 1 + rng() % 40; k < n; ++k) pts.emplace_back(1 + rng() % w, 1 + rng() % h);
    }
    const CircleFit ref = FitCircleToBoundaryReference(MakeBoundaryList(pts), static_cast<int>(pts.size()), w, h);
    for (int threads : {1, 2, 3}) EXPECT_SAME_FIT(Fit(pts, w, h, threads), ref) << c << " threads " << threads;
  }
  // Non-integer or far points take the plain path.
  const Points pts = NoisyCircle(rng, 20, 20, 10, 0.5);
  auto list = MakeBoundaryList(pts);
  const int n = static_cast<int>(pts.size());
  list[3][0] = list[3 + n][0] += 0.25;
  EXPECT_SAME_FIT(FitCircleToBoundary(list, n, 40, 40), FitCircleToBoundaryReference(list, n, 40, 40));
  list[5][1] = list[5 + n][1] = 9000;
  EXPECT_SAME_FIT(FitCircleToBoundary(list, n, 40, 40), FitCircleToBoundaryReference(list, n, 40, 40));
}

TEST(CircleThroughThreePoints, DegenerateCasesAndFastEqualsPlainSearch) {
  // Identical points: every cell sums to 0, the first one stays.
  EXPECT_EQ(Key(CircleThroughThreePoints({{{7, 9}, {7, 9}, {7, 9}}}, 20, 20)), std::make_tuple(true, 1.0, 1.0, 10.0));
  // Collinear points still give a circle; no cells, no circle.
  const Three line = {{{5, 10}, {10, 10}, {15, 10}}};
  EXPECT_TRUE(CircleThroughThreePoints(line, 30, 30).found);
  EXPECT_SAME_FIT(CircleThroughThreePoints(line, 30, 30), CircleThroughThreePointsReference(line, 30, 30));
  EXPECT_FALSE(CircleThroughThreePoints(line, 0, 0).found);
  std::mt19937 rng(7);
  for (int c = 0; c < 300; ++c) {
    const int w = 1 + rng() % 90, h = 1 + rng() % 90;
    Three p;
    for (auto& q : p) q = {1 + static_cast<int>(rng() % (w + 10)) - 5, 1 + static_cast<int>(rng() % (h + 10)) - 5};
    if (c % 10 == 0) p[1] = p[0];
    EXPECT_SAME_FIT(CircleThroughThreePoints(p, w, h), CircleThroughThreePointsReference(p, w, h)) << c;
  }
}

}  // namespace
}  // namespace ps
