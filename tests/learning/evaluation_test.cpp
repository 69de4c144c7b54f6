// Judging the learned height: the figures of a hand-computed case, the Fresnel
// inversion against the forward model the sample is rendered with, the cells a
// network yields, the record of the circle and set behind a weights file, and
// the evaluate command on the sample against the heights export.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "display/error_map.h"
#include "export/exports.h"
#include "imageio/bmp.h"
#include "learning/evaluation.h"
#include "learning/files.h"
#include "learning/learning_test_support.h"
#include "support/test_support.h"

#ifdef PS_HAVE_QTGUI
#include <QImage>
#endif

namespace ps {
namespace {

// A number after "key": in a JSON text (NaN when absent or null).
double JsonValue(const std::string& json, const std::string& key, size_t from = 0) {
  const size_t at = json.find("\"" + key + "\": ", from);
  if (at == std::string::npos || json.compare(at + key.size() + 4, 4, "null") == 0)
    return std::numeric_limits<double>::quiet_NaN();
  return std::stod(json.substr(at + key.size() + 4));
}

HeightCell Cell(double rho, double target, double output, double physics) {
  HeightCell c;
  c.rho = rho;
  c.target = target;
  c.output = output;
  c.physics = physics;
  return c;
}

TEST(HeightSummary, HandComputedFourCells) {
  // Errors of the output +0.1, -0.1, +0.1, -0.1; mean(h) = 0.3; the Fresnel
  // height misses only the third cell, by 0.1.
  const std::vector<HeightCell> cells = {Cell(0.05, 0.0, 0.1, 0.0), Cell(0.55, 0.2, 0.1, 0.2),
                                         Cell(0.8, 0.4, 0.5, 0.3), Cell(1.0, 0.6, 0.5, 0.6)};
  const HeightSummary s = SummarizeHeights(cells, 1.7);
  EXPECT_EQ(s.cells, 4);
  EXPECT_DOUBLE_EQ(s.refractiveIndex, 1.7);
  EXPECT_NEAR(s.meanTarget, 0.3, 1e-15);
  EXPECT_NEAR(s.output.meanAbsError, 0.1, 1e-15);
  EXPECT_NEAR(s.output.rmsError, 0.1, 1e-15);
  EXPECT_NEAR(s.output.correlation, 2 / std::sqrt(5.0), 1e-12);  // 0.16 / sqrt(0.16 x 0.2)
  EXPECT_NEAR(s.constant.meanAbsError, 0.2, 1e-15);
  EXPECT_NEAR(s.constant.rmsError, std::sqrt(0.05), 1e-15);
  EXPECT_TRUE(std::isnan(s.constant.correlation));
  EXPECT_NEAR(s.physics.meanAbsError, 0.025, 1e-15);
  EXPECT_NEAR(s.physics.rmsError, 0.05, 1e-15);

  // Rings of rho in tenths; rho = 1 belongs to the last one.
  struct Ring {
    int k, cells;
    double mae, constant, physics;
  };
  for (const Ring& r : {Ring{0, 1, 0.1, 0.3, 0.0}, Ring{5, 1, 0.1, 0.1, 0.0}, Ring{8, 1, 0.1, 0.1, 0.1},
                        Ring{9, 1, 0.1, 0.3, 0.0}, Ring{3, 0, 0, 0, 0}}) {
    SCOPED_TRACE(r.k);
    const RingFigures& got = s.rings[static_cast<size_t>(r.k)];
    EXPECT_EQ(got.cells, r.cells);
    EXPECT_NEAR(got.meanAbsError, r.mae, 1e-15);
    EXPECT_NEAR(got.rmsError, r.mae, 1e-15);
    EXPECT_NEAR(got.constantMeanAbsError, r.constant, 1e-15);
    EXPECT_NEAR(got.physicsMeanAbsError, r.physics, 1e-15);
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
  // Outside the model's range: no polarization is the apex, more than the
  // model's maximum (n^2 - 1)/(n^2 + 1) the rim.
  EXPECT_EQ(DiffuseZenithAngle(0, 1.5), 0);
  EXPECT_EQ(DiffuseZenithAngle(-0.1, 1.5), 0);
  EXPECT_EQ(DiffuseZenithAngle(1.25 / 3.25 + 1e-9, 1.5), M_PI / 2);
  EXPECT_TRUE(std::isnan(DiffuseZenithAngle(std::nan(""), 1.5)));
  // Axis ratio 1 is unpolarized (height 0), 0 fully polarized (height 1);
  // r^2 = Imin / Imax gives the degree (Imax - Imin) / (Imax + Imin).
  EXPECT_EQ(FresnelHeight(1, 1.5), 0);
  EXPECT_NEAR(FresnelHeight(0, 1.5), 1, 1e-15);
  EXPECT_NEAR(DegreeOfPolarizationFromAxisRatio(std::sqrt(0.25)), (1 - 0.25) / (1 + 0.25), 1e-15);
  const double theta = 0.7;
  const double dop = DiffuseDegreeOfPolarization(theta, 1.5);
  const double r = std::sqrt((1 - dop) / (1 + dop));
  EXPECT_NEAR(FresnelHeight(r, 1.5), 1 - std::cos(theta), 1e-12);
}

TEST(HeightEvaluation, CellsOfTheCircleAgainstGeometry) {
  // All weights 0 and no azimuth term: every output is 0.5, so the figures
  // follow from the geometry alone.
  AppState state = test::RandomProcessedState(40, 36, 20.3, 17.6, 9.5);
  NetworkParameters p;
  p.ВесАзимутаОбщий = 0;
  const HeightEvaluation e = EvaluateLearnedHeights(state, p, 1.5);
  ASSERT_TRUE(e.ok);
  int cells = 0;
  double abs = 0;
  std::array<int, kRingCount> rings{};
  for (int x = 1; x <= 40; ++x)
    for (int y = 1; y <= 36; ++y) {
      const double d = std::hypot(x - 20.3, y - 17.6);
      if (d > 9.5) continue;
      const double rho = d / 9.5;
      const float theta = rho < 1 ? static_cast<float>(std::asin(rho)) : static_cast<float>(3.14159 / 2);
      abs += std::fabs(0.5 - (1 - std::cos(static_cast<double>(theta))));
      ++cells;
      ++rings[static_cast<size_t>(std::min(9, static_cast<int>(rho * 10)))];
    }
  EXPECT_EQ(e.summary.cells, cells);
  EXPECT_NEAR(e.summary.output.meanAbsError, abs / cells, 1e-12);
  EXPECT_TRUE(std::isnan(e.summary.output.correlation));  // a constant output
  for (int k = 0; k < kRingCount; ++k) EXPECT_EQ(e.summary.rings[static_cast<size_t>(k)].cells, rings[k]) << k;
  // Cells x ascending, then y; each Fresnel height from the cell's axis ratio.
  for (size_t i = 1; i < e.cells.size(); ++i)
    ASSERT_TRUE(e.cells[i - 1].x < e.cells[i].x || (e.cells[i - 1].x == e.cells[i].x && e.cells[i - 1].y < e.cells[i].y));
  const HeightCell& c = e.cells[e.cells.size() / 2];
  EXPECT_DOUBLE_EQ(c.physics, FresnelHeight(state.ResultMap.at(c.x, c.y, FirstLayer(Definition::Mean) + 1), 1.5));

  // Refusals: no processed set; a circle whose neighbourhood leaves the image.
  AppState empty;
  empty.Circle = state.Circle;
  EXPECT_FALSE(EvaluateLearnedHeights(empty, p).ok);
  state.Circle.CircleCentreX = 12;
  const HeightEvaluation near = EvaluateLearnedHeights(state, p);
  ASSERT_FALSE(near.ok);
  EXPECT_EQ(near.message->title, "Оценка невозможна");
}

TEST(WeightsOrigin, SideFileRoundTripAndNotes) {
  AppState state = test::RandomProcessedState(40, 36, 20.3, 17.6, 9.5);
  const WeightsOrigin here = OriginOf(state);
  const std::string dir = test::TempDir("origin");
  ASSERT_TRUE(WriteWeightsOrigin(WeightsOriginPath(dir), here));
  const auto read = ReadWeightsOrigin(WeightsOriginPath(dir));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, here);
  EXPECT_FALSE(ReadWeightsOrigin(dir + "/missing.txt").has_value());
  EXPECT_FALSE(ParseWeightsOrigin("ЦентрX = 1\r\nРадиус = x\r\n").has_value());

  WeightsOrigin otherSize = here, otherSet = here, otherCircle = here;
  otherSize.width = 320;
  otherSet.set = "0123456789abcdef";
  otherCircle.circle.CircleRadius = 9.25;
  struct Case {
    const char* name;
    std::optional<WeightsOrigin> recorded;
    WeightsOrigin current;
    std::string expectedPart;  // "" : no note
  };
  WeightsOrigin withSet = here;
  withSet.set = "fedcba9876543210";
  const Case cases[] = {
      {"same", here, here, ""},
      {"unknown", std::nullopt, here, "Неизвестно"},
      {"other size", otherSize, here, "320 x 36, а сейчас открыт 40 x 36"},
      {"other set", otherSet, withSet, "другого набора изображений того же размера"},
      {"other circle", otherCircle, here, "радиус 9,25; сейчас центр (20,30; 17,60), радиус 9,50"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string note = OriginNote(c.recorded, c.current, ",");
    if (c.expectedPart.empty()) EXPECT_EQ(note, "");
    else EXPECT_NE(note.find(c.expectedPart), std::string::npos) << note;
  }
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
  EXPECT_EQ(at(0, 10, 10), HeightGrey(0.25));
  EXPECT_EQ(at(1, 8, 10), HeightGrey(0.05));
  EXPECT_EQ(at(2, 8, 10), Rgb(85, 85, 255));  // -0.2 of a 0.3 scale: two thirds blue
  EXPECT_EQ(at(2, 12, 10), ErrorColour(0.3, 0.3));
  EXPECT_EQ(at(2, 12, 10), Rgb(255, 0, 0));
  EXPECT_EQ(at(2, 6, 6), Rgb(225, 225, 225));  // outside the circle
}

// ---- The evaluate command on the sample ---------------------------------------------------

std::string SampleArgs() {
  std::string a;
  for (const std::string& f : test::SampleFiles()) a += "'" + f + "' ";
  return a;
}

TEST(EvaluateCommand, SampleFiguresEqualThoseOfTheHeightsExport) {
  const std::string dir = test::TempDir("evaluate-cli");
  std::mt19937 gen(11);
  const NetworkParameters fixed = test::RandomParameters(gen, 0.05);
  ASSERT_TRUE(WriteWeightsFile(LearningFiles(dir).weights, fixed, RunFigures{}, ","));
  const std::string png = dir + "/map.png";
  const test::CliRun run =
      test::RunCli("evaluate " + SampleArgs() + "--circle 166 118 79 --json --data '" + dir + "' --png '" + png + "'");
  ASSERT_EQ(run.status, 0) << run.out;

  // The recognised heights as the export shows them (single precision) and the
  // target from the circle's geometry.
  AppState state;
  ASSERT_TRUE(LoadSet(state, test::SampleFiles()).ok);
  ASSERT_TRUE(ЗаполнениеМассива(state));
  state.Circle = SphereCircle{166, 118, 79};
  NetworkParameters read;
  const ExportResult heights = ExportRecognisedHeights(state, read, LearningFiles(dir).weights, ",");
  ASSERT_TRUE(heights.ok);
  const HeightBox box = HeightTableBox(state.Circle);
  int n = 0;
  double abs = 0, sq = 0, sy = 0, sh = 0, syy = 0, shh = 0, syh = 0, constant = 0;
  std::vector<double> targets;
  for (int x = box.x0; x <= box.x1; ++x)
    for (int y = box.y0; y <= box.y1; ++y) {
      const double rho = std::hypot(x - 166.0, y - 118.0) / 79;
      if (rho > 1) continue;
      const double h = 1 - std::cos(static_cast<double>(rho < 1 ? static_cast<float>(std::asin(rho))
                                                                : static_cast<float>(3.14159 / 2)));
      const double out = heights.sheet.Value(y - box.y0 + 1, x - box.x0 + 1).number;
      ++n, abs += std::fabs(out - h), sq += (out - h) * (out - h);
      sy += out, sh += h, syy += out * out, shh += h * h, syh += out * h;
      targets.push_back(h);
    }
  for (double h : targets) constant += std::fabs(h - sh / n);
  const double corr = (syh - sy * sh / n) / std::sqrt((syy - sy * sy / n) * (shh - sh * sh / n));
  EXPECT_EQ(JsonValue(run.out, "cells"), n);
  EXPECT_NEAR(JsonValue(run.out, "mean_abs_error"), abs / n, 1e-6);
  EXPECT_NEAR(JsonValue(run.out, "rms_error"), std::sqrt(sq / n), 1e-6);
  EXPECT_NEAR(JsonValue(run.out, "correlation"), corr, 1e-5);
  EXPECT_NEAR(JsonValue(run.out, "constant_mean_abs_error"), constant / n, 1e-9);
  // The sample is rendered with the Fresnel model and n = 1.5: it nearly fits.
  EXPECT_EQ(JsonValue(run.out, "physics_n"), 1.5);
  EXPECT_LT(JsonValue(run.out, "physics_mean_abs_error"), 0.03);
  EXPECT_NE(run.out.find("\"rings\": [{\"rho_from\": 0.0, \"rho_to\": 0.1, \"cells\": "), std::string::npos) << run.out;
  // No side file: the note says the weights' circle is unknown.
  EXPECT_NE(run.out.find("\"weights_origin_note\": \"Неизвестно"), std::string::npos);
#ifdef PS_HAVE_QTGUI
  const QImage image(QString::fromStdString(png));
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 3 * 158);
#endif

  // Another refractive index changes only the physics figures.
  const test::CliRun other = test::RunCli("evaluate " + SampleArgs() + "--circle 166 118 79 --json --n 1.8 --data '" + dir + "'");
  ASSERT_EQ(other.status, 0);
  EXPECT_EQ(JsonValue(other.out, "physics_n"), 1.8);
  EXPECT_EQ(JsonValue(other.out, "mean_abs_error"), JsonValue(run.out, "mean_abs_error"));
  EXPECT_GT(JsonValue(other.out, "physics_mean_abs_error"), JsonValue(run.out, "physics_mean_abs_error"));
}

TEST(EvaluateCommand, TrainingRecordsItsCircleAndReportsTheFinalState) {
  const std::string dir = test::TempDir("evaluate-train");
  ASSERT_EQ(test::RunCli("init-data '" + dir + "'").status, 0);
  const test::CliRun train =
      test::RunCli("train " + SampleArgs() + "--circle 166 118 79 --accepted 3 --quiet --json --data '" + dir + "'");
  ASSERT_EQ(train.status, 0) << train.out;
  const size_t at = train.out.find("\"evaluation\": {");
  ASSERT_NE(at, std::string::npos) << train.out;
  const test::CliRun same = test::RunCli("evaluate " + SampleArgs() + "--circle 166 118 79 --json --data '" + dir + "'");
  ASSERT_EQ(same.status, 0);
  EXPECT_EQ(JsonValue(train.out, "mean_abs_error", at), JsonValue(same.out, "mean_abs_error"));
  EXPECT_NE(same.out.find("\"weights_origin_note\": \"\""), std::string::npos) << same.out;
  // Another circle: said beside the figures.
  const test::CliRun moved = test::RunCli("evaluate " + SampleArgs() + "--circle 160 118 79 --data '" + dir + "'");
  ASSERT_EQ(moved.status, 0);
  EXPECT_NE(moved.out.find("Файл весов записан для другой окружности"), std::string::npos) << moved.out;
  // No weights file: refused.
  EXPECT_EQ(test::RunCli("evaluate " + SampleArgs() + "--circle 166 118 79 --data '" + dir + "/none'").status, 1);
}

}  // namespace
}  // namespace ps
