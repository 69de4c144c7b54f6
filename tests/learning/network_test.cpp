#include "learning/network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "display/error_map.h"
#include "learning/evaluation.h"
#include "learning/learning_test_support.h"

namespace ps {
namespace {

using test::RandomParameters;
using test::RandomProcessedState;

NetworkParameters AllZero() {
  NetworkParameters p;
  p.ВесАзимутаОбщий = 0;
  return p;
}
double Sig(double sum) { return 1.0 / (1.0 + std::exp(-2.0 * 0.13 * sum)); }
double Single(double v) { return static_cast<double>(static_cast<float>(v)); }

TEST(CellPreparation, InsideCellsGeometryTargetsAndInputs) {
  const AppState s = RandomProcessedState(40, 30, 20, 15, 5);
  const CellNetwork net = PrepareCells(s, DirectionConvention::FullTurn);
  ASSERT_EQ(net.samples().size(), static_cast<size_t>(net.insideCount()));
  // A cell exactly at the radius is inside, its target just below 1 (the sample's figures check the rest).
  EXPECT_TRUE(net.cell(25, 15).Inside == 1 && net.cell(26, 15).Inside == 0 && net.cell(25, 15).Target < 1.0);
  EXPECT_EQ(net.cell(17, 15).Inclination, Single(std::atan(0.6 / std::sqrt(1 - 0.36))));  // arcsin(0.6)
  // Intensity /255, azimuth sine; the neighbour intensity is that of (x + 2,
  // y + 2); the smoothing sums the 5 x 5 kernel in x-outer order.
  const PixelValues v = ОпределениеИнтенсивностей(s, 18, 13);
  const CellRecord& r = net.cell(18, 13);
  EXPECT_TRUE(r.Intensity == v.A0 / 255 && r.SinAzimuth == std::sin(v.Azimuth));
  EXPECT_EQ(r.NeighbourIntensity, ОпределениеИнтенсивностей(s, 20, 15).A0 / 255);
  double smooth = 0;
  for (int i = 16; i <= 20; ++i)
    for (int j = 11; j <= 15; ++j)
      smooth = smooth + s.Detection.WeightKernel[i - 16][j - 11] * ОпределениеИнтенсивностей(s, i, j).AxisRatio / 100;
  EXPECT_EQ(r.SmoothedAxisRatio, smooth);
}

TEST(CellPreparation, SampleRowsInColumnOrderAndNeighbourHeldInsideImage) {
  const AppState s = RandomProcessedState(12, 10, 7, 6, 3);
  const SampleTable rows = BuildSampleTable(s, DirectionConvention::FullTurn);
  ASSERT_FALSE(rows.empty());
  for (size_t k = 1; k < rows.size(); ++k)
    EXPECT_TRUE(rows[k - 1][8] < rows[k][8] || (rows[k - 1][8] == rows[k][8] && rows[k - 1][9] < rows[k][9])) << k;
  EXPECT_TRUE(rows.front()[8] == 4.0f && rows.front()[9] == 6.0f);
  const SampleTable raw = BuildSampleTable(s, DirectionConvention::FullTurn, false);  // intensities as they are
  EXPECT_EQ(raw.front()[0], static_cast<float>(ОпределениеИнтенсивностей(s, 4, 6).A0));

  const AppState corner = RandomProcessedState(8, 8, 7, 7, 1);
  const CellNetwork net = PrepareCells(corner, DirectionConvention::FullTurn);
  for (const int x : {7, 8}) EXPECT_EQ(net.cell(x, 7).NeighbourIntensity, ОпределениеИнтенсивностей(corner, 8, 8).A0 / 255);
}

TEST(CellPreparation, DirectionConventions) {
  const AppState s = RandomProcessedState(30, 30, 15, 15, 6);
  const CellNetwork full = PrepareCells(s, DirectionConvention::FullTurn);
  const CellNetwork half = PrepareCells(s, DirectionConvention::HalfTurn);
  // Above the centre (dx = 0, dy > 0), below it, the centre; left of it (dx > 0):
  // arctan(dy/dx), plus 2pi when dy < 0 in the full turn; right of it: plus pi.
  const struct { int x, y; double full, half; } cases[] = {
      {15, 12, kPi / 2, kPi / 2}, {15, 18, kUndefinedMarker / 2, kPi / 2}, {15, 15, kUndefinedMarker / 2, kPi / 2},
      {12, 13, std::atan(2.0 / 3.0), std::atan(2.0 / 3.0)},
      {12, 17, std::atan(-2.0 / 3.0) + kTwoPi, std::atan(-2.0 / 3.0)},
      {18, 13, std::atan(2.0 / -3.0) + kPi, std::atan(2.0 / -3.0)},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(full.cell(c.x, c.y).Direction == Single(c.full) && half.cell(c.x, c.y).Direction == Single(c.half))
        << c.x << "," << c.y;
  EXPECT_EQ(full.cell(18, 13).Target, half.cell(18, 13).Target);  // the direction does not touch the network
}

TEST(NetworkEvaluation, StartValuesGiveOneHalfEverywhere) {
  CellNetwork net = PrepareCells(RandomProcessedState(30, 30, 15, 15, 7), DirectionConvention::FullTurn);
  EvaluateNetwork(net, AllZero());
  const Energies e = ComputeEnergies(net);
  double eb = 0, abs = 0;
  for (int x = 1; x <= 30; ++x)
    for (int y = 1; y <= 30; ++y) {
      const CellRecord& r = net.cell(x, y);
      EXPECT_EQ(net.output(x, y), r.Inside ? 0.5 : 0.0);
      if (!r.Inside) continue;
      abs += std::fabs(0.5 - r.Target);
      if (r.Target != 0) eb += std::fabs((0.5 - r.Target) / r.Target);
    }
  EXPECT_TRUE(e.EnergyA == 0.0 && net.cell(15, 15).RelativeError == 0.0);  // h = 0 at the apex
  EXPECT_TRUE(std::fabs(e.EnergyB - eb) < 1e-9 * eb && std::fabs(e.AbsoluteSum - abs) < 1e-9 * abs);
  // The overall azimuth weight alone, with every ВесАзим 0: the cosine sum is 0.
  NetworkParameters p = AllZero();
  p.ВесАзимутаОбщий = -0.01;
  EvaluateNetwork(net, p);
  EXPECT_EQ(net.output(15, 15), Sig(-0.01 * kPi / 2));
}

TEST(NetworkEvaluation, SubstituteCellInFirstEvaluation) {
  // On a circle of radius 3 about (10, 10), an element reaching outside takes the
  // nearest inside cell (city-block distance) of the cell's 7 x 7 window.
  CellNetwork net = PrepareCells(RandomProcessedState(24, 20, 10, 10, 3), DirectionConvention::FullTurn);
  const double sub = net.cell(12, 12).Intensity;
  const struct { int a, b, x, y; double input; } cases[] = {
      {6, 3, 13, 10, net.cell(13, 10).Intensity},  // (16, 10): the cell itself is nearest
      {3, 6, 13, 10, sub},                         // (13, 13): (12, 12) at distance 2
      {6, 6, 10, 13, sub},  // (13, 16): (12, 12) at 1 + 4, ahead of five cells at 6
  };
  for (const auto& c : cases) {
    NetworkParameters p = AllZero();
    p.ВесИнтен[c.a][c.b] = 1;
    EvaluateNetwork(net, p);
    EXPECT_EQ(net.output(c.x, c.y), Sig(ApertureMask()[c.a][c.b] * c.input)) << c.a << c.b;
  }
}

TEST(NetworkEvaluation, FeedbackCountsOnlyInsideNeighbours) {
  CellNetwork net = PrepareCells(RandomProcessedState(24, 20, 10, 10, 3), DirectionConvention::FullTurn);
  NetworkParameters p = AllZero();
  for (auto& row : p.ВесОС) row.fill(1);
  EvaluateNetwork(net, p);
  // First evaluation: every output 0.5, so 0.5 per inside cell of the 7 x 7 window.
  auto insideAround = [&](int x, int y) {
    int k = 0;
    for (int i = x - 3; i <= x + 3; ++i)
      for (int j = y - 3; j <= y + 3; ++j) k += net.cell(i, j).Inside;
    return k;
  };
  for (const int x : {10, 13}) EXPECT_EQ(net.cell(x, 10).FirstFeedbackShare, 0.5 * insideAround(x, 10));
  EXPECT_LT(insideAround(13, 10), insideAround(10, 10));
  double share = 0;
  for (int x = 7; x <= 13; ++x)
    for (int y = 7; y <= 13; ++y) share += net.cell(x, y).FirstFeedbackShare;
  EXPECT_DOUBLE_EQ(ComputeEnergies(net).FeedbackSum, share);
}

TEST(NetworkEvaluation, EnergyAOnlyWhereFourNeighboursAreInside) {
  // Radius 1: the centre and its four neighbours are inside; only the centre has all four inside.
  CellNetwork net = PrepareCells(RandomProcessedState(20, 20, 10, 10, 1), DirectionConvention::FullTurn);
  ASSERT_EQ(net.insideCount(), 5);
  std::mt19937 gen(3);
  EvaluateNetwork(net, RandomParameters(gen));
  const double c = net.output(10, 10);
  double expected = 0;
  for (const auto [x, y] : {std::pair{9, 10}, {11, 10}, {10, 9}, {10, 11}})
    expected = expected + (c - net.output(x, y)) * (c - net.output(x, y));
  EXPECT_EQ(ComputeEnergies(net).EnergyA, expected);
}

TEST(NetworkEvaluation, FastEvaluationIsBitIdenticalToThePlainOne) {
  const AppState s = RandomProcessedState(90, 80, 44.5, 40.3, 31.7, 11);
  CellNetwork fast1 = PrepareCells(s, DirectionConvention::FullTurn), fast2 = PrepareCells(s, DirectionConvention::FullTurn),
              plain = PrepareCells(s, DirectionConvention::FullTurn);
  fast1.setThreads(1);
  fast2.setThreads(2);
  ASSERT_EQ(fast2.threads(), 2);
  std::mt19937 gen(2024);
  for (int trial = 0; trial < 6; ++trial) {
    const NetworkParameters p = RandomParameters(gen, trial < 3 ? 0.3 : 3.0);
    EvaluateNetwork(fast1, p);
    EvaluateNetwork(fast2, p);
    EvaluateNetworkReference(plain, p);
    for (int x = 1; x <= 90; ++x)
      for (int y = 1; y <= 80; ++y) {
        const CellRecord &a = fast2.cell(x, y), &b = plain.cell(x, y);
        ASSERT_TRUE(fast1.output(x, y) == plain.output(x, y) && fast2.output(x, y) == plain.output(x, y) &&
                    a.StaticSum == b.StaticSum && a.TotalSum == b.TotalSum &&
                    a.FirstFeedbackShare == b.FirstFeedbackShare && a.RelativeError == b.RelativeError)
            << x << "," << y;
      }
    const Energies e3 = ComputeEnergies(plain);
    for (const Energies& e : {ComputeEnergies(fast1), ComputeEnergies(fast2)})
      EXPECT_TRUE(e.EnergyA == e3.EnergyA && e.EnergyB == e3.EnergyB && e.AbsoluteSum == e3.AbsoluteSum &&
                  e.FeedbackSum == e3.FeedbackSum);
  }
}

TEST(NetworkEvaluation, OverflowOfTheTransferGivesNoNaN) {
  CellNetwork net = PrepareCells(RandomProcessedState(30, 30, 15, 15, 7), DirectionConvention::FullTurn);
  std::mt19937 gen(5);
  NetworkParameters p = RandomParameters(gen, 50);
  p.Крутизна = 1e300;
  EvaluateNetwork(net, p);
  for (int x = 8; x <= 22; ++x)
    for (int y = 8; y <= 22; ++y) ASSERT_TRUE(net.output(x, y) >= 0.0 && net.output(x, y) <= 1.0) << x << "," << y;
  EXPECT_TRUE(std::isfinite(ComputeEnergies(net).EnergyA) && std::isfinite(ComputeEnergies(net).EnergyB));
}

TEST(TrainingCircle, RefusesMissingCircleAndNeighbourhoodOutsideTheImage) {
  // The circle plus a margin of 4 cells must stay within 1..100.
  const struct { SphereCircle c; bool refused; } cases[] = {
      {{50, 50, 0}, true},     {{50, 50, -3}, true},   {{15, 15, 10}, false},
      {{14.9, 15, 10}, true},  {{86, 86, 10}, false},  {{86, 86.5, 10}, true},
  };
  for (const auto& k : cases) EXPECT_EQ(CheckTrainingCircle(k.c, 100, 100).has_value(), k.refused) << k.c.CircleCentreX;
  EXPECT_NE(CheckTrainingCircle(SphereCircle{3, 50, 10}, 100, 100).value_or(Message{}).text.find("100 x 100"), std::string::npos);
}

// ---- Judging the learned height (the evaluate command: commands_test.cpp) ----

TEST(HeightSummary, HandComputedFourCells) {
  // Errors of the output +0.1, -0.1, +0.1, -0.1; mean(h) = 0.3; the Fresnel
  // height misses only the third cell, by 0.1.
  std::vector<HeightCell> cells(4);
  const double rows[4][4] = {{0.05, 0.0, 0.1, 0.0}, {0.55, 0.2, 0.1, 0.2}, {0.8, 0.4, 0.5, 0.3}, {1.0, 0.6, 0.5, 0.6}};
  for (int i = 0; i < 4; ++i)
    cells[i].rho = rows[i][0], cells[i].target = rows[i][1], cells[i].output = rows[i][2], cells[i].physics = rows[i][3];
  const HeightSummary s = SummarizeHeights(cells, 1.7);
  EXPECT_TRUE(s.cells == 4 && s.refractiveIndex == 1.7 && std::isnan(s.constant.correlation));
  const std::pair<double, double> figures[] = {
      {s.meanTarget, 0.3}, {s.output.meanAbsError, 0.1}, {s.output.rmsError, 0.1},
      {s.output.correlation, 2 / std::sqrt(5.0)},  // 0.16 / sqrt(0.16 x 0.2)
      {s.constant.meanAbsError, 0.2}, {s.constant.rmsError, std::sqrt(0.05)},
      {s.physics.meanAbsError, 0.025}, {s.physics.rmsError, 0.05}};
  for (const auto& [got, want] : figures) EXPECT_NEAR(got, want, 1e-12);
  // Rings of rho in tenths; rho = 1 belongs to the last one.
  const struct { int k, cells; double mae, constant, physics; } rings[] = {
      {0, 1, 0.1, 0.3, 0.0}, {5, 1, 0.1, 0.1, 0.0}, {8, 1, 0.1, 0.1, 0.1}, {9, 1, 0.1, 0.3, 0.0}, {3, 0, 0, 0, 0}};
  for (const auto& r : rings) {
    const RingFigures& g = s.rings[static_cast<size_t>(r.k)];
    auto near = [](double a, double b) { return std::fabs(a - b) < 1e-15; };
    EXPECT_TRUE(g.cells == r.cells && near(g.meanAbsError, r.mae) && near(g.rmsError, r.mae) &&
                near(g.constantMeanAbsError, r.constant) && near(g.physicsMeanAbsError, r.physics)) << r.k;
  }
  for (const auto& [rho, ring] : std::vector<std::pair<double, int>>{{0, 0}, {0.0999, 0}, {0.1, 1}, {0.95, 9}, {1, 9}})
    EXPECT_EQ(RingOfRho(rho), ring) << rho;
  const std::string text = SummaryText(s, ",");
  for (const char* part : {"Точек внутри шара: 4", "средняя ошибка 0,100", "Постоянная высота 0,300",
                           "n = 1,70", "0,8–0,9: 0,100 / 0,100 / 0,100  (1)"})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

TEST(FresnelModel, InversionRoundTripAndLimits) {
  for (double n : {1.3, 1.5, 2.0})
    for (int q = 0; q <= 89 * 4; ++q) {
      const double theta = q * 0.25 * M_PI / 180;
      ASSERT_NEAR(DiffuseZenithAngle(DiffuseDegreeOfPolarization(theta, n), n), theta, 1e-9) << n << " " << theta;
    }
  // No polarization is the apex, more than the maximum (n^2 - 1)/(n^2 + 1) the rim.
  EXPECT_TRUE(DiffuseZenithAngle(0, 1.5) == 0 && DiffuseZenithAngle(-0.1, 1.5) == 0 &&
              DiffuseZenithAngle(1.25 / 3.25 + 1e-9, 1.5) == M_PI / 2 && std::isnan(DiffuseZenithAngle(NAN, 1.5)));
  // Axis ratio 1 is height 0, 0 height 1; r^2 = Imin / Imax gives (Imax - Imin) / (Imax + Imin).
  EXPECT_EQ(FresnelHeight(1, 1.5), 0);
  EXPECT_NEAR(FresnelHeight(0, 1.5), 1, 1e-15);
  EXPECT_NEAR(DegreeOfPolarizationFromAxisRatio(0.5), (1 - 0.25) / (1 + 0.25), 1e-15);
  const double dop = DiffuseDegreeOfPolarization(0.7, 1.5);
  EXPECT_NEAR(FresnelHeight(std::sqrt((1 - dop) / (1 + dop)), 1.5), 1 - std::cos(0.7), 1e-12);
}

TEST(WeightsOrigin, SideFileRoundTripAndNotes) {
  const WeightsOrigin here = OriginOf(test::RandomProcessedState(40, 36, 20.3, 17.6, 9.5));
  const std::string dir = test::TempDir("origin");
  ASSERT_TRUE(WriteWeightsOrigin(WeightsOriginPath(dir), here));
  EXPECT_EQ(ReadWeightsOrigin(WeightsOriginPath(dir)), here);
  EXPECT_FALSE(ParseWeightsOrigin("ЦентрX = 1\r\nРадиус = x\r\n").has_value());
  // Same origin: no note (commands_test.cpp has an unknown one and another circle).
  WeightsOrigin otherSize = here, otherSet = here, withSet = here, otherCircle = here;
  otherSize.width = 320;
  otherCircle.circle.CircleRadius = 9.25;
  otherSet.set = "0123456789abcdef";
  withSet.set = "fedcba9876543210";
  EXPECT_EQ(OriginNote(here, here, ","), "");
  EXPECT_NE(OriginNote(otherSize, here, ",").find("320 x 36, а сейчас открыт 40 x 36"), std::string::npos);
  EXPECT_NE(OriginNote(otherSet, withSet, ",").find("другого набора изображений того же размера"), std::string::npos);
  EXPECT_NE(OriginNote(otherCircle, here, ",").find("радиус 9,25; сейчас центр (20,30; 17,60), радиус 9,50"), std::string::npos);
}

TEST(ErrorMap, PanelsShowTargetOutputAndSignedError) {
  const SphereCircle circle{10, 10, 4};
  std::vector<HeightCell> cells;
  for (int x = 6; x <= 14; ++x)
    for (int y = 6; y <= 14; ++y)
      if (std::hypot(x - 10, y - 10) <= 4) {
        HeightCell c;
        c.x = x, c.y = y, c.target = 0.25, c.output = x < 10 ? 0.05 : 0.55;
        cells.push_back(c);
      }
  EXPECT_NEAR(ErrorScaleLimit(cells), 0.30, 1e-12);  // worst |y - h| 0.3
  const ErrorMapLayout l = LayoutErrorMap(circle, cells, 90);
  const RasterSurface map = DrawErrorMap(circle, cells, 90);
  auto at = [&](int panel, int x, int y) {
    return map.pixel(l.panelLeft[panel] + (x - l.x0) * l.cellPixels, l.panelTop + (y - l.y0) * l.cellPixels);
  };
  EXPECT_TRUE(at(0, 10, 10) == HeightGrey(0.25) && at(1, 8, 10) == HeightGrey(0.05));  // target, output
  // The error: -0.2 of a 0.3 scale two thirds blue, +0.3 full red; outside the circle grey.
  EXPECT_TRUE(at(2, 8, 10) == Rgb(85, 85, 255) && at(2, 12, 10) == Rgb(255, 0, 0) && at(2, 6, 6) == Rgb(225, 225, 225));
}

}  // namespace
}  // namespace ps
