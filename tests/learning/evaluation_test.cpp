// Judging the learned height: hand-computed figures, the Fresnel inversion, the record of the circle and
// set behind a weights file, and the error map. The evaluate command is in commands_test.cpp.
#include "learning/evaluation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "display/error_map.h"
#include "learning/learning_test_support.h"

namespace ps {
namespace {

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
