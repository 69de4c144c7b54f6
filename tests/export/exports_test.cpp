// The exports' sheets, and the export command end to end on the bundled sample set.
#include "export/exports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "display/display_fixtures.h"
#include "export/workbook_reader.h"
#include "learning/files.h"

namespace ps {
namespace {
namespace fs = std::filesystem;

float F(double v) { return static_cast<float>(v); }

// Distinct values everywhere, so that a swapped index or a shifted block shows.
NetworkParameters DistinctParameters() {
  NetworkParameters p;
  for (int i = 1; i <= 7; ++i)
    for (int j = 1; j <= 7; ++j) {
      p.ВесИнтен[i - 1][j - 1] = i + j / 10.0, p.ВесЭллип[i - 1][j - 1] = -(i + j / 100.0);
      p.ВесАзим[i - 1][j - 1] = 10 * i + j, p.ВесОС[i - 1][j - 1] = i * j / 1000.0;
    }
  p.ВесИнтен[0][6] = 0.25;  // element (1, 7)
  p.Смещение = -0.375, p.НачальнаяСуммаСинапсов = 1.125, p.Крутизна = 0.13, p.ВесАзимутаОбщий = -0.01;
  return p;
}

std::string WeightsFile(const std::string& dir, const std::string& lines) {
  const std::string path = LearningFiles(dir).weights;
  std::ofstream(path, std::ios::binary) << lines;
  return path;
}

TEST(CoefficientExport, EveryBlockTitleAndScalarInItsPlace) {
  const NetworkParameters p = DistinctParameters();
  const ExportResult r = ExportLearningCoefficients(p);
  ASSERT_TRUE(r.ok && !r.message);
  const Sheet& s = r.sheet;
  // Element (i, j) of a block at (row0, col0) sits in row row0 + i, column col0 + j - 1, in single
  // precision; masked blocks are multiplied by the aperture mask, the last block is the mask.
  const Mask7& mask = ApertureMask();
  const std::tuple<int, int, const Template7*, bool> blocks[] = {
      {1, 1, &p.ВесИнтен, false}, {9, 1, &p.ВесЭллип, false}, {17, 1, &p.ВесАзим, false}, {25, 1, &p.ВесОС, false},
      {1, 9, &p.ВесИнтен, true},  {9, 9, &p.ВесЭллип, true},  {17, 9, &p.ВесАзим, true},  {1, 17, nullptr, true}};
  for (const auto& [row0, col0, t, masked] : blocks)
    for (int i = 1; i <= 7; ++i)
      for (int j = 1; j <= 7; ++j) {
        const double w = t ? (*t)[i - 1][j - 1] : 1.0;
        ASSERT_EQ(s.Value(row0 + i, col0 + j - 1), CellValue(F(masked ? mask[i - 1][j - 1] * w : w)))
            << CellAddress(row0 + i, col0 + j - 1);
      }
  const std::tuple<int, int, CellValue> labels[] = {
      {1, 1, "Веса Интенсивности"}, {9, 1, "Веса угла Эллиптичности"}, {17, 1, F(-0.01)}, {17, 2, " * Веса Азимута"},
      {25, 1, " = Веса Обратной связи"}, {1, 9, "Веса Интенсивности * Передаточную функцию"},
      {9, 9, "Веса Эллиптичности умноженные на Передаточную функцию"},
      {17, 9, "Веса Азимута умноженные на Передаточную функцию"}, {1, 17, "Веса Передаточной функции"},
      {34, 1, -0.375}, {34, 2, " = Постоянное Смещение"}, {35, 1, 1.125},
      {35, 2, " = Начальная сумма синапсов - состояние ячейки"}, {36, 1, 0.13f}, {36, 2, " = Крутизна"}};
  for (const auto& [row, col, value] : labels) EXPECT_EQ(s.Value(row, col), value) << CellAddress(row, col);
  EXPECT_EQ(s.UsedRange(), (SheetRange{1, 1, 36, 23}));  // A1:W36
  EXPECT_EQ(s.CellCount(), 8 * 49 + 8 + 1 + 6);          // nothing else written
  for (int c = 1; c <= 23; ++c)
    EXPECT_EQ(std::pair(s.ColumnFormat(c), s.HasColumnWidth(c)), std::pair(std::string("0.000"), c != 8 && c != 16)) << c;
  EXPECT_TRUE(s.screenUpdating() && s.visible());
}

// Operations that fail at the k-th call (counting every call when k is 0).
struct FailingOperations final : SpreadsheetOperations {
  explicit FailingOperations(int k) : failAt(k) {}
  int failAt, calls = 0;
  void Step() { if (++calls == failAt) throw SheetError("the spreadsheet stopped answering"); }
  void SetScreenUpdating(bool) override { Step(); }
  void SetVisible(bool) override { Step(); }
  void SetRange(std::string_view, const CellBlock&) override { Step(); }
  void SetCell(int, int, const CellValue&) override { Step(); }
  void SetColumnsNumberFormat(std::string_view, const std::string&) override { Step(); }
  void SetRangeNumberFormat(std::string_view, const std::string&) override { Step(); }
  void AutoFitColumns(std::string_view) override { Step(); }
};

// Any failing operation is reported with the three-line message and stops the
// export; the weights file's keys replace the window's parameters.
TEST(CoefficientExport, FailuresAreReportedWeightsComeFromTheFile) {
  FailingOperations counter(0);
  ASSERT_TRUE(ExportLearningCoefficients(DistinctParameters(), &counter).ok && counter.calls > 20) << counter.calls;
  for (int k = 1; k <= counter.calls; ++k) {
    FailingOperations failing(k);
    const ExportResult r = ExportLearningCoefficients(DistinctParameters(), &failing);
    ASSERT_TRUE(!r.ok && r.message) << k;
    EXPECT_EQ(r.message->title + "|" + r.message->text, "|" + CoefficientExportFailureText());  // the application's title
    EXPECT_EQ(failing.calls, k);
  }
  EXPECT_EQ(CoefficientExportFailureText(), "Сбой при закрытии прошлых листов Excel.\r\nРекомендуется закрыть "
                                            "существующие документы Excel,\r\nа если ошибка повторяется, то перезагрузить ОС");
  NetworkParameters partial;  // keys missing from the file keep the window's values
  partial.Крутизна = 0.25;
  const ExportResult r = ExportLearningCoefficients(
      partial, WeightsFile(test::TempDir("coef"), "Смещение = 1,5\r\nВесИнтен(1; 7) = 0,250\r\n"), ",");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(std::tuple(r.sheet.Value(34, 1), r.sheet.Value(36, 1), r.sheet.Value(2, 7)),
            std::tuple(CellValue(1.5), CellValue(0.25), CellValue(0.25)));
  EXPECT_EQ(partial.ВесИнтен[0][6], 0.25);
}

// A processed set whose every quantity differs from cell to cell; the kernel is the mean of 25 cells.
void ProcessedSet(AppState& state, int w, int h) {
  std::vector<std::vector<uint8_t>> slots(4, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3));
  for (int k = 0; k < 4; ++k)
    for (int y = 1; y <= h; ++y)
      for (int x = 1; x <= w; ++x) {
        uint8_t* px = &slots[k][(static_cast<size_t>(y - 1) * w + (x - 1)) * 3];
        px[0] = static_cast<uint8_t>((x * 7 + y * 3 + k * 40) % 256);
        px[1] = static_cast<uint8_t>((x * 2 + y * 11 + k * 25) % 256);
        px[2] = static_cast<uint8_t>((x + y + k * 60) % 256);
      }
  test::FillSet24(state, w, h, slots);
  ЗаполнениеМассива(state);
  for (auto& row : state.Detection.WeightKernel) row.fill(4.0f);
}

bool Inside(const SphereCircle& c, int x, int y) {
  return std::hypot(c.CircleCentreX - x, c.CircleCentreY - y) <= c.CircleRadius;
}

// The smoothed columns with the session's start kernels; on the seam of a
// sphere's azimuth (cell 21) the unwrapped weighted mean, not about 0.
TEST(SphereCellsExport, SmoothedColumnsUseTheStartKernelAndUnwrapAtTheSeam) {
  AppState state = test::SeamSphereState(40, 40, 20.5, 30.5);
  state.Circle = {20.5, 20.5, 15};
  const ExportResult r = ExportSphereCells(state, DirectionConvention::FullTurn);
  ASSERT_TRUE(r.ok);
  int row = 0, seen = 0;
  for (int x = 1; x <= 40; ++x)
    for (int y = 1; y <= 40; ++y) {
      if (!Inside(state.Circle, x, y)) continue;
      ++row;
      if (y != 10 || (x != 21 && x != 26)) continue;
      ++seen;
      double plain = 0;
      for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) plain += state.Detection.WeightKernel[i][j] * state.ResultMap.at(x + i - 2, 8 + j, 4) / 100;
      EXPECT_NEAR(r.sheet.Value(row, 5).number, 0.3, 1e-5);  // an axis ratio of 0.3 everywhere: the kernel adds up to 100 %
      const double want = x == 21 ? test::UnwrappedSum(state.Detection, false, x, 10, 20.5, 30.5) : plain;
      if (x == 21) EXPECT_GT(std::fabs(want - plain), 1.0);
      EXPECT_NEAR(r.sheet.Value(row, 6).number, F(want), 1e-6) << x;
    }
  EXPECT_EQ(seen, 2);
}

TEST(SetExports, HeightsXAlongColumnsYDownRowsCellsInOrderOrRefusedWithAMessage) {
  // The box of a circle at (50, 20) with radius 12.5: x 35..63, y 5..33.
  const HeightBox box = HeightTableBox(SphereCircle{50, 20, 12.5});
  EXPECT_EQ(std::tie(box.x0, box.x1, box.y0, box.y1), std::make_tuple(35, 63, 5, 33));

  // Only the bias and the overall azimuth weight: inside cells 1 / (1 + exp(-2 x Крутизна x bias)), others 0.
  const std::string weights = WeightsFile(test::TempDir("heights"), "Смещение = 1,000\r\nВесАзимутаОбщий = 0,0000\r\n");
  AppState state;  // an asymmetric circle: a transposed or cut table shows
  ProcessedSet(state, 60, 50);
  state.Circle = {30.3, 22.6, 9.2};
  NetworkParameters window;
  window.Крутизна = 5;  // reset to 0.13 by the export
  const ExportResult r = ExportRecognisedHeights(state, window, weights, ",");
  ASSERT_TRUE(r.ok) << (r.message ? r.message->text : "");
  EXPECT_EQ(std::pair(window.Крутизна, window.Смещение), std::pair(0.13, 1.0));
  const HeightBox b = HeightTableBox(state.Circle);
  EXPECT_EQ(r.sheet.UsedRange(), (SheetRange{1, 1, b.rows(), b.columns()}));
  const double inside = F(1 / (1 + std::exp(-2 * 0.13 * 1.0)));
  int insideCount = 0;
  for (int row = 1; row <= b.rows(); ++row)
    for (int col = 1; col <= b.columns(); ++col) {
      const int x = b.x0 + col - 1, y = b.y0 + row - 1;
      insideCount += Inside(state.Circle, x, y);
      ASSERT_EQ(r.sheet.Value(row, col), CellValue(Inside(state.Circle, x, y) ? inside : 0.0)) << x << "," << y;
    }
  EXPECT_GT(insideCount, 200);
  EXPECT_EQ(std::pair(r.sheet.NumberFormat(1, b.columns()), r.sheet.ColumnFormat(b.columns() + 1)), std::pair(std::string("0.000"), std::string()));

  // The cells export of the same set and circle, in order of x ascending, then y ascending.
  const ExportResult c = ExportSphereCells(state, DirectionConvention::FullTurn);
  ASSERT_TRUE(c.ok) << (c.message ? c.message->text : "");
  int k = 0;
  for (int x = 1; x <= 60; ++x)
    for (int y = 1; y <= 50; ++y) {
      if (!Inside(state.Circle, x, y)) continue;
      ++k;
      const PixelValues own = ОпределениеИнтенсивностей(std::as_const(state), x, y);
      const PixelValues next = ОпределениеИнтенсивностей(std::as_const(state), std::min(x + 2, 60), std::min(y + 2, 50));
      for (int col = 1; col <= 8; ++col) ASSERT_TRUE(c.sheet.Value(k, col).isNumber()) << k << "," << col;
      ASSERT_EQ(std::tuple(c.sheet.Value(k, 1).number, c.sheet.Value(k, 2).number, c.sheet.Value(k, 3).number, c.sheet.Value(k, 4).number),
                std::tuple(F(own.A0), F(own.AxisRatio), F(own.Azimuth), F(next.A0))) << k;  // D: two cells down and right
      const double rho = std::hypot(x - 30.3, y - 22.6) / 9.2, h = c.sheet.Value(k, 8).number;
      ASSERT_NEAR(c.sheet.Value(k, 7).number, rho < 1 ? std::asin(rho) : kPi / 2, 1e-5) << k;
      ASSERT_TRUE(h >= 0 && h < kTwoPi) << k;
    }
  EXPECT_EQ(c.sheet.UsedRange(), (SheetRange{1, 1, k + 2, 8}));
  EXPECT_EQ(std::pair(c.sheet.Value(k + 1, 1).isEmpty(), c.sheet.Value(k + 2, 1)), std::pair(true, CellValue(SphereCellsComment(60, 50))));
  for (int col = 1; col <= 8; ++col) EXPECT_EQ(c.sheet.ColumnFormat(col), "0.00");
  // Addresses carry past 26 columns: BH is column 60.
  Sheet wide;
  FillRecognisedHeights(wide, HeightBox{1, 60, 1, 3}, [](int x, int y) { return x + y / 8.0; });
  EXPECT_EQ(wide.UsedRange(), (SheetRange{1, 1, 3, 60}));
  EXPECT_EQ(std::pair(wide.Value(1, 60), wide.Value(3, 2)), std::pair(CellValue(60.125), CellValue(2.375)));
  EXPECT_EQ(wide.ColumnFormat(ColumnNumber("BH")), "0.000");

  // No circle: the cells export writes only the comment, in row n + 2 = 2, the heights export 4 x 4 zeros.
  state.Circle = {};
  const ExportResult cells = ExportSphereCells(state, DirectionConvention::FullTurn);
  EXPECT_EQ(std::tuple(cells.ok, cells.sheet.CellCount(), cells.sheet.Value(2, 1)),
            std::tuple(true, 1, CellValue("Столбцы слева направо Интенсивность Эллиптичность Азимут    тоже сглаженное Угол "
                                          "наклона поверхности Угол направления от центра ;    Точек 60x50   ; ")));
  const ExportResult heights = ExportRecognisedHeights(state, window, weights, ",");
  EXPECT_EQ(std::tuple(heights.ok, heights.sheet.UsedRange(), heights.sheet.CellCount(), heights.sheet.Value(4, 4)),
            std::tuple(true, SheetRange{1, 1, 4, 4}, 16, CellValue(0.0)));
  // Refused with a message and no sheet: a neighbourhood leaving the image, a missing weights file, no processed set.
  AppState unprocessed, inImage = state;
  unprocessed.SetWidth = 40, unprocessed.SetHeight = 30, unprocessed.Circle = {20, 15, 3};
  state.Circle = {6, 25, 4};
  inImage.Circle = {30, 25, 8};
  NetworkParameters untouched;
  const ExportResult refused[] = {ExportRecognisedHeights(state, window, weights, ","),
                                  ExportRecognisedHeights(inImage, window, weights + ".absent", ","),
                                  ExportSphereCells(unprocessed, DirectionConvention::FullTurn),
                                  ExportRecognisedHeights(unprocessed, window, weights, ","),
                                  ExportLearningCoefficients(untouched, weights + ".absent", ",")};
  for (const ExportResult& f : refused) {
    ASSERT_TRUE(!f.ok && f.message && !f.message->text.empty());
    EXPECT_EQ(f.sheet.CellCount(), 0);
  }
  EXPECT_NE(refused[4].message->text.find(".absent"), std::string::npos) << refused[4].message->text;
  EXPECT_EQ(untouched, NetworkParameters());  // a refused read changes no parameter
}

TEST(HeightErrorExport, OneRowPerCellUnderTheTitles) {
  std::vector<HeightCell> cells(2);
  cells[0].x = 7, cells[0].y = 12, cells[0].target = 0.25, cells[0].output = 0.5;
  cells[1].x = 8, cells[1].y = 3, cells[1].target = 0.75, cells[1].output = 0.125;
  const ExportResult r = ExportHeightErrors(cells);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.sheet.UsedRange(), (SheetRange{1, 1, 3, 5}));
  const std::tuple<int, int, const char*> shown[] = {
      {1, 1, "x"},     {1, 3, "h (высота шара)"}, {1, 4, "y (выход сети)"}, {1, 5, "y − h"}, {2, 1, "7"}, {2, 2, "12"},
      {2, 3, "0,250"}, {2, 4, "0,500"},           {2, 5, "0,250"},          {3, 1, "8"},     {3, 2, "3"}, {3, 5, "-0,625"}};
  for (const auto& [row, col, text] : shown) EXPECT_EQ(r.sheet.DisplayText(row, col, ","), text) << row << col;
  EXPECT_GT(r.sheet.ColumnWidth(3), kDefaultColumnWidth);  // fitted to its title
}

// The export command end to end: the bundled sample set in, workbooks out.
class ExportCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(test::SampleFiles()[0])) GTEST_SKIP() << "no sample set";
    PS_SKIP_WITHOUT_WRITER_AND_READER();
    dir_ = test::TempDir("cli-export-out"), err_ = test::TempDir("cli-export") + "/err.txt";
  }
  // Exit status and everything printed (stdout, then stderr); `sample` puts the sample set's files first.
  std::pair<int, std::string> Export(const std::string& command, const std::string& arguments, bool sample = true) {
    std::string files;
    for (const auto& f : test::SampleFiles()) files += sample ? "'" + f + "' " : "";
    const test::CliRun run = test::RunCli("export " + command + " " + files + arguments, err_);
    return {run.status, run.out + test::ReadAll(err_)};
  }
  std::string dir_, err_;
};

TEST_F(ExportCommand, CellsOfTheSampleSphereTracedFromAStartCell) {
  auto [status, output] = Export("cells", "--start 166 40 --xlsx '" + dir_ + "/cells.xlsx' --json");
  ASSERT_EQ(status, 0) << output;
  double cx = 0, cy = 0, r = 0;
  const size_t at = output.find("circle ");
  ASSERT_TRUE(at != std::string::npos && std::sscanf(output.c_str() + at, "circle %lf %lf %lf", &cx, &cy, &r) == 3) << output;
  EXPECT_TRUE(std::fabs(cx - 166) < 4 && std::fabs(cy - 118) < 8 && std::fabs(r - 79) < 6) << output;  // the sample's sphere
  int n = 0;  // cells of the 320 x 240 sample within the circle
  for (int x = 1; x <= 320; ++x)
    for (int y = 1; y <= 240; ++y) n += std::hypot(cx - x, cy - y) <= r;
  EXPECT_NE(output.find("\"cells\": " + std::to_string(8 * n + 1)), std::string::npos) << output;
  const auto book = test::ReadBack(dir_ + "/cells.xlsx");
  EXPECT_EQ(book.dimensions, "A1:H" + std::to_string(n + 2));
  EXPECT_NE(book.show("A" + std::to_string(n + 2)).find(";    Точек 320x240   ; ' 0.00"), std::string::npos);
  EXPECT_EQ(book.cell("G1") && book.cell("H1") ? book.cell("G1")->format + book.cell("H1")->format : "", "0.000.00");

}

TEST_F(ExportCommand, RefusalsLeaveNoFile) {
  auto [status, output] = Export("coefficients", "--data '" + dir_ + "/empty' --xlsx '" + dir_ + "/coef.xlsx'", false);
  EXPECT_EQ(status, 1);  // no weights file
  EXPECT_NE(output.find("Весовые коэффициенты.txt"), std::string::npos) << output;
  std::tie(status, output) = Export("cells", "--circle 166 118 79 --xlsx '" + dir_ + "/no/such/c.xlsx'");
  EXPECT_EQ(status, 1);  // a folder that does not exist
  EXPECT_NE(output.find("no/such/c.xlsx"), std::string::npos) << output;
  for (const auto& [command, arguments, sample] :
       {std::tuple{"cells", "", true}, {"table", "", false}, {"cells", "--circle 1 2 -3 ", true}})
    EXPECT_EQ(Export(command, arguments + std::string("--xlsx '") + dir_ + "/x.xlsx'", sample).first, 2) << command;
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
}  // namespace ps
