#include "export/exports.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <utility>

#include "export/workbook_reader.h"
#include "export/xlsx_writer.h"
#include "learning/files.h"
#include "polarization/polarization.h"
#include "state/number_format.h"
#include "support/test_support.h"

namespace ps {
namespace {

float F(double v) { return static_cast<float>(v); }

// Distinct values everywhere, so that a swapped index or a shifted block shows.
NetworkParameters DistinctParameters() {
  NetworkParameters p;
  for (int i = 1; i <= 7; ++i)
    for (int j = 1; j <= 7; ++j) {
      p.ВесИнтен[i - 1][j - 1] = i + j / 10.0;
      p.ВесЭллип[i - 1][j - 1] = -(i + j / 100.0);
      p.ВесАзим[i - 1][j - 1] = 10 * i + j;
      p.ВесОС[i - 1][j - 1] = i * j / 1000.0;
    }
  p.ВесИнтен[0][6] = 0.25;  // element (1, 7)
  p.Смещение = -0.375;
  p.НачальнаяСуммаСинапсов = 1.125;
  p.Крутизна = 0.13;
  p.ВесАзимутаОбщий = -0.01;
  return p;
}

TEST(CoefficientExport, EveryBlockTitleAndScalarInItsPlace) {
  const NetworkParameters p = DistinctParameters();
  const ExportResult r = ExportLearningCoefficients(p);
  ASSERT_TRUE(r.ok);
  ASSERT_FALSE(r.message);
  const Sheet& s = r.sheet;
  const Mask7& mask = ApertureMask();

  EXPECT_EQ(s.Value(2, 7), CellValue(0.25));  // G2
  EXPECT_EQ(s.DisplayText(2, 7, "."), "0.250");
  EXPECT_EQ(s.Value(5, 20), CellValue(1.0));  // T5, the mask's centre
  EXPECT_EQ(s.Value(2, 17), CellValue(static_cast<double>(0.105f)));

  // Element (i, j) of a block with its top left at (row0 + 1, col0) sits in row
  // row0 + i, column col0 + j - 1; values in single precision.
  struct Block {
    int row0, col0;
    const Template7* t;
    bool masked;
  };
  const Block blocks[] = {{1, 1, &p.ВесИнтен, false}, {9, 1, &p.ВесЭллип, false}, {17, 1, &p.ВесАзим, false},
                          {25, 1, &p.ВесОС, false},   {1, 9, &p.ВесИнтен, true},  {9, 9, &p.ВесЭллип, true},
                          {17, 9, &p.ВесАзим, true}};
  for (const Block& b : blocks)
    for (int i = 1; i <= 7; ++i)
      for (int j = 1; j <= 7; ++j) {
        const double w = (*b.t)[i - 1][j - 1];
        const double expected = F(b.masked ? static_cast<double>(mask[i - 1][j - 1]) * w : w);
        ASSERT_EQ(s.Value(b.row0 + i, b.col0 + j - 1), CellValue(expected))
            << CellAddress(b.row0 + i, b.col0 + j - 1);
      }
  for (int i = 1; i <= 7; ++i)
    for (int j = 1; j <= 7; ++j)
      ASSERT_EQ(s.Value(1 + i, 17 + j - 1), CellValue(static_cast<double>(mask[i - 1][j - 1])));

  EXPECT_EQ(s.Value(1, 1), CellValue("Веса Интенсивности"));
  EXPECT_EQ(s.Value(9, 1), CellValue("Веса угла Эллиптичности"));
  EXPECT_EQ(s.Value(17, 1), CellValue(static_cast<double>(F(-0.01))));
  EXPECT_EQ(s.Value(17, 2), CellValue(" * Веса Азимута"));
  EXPECT_EQ(s.Value(25, 1), CellValue(" = Веса Обратной связи"));
  EXPECT_EQ(s.Value(1, 9), CellValue("Веса Интенсивности * Передаточную функцию"));
  EXPECT_EQ(s.Value(9, 9), CellValue("Веса Эллиптичности умноженные на Передаточную функцию"));
  EXPECT_EQ(s.Value(17, 9), CellValue("Веса Азимута умноженные на Передаточную функцию"));
  EXPECT_EQ(s.Value(1, 17), CellValue("Веса Передаточной функции"));
  EXPECT_EQ(s.Value(34, 1), CellValue(-0.375));
  EXPECT_EQ(s.Value(34, 2), CellValue(" = Постоянное Смещение"));
  EXPECT_EQ(s.Value(35, 1), CellValue(1.125));
  EXPECT_EQ(s.Value(35, 2), CellValue(" = Начальная сумма синапсов - состояние ячейки"));
  EXPECT_EQ(s.Value(36, 1), CellValue(static_cast<double>(0.13f)));
  EXPECT_EQ(s.Value(36, 2), CellValue(" = Крутизна"));

  EXPECT_EQ(s.UsedRange(), (SheetRange{1, 1, 36, 23}));  // A1:W36
  EXPECT_EQ(s.CellCount(), 8 * 49 + 8 + 1 + 6);  // blocks, titles, A17, scalars and labels
  for (int c = 1; c <= 23; ++c) {
    EXPECT_EQ(s.ColumnFormat(c), "0.000") << c;
    // H and P stay empty and keep the default width.
    EXPECT_EQ(s.HasColumnWidth(c), c != 8 && c != 16) << c;
  }
  EXPECT_EQ(s.ColumnFormat(24), "");
  EXPECT_TRUE(s.screenUpdating());
  EXPECT_TRUE(s.visible());
}

// Operations that fail at the k-th call (counting every call when k is 0).
class FailingOperations final : public SpreadsheetOperations {
 public:
  explicit FailingOperations(int failAt) : failAt_(failAt) {}
  int calls = 0;
  void SetScreenUpdating(bool) override { Step(); }
  void SetVisible(bool) override { Step(); }
  void SetRange(std::string_view, const CellBlock&) override { Step(); }
  void SetCell(int, int, const CellValue&) override { Step(); }
  void SetColumnsNumberFormat(std::string_view, const std::string&) override { Step(); }
  void SetRangeNumberFormat(std::string_view, const std::string&) override { Step(); }
  void AutoFitColumns(std::string_view) override { Step(); }

 private:
  void Step() {
    if (++calls == failAt_) throw SheetError("the spreadsheet stopped answering");
  }
  int failAt_;
};

TEST(CoefficientExport, AnyFailingOperationShowsTheThreeLineMessage) {
  FailingOperations counter(0);
  ASSERT_TRUE(ExportLearningCoefficients(DistinctParameters(), &counter).ok);
  ASSERT_GT(counter.calls, 20);
  const std::string expected =
      "Сбой при закрытии прошлых листов Excel.\r\nРекомендуется закрыть существующие документы Excel,\r\n"
      "а если ошибка повторяется, то перезагрузить ОС";
  for (int k = 1; k <= counter.calls; ++k) {
    FailingOperations failing(k);
    const ExportResult r = ExportLearningCoefficients(DistinctParameters(), &failing);
    ASSERT_FALSE(r.ok) << k;
    ASSERT_TRUE(r.message) << k;
    EXPECT_EQ(r.message->text, expected);
    EXPECT_EQ(r.message->title, "");  // the application's title
    EXPECT_EQ(failing.calls, k);      // nothing more is attempted after the failure
  }
}

TEST(CoefficientExport, ReadsTheWeightsFileOverTheWindowsParameters) {
  const std::string dir = test::TempDir("coef");
  const std::string path = LearningFiles(dir).weights;
  const NetworkParameters written = DistinctParameters();
  std::string error;
  ASSERT_TRUE(WriteWeightsFile(path, written, RunFigures{}, ",", &error)) << error;

  NetworkParameters window;  // start values
  ExportResult r = ExportLearningCoefficients(window, path, ",");
  ASSERT_TRUE(r.ok) << (r.message ? r.message->text : "");
  // Read into the window's parameters (the file holds three decimals, read as singles).
  for (int i = 0; i < 7; ++i)
    for (int j = 0; j < 7; ++j) ASSERT_NEAR(window.ВесИнтен[i][j], written.ВесИнтен[i][j], 1e-6);
  EXPECT_EQ(r.sheet.Value(2, 7), CellValue(0.25));
  EXPECT_EQ(r.sheet.Value(34, 1), CellValue(-0.375));

  // Keys missing from the file keep the window's values.
  { std::ofstream(path, std::ios::binary) << "Смещение = 1,5\r\n"; }
  NetworkParameters partial;
  partial.Крутизна = 0.25;
  r = ExportLearningCoefficients(partial, path, ",");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.sheet.Value(34, 1), CellValue(1.5));
  EXPECT_EQ(r.sheet.Value(36, 1), CellValue(0.25));

  // A missing file gives the reader's message and no sheet.
  NetworkParameters untouched;
  r = ExportLearningCoefficients(untouched, dir + "/absent.txt", ",");
  EXPECT_FALSE(r.ok);
  ASSERT_TRUE(r.message);
  EXPECT_NE(r.message->text.find("absent.txt"), std::string::npos) << r.message->text;
  EXPECT_EQ(r.sheet.CellCount(), 0);
  EXPECT_EQ(untouched, NetworkParameters());
}

// A processed set whose pixels vary in x and y differently, so that every
// quantity differs from cell to cell.
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
  for (auto& row : state.Detection.WeightKernel) row.fill(4.0f);  // 25 x 4 % = the mean
}

bool Inside(const SphereCircle& c, int x, int y) {
  return std::sqrt((c.CircleCentreX - x) * (c.CircleCentreX - x) + (c.CircleCentreY - y) * (c.CircleCentreY - y)) <=
         c.CircleRadius;
}

TEST(SphereCellsExport, FourHundredCellsOfA640x480Set) {
  AppState state;
  ProcessedSet(state, 640, 480);
  state.Circle = {320.5, 240.5, 11.4};
  const ExportResult r = ExportSphereCells(state, DirectionConvention::FullTurn);
  ASSERT_TRUE(r.ok) << (r.message ? r.message->text : "");
  const Sheet& s = r.sheet;

  // The inside cells in sheet order: x ascending, then y ascending.
  std::vector<std::pair<int, int>> cells;
  for (int x = 1; x <= 640; ++x)
    for (int y = 1; y <= 480; ++y)
      if (Inside(state.Circle, x, y)) cells.emplace_back(x, y);
  ASSERT_EQ(cells.size(), 400u);

  EXPECT_EQ(s.UsedRange(), (SheetRange{1, 1, 402, 8}));
  for (int k = 1; k <= 400; ++k) {
    const auto [x, y] = cells[k - 1];
    const PixelValues own = ОпределениеИнтенсивностей(std::as_const(state), x, y);
    const PixelValues next = ОпределениеИнтенсивностей(std::as_const(state), std::min(x + 2, 640), std::min(y + 2, 480));
    for (int c = 1; c <= 8; ++c) ASSERT_TRUE(s.Value(k, c).isNumber()) << k << "," << c;
    // Intensities as they are, not divided by 255.
    ASSERT_EQ(s.Value(k, 1).number, F(own.A0)) << k;
    ASSERT_EQ(s.Value(k, 2).number, F(own.AxisRatio)) << k;
    ASSERT_EQ(s.Value(k, 3).number, F(own.Azimuth)) << k;
    ASSERT_EQ(s.Value(k, 4).number, F(next.A0)) << k;
    const double rho = std::hypot(x - 320.5, y - 240.5) / 11.4;
    ASSERT_NEAR(s.Value(k, 7).number, rho < 1 ? std::asin(rho) : kPi / 2, 1e-5) << k;
    ASSERT_GE(s.Value(k, 8).number, 0.0);
    ASSERT_LT(s.Value(k, 8).number, kTwoPi);
  }
  EXPECT_TRUE(s.Value(401, 1).isEmpty());
  const CellValue comment = s.Value(402, 1);
  ASSERT_TRUE(comment.isText());
  EXPECT_EQ(comment.text,
            "Столбцы слева направо Интенсивность Эллиптичность Азимут    тоже сглаженное Угол наклона поверхности "
            "Угол направления от центра ;    Точек 640x480   ; ");
  for (int c = 1; c <= 8; ++c) EXPECT_EQ(s.ColumnFormat(c), "0.00");
  EXPECT_EQ(s.DisplayText(1, 1, ","), FormatNumber(F(ОпределениеИнтенсивностей(std::as_const(state), cells[0].first, cells[0].second).A0), "0.00", ","));
}

TEST(SphereCellsExport, NoCircleGivesTheCommentRowOnly) {
  AppState state;
  ProcessedSet(state, 40, 30);
  // Without a circle only the comment is written, in row n + 2 = 2.
  const ExportResult r = ExportSphereCells(state, DirectionConvention::FullTurn);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.sheet.CellCount(), 1);
  EXPECT_EQ(r.sheet.UsedRange(), (SheetRange{2, 1, 2, 1}));
  EXPECT_EQ(r.sheet.Value(2, 1).text, SphereCellsComment(40, 30));
}

TEST(SphereCellsExport, CircleWithoutProcessedSetIsRefused) {
  AppState state;
  state.SetWidth = 40;
  state.SetHeight = 30;
  state.Circle = {20, 15, 3};
  ExportResult r = ExportSphereCells(state, DirectionConvention::FullTurn);
  EXPECT_FALSE(r.ok);
  ASSERT_TRUE(r.message);
  EXPECT_EQ(r.sheet.CellCount(), 0);
  NetworkParameters window;
  r = ExportRecognisedHeights(state, window, "unused", ",");
  EXPECT_FALSE(r.ok);
  ASSERT_TRUE(r.message);
  EXPECT_EQ(r.sheet.CellCount(), 0);
}

TEST(HeightExport, TableCoversTheBoxWithXAlongColumns) {
  // The box of a circle at (50, 20) with radius 12.5: x 35..63, y 5..33.
  const HeightBox box = HeightTableBox(SphereCircle{50, 20, 12.5});
  EXPECT_EQ(box.x0, 35);
  EXPECT_EQ(box.x1, 63);
  EXPECT_EQ(box.y0, 5);
  EXPECT_EQ(box.y1, 33);
  EXPECT_EQ(box.columns(), 29);
  // Floor, not truncation, below zero.
  const HeightBox around = HeightTableBox(SphereCircle{0.5, 0, 0});
  EXPECT_EQ(around.x0, -2);
  EXPECT_EQ(around.x1, 1);
  EXPECT_EQ(around.y0, -2);
  EXPECT_EQ(around.columns(), 4);

  Sheet s;
  const HeightBox wide{1, 60, 1, 3};  // more than 26 columns: ends in column BH
  FillRecognisedHeights(s, wide, [](int x, int y) { return x + y / 8.0; });
  EXPECT_EQ(s.UsedRange(), (SheetRange{1, 1, 3, 60}));
  EXPECT_EQ(s.Value(1, 60), CellValue(60.125));  // BH1: x = 60, y = 1
  EXPECT_EQ(s.Value(3, 2), CellValue(2.375));    // B3: x = 2, y = 3
  EXPECT_EQ(s.ColumnFormat(ColumnNumber("BH")), "0.000");
  EXPECT_EQ(s.ColumnFormat(ColumnNumber("BI")), "");
}

// A weights file holding only the bias and the overall azimuth weight: every
// template is 0, so an inside cell's output is 1 / (1 + exp(-2 x Крутизна x
// bias)) and every other cell of the box is 0.
std::string BiasOnlyWeights(const std::string& dir) {
  const std::string path = LearningFiles(dir).weights;
  std::ofstream(path, std::ios::binary) << "Смещение = 1,000\r\nВесАзимутаОбщий = 0,0000\r\n";
  return path;
}

TEST(HeightExport, RecognisedHeightsOverTheCircle) {
  AppState state;
  ProcessedSet(state, 60, 50);
  state.Circle = {30.3, 22.6, 9.2};
  const std::string weights = BiasOnlyWeights(test::TempDir("heights"));
  NetworkParameters window;
  window.Крутизна = 5;  // reset to 0.13 by the export
  const ExportResult r = ExportRecognisedHeights(state, window, weights, ",");
  ASSERT_TRUE(r.ok) << (r.message ? r.message->text : "");
  EXPECT_EQ(window.Крутизна, 0.13);
  EXPECT_EQ(window.Смещение, 1.0);

  const HeightBox box = HeightTableBox(state.Circle);
  EXPECT_EQ(r.sheet.UsedRange(), (SheetRange{1, 1, box.rows(), box.columns()}));
  const double inside = F(1 / (1 + std::exp(-2 * 0.13 * 1.0)));
  int insideCount = 0;
  for (int row = 1; row <= box.rows(); ++row)
    for (int col = 1; col <= box.columns(); ++col) {
      const int x = box.x0 + col - 1, y = box.y0 + row - 1;
      const bool in = Inside(state.Circle, x, y);
      insideCount += in;
      ASSERT_EQ(r.sheet.Value(row, col), CellValue(in ? inside : 0.0)) << "x " << x << " y " << y;
    }
  EXPECT_GT(insideCount, 200);
  EXPECT_EQ(r.sheet.NumberFormat(1, box.columns()), "0.000");
  EXPECT_EQ(r.sheet.ColumnFormat(box.columns() + 1), "");
}

TEST(HeightExport, NoCircleEdgeCircleAndMissingWeights) {
  AppState state;
  ProcessedSet(state, 60, 50);
  const std::string weights = BiasOnlyWeights(test::TempDir("heights-edge"));
  NetworkParameters window;

  // No circle: a 4 x 4 box of zeros around the centre.
  state.Circle = {0, 0, 0};
  ExportResult r = ExportRecognisedHeights(state, window, weights, ",");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.sheet.UsedRange(), (SheetRange{1, 1, 4, 4}));
  for (int row = 1; row <= 4; ++row)
    for (int col = 1; col <= 4; ++col) EXPECT_EQ(r.sheet.Value(row, col), CellValue(0.0));

  // A circle whose neighbourhood leaves the image is refused, not evaluated.
  state.Circle = {6, 25, 4};
  r = ExportRecognisedHeights(state, window, weights, ",");
  EXPECT_FALSE(r.ok);
  ASSERT_TRUE(r.message);
  EXPECT_EQ(r.sheet.CellCount(), 0);

  // A missing weights file.
  state.Circle = {30, 25, 8};
  r = ExportRecognisedHeights(state, window, weights + ".absent", ",");
  EXPECT_FALSE(r.ok);
  ASSERT_TRUE(r.message);
}

// ---- the same sheets as workbooks, read back by an independent reader ----

class ExportWorkbooks : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XlsxWriterAvailable()) GTEST_SKIP() << "built without libxlsxwriter";
    if (auto why = test::WorkbookReaderMissing(); !why.empty()) GTEST_SKIP() << why;
    dir_ = test::TempDir("export-books");
  }
  test::ReadWorkbook WriteAndRead(const Sheet& sheet, const std::string& name) {
    std::string error;
    EXPECT_TRUE(WriteXlsx(sheet, dir_ + "/" + name, &error)) << error;
    auto book = test::ReadWithOpenpyxl(dir_ + "/" + name, &error);
    EXPECT_TRUE(book) << error;
    return book ? *book : test::ReadWorkbook{};
  }
  std::string dir_;
};

TEST_F(ExportWorkbooks, CoefficientsCellsAndHeights) {
  const auto coef = WriteAndRead(ExportLearningCoefficients(DistinctParameters()).sheet, "coef.xlsx");
  ASSERT_TRUE(coef.cell("G2"));
  EXPECT_EQ(coef.cell("G2")->value, 0.25);
  EXPECT_EQ(coef.cell("G2")->format, "0.000");
  ASSERT_TRUE(coef.cell("T5"));
  EXPECT_EQ(coef.cell("T5")->value, 1.0);
  EXPECT_EQ(coef.cell("T5")->format, "0.000");
  EXPECT_EQ(coef.cell("B36")->text, " = Крутизна");
  EXPECT_EQ(coef.dimensions, "A1:W36");
  EXPECT_EQ(coef.widths.size(), 23u);  // A to W fitted

  AppState state;
  ProcessedSet(state, 640, 480);
  state.Circle = {320.5, 240.5, 11.4};
  const auto cells = WriteAndRead(ExportSphereCells(state, DirectionConvention::FullTurn).sheet, "cells.xlsx");
  EXPECT_EQ(cells.dimensions, "A1:H402");
  EXPECT_EQ(cells.cells.size(), 400u * 8 + 1);
  ASSERT_TRUE(cells.cell("A402"));
  const std::string& text = cells.cell("A402")->text;
  const std::string tail = "640x480   ; ";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  ASSERT_TRUE(cells.cell("H400"));
  EXPECT_EQ(cells.cell("H400")->format, "0.00");

  state.Circle = {300.5, 200.5, 40};
  NetworkParameters window;
  const auto r = ExportRecognisedHeights(state, window, BiasOnlyWeights(dir_), ",");
  ASSERT_TRUE(r.ok);
  const auto heights = WriteAndRead(r.sheet, "heights.xlsx");
  const HeightBox box = HeightTableBox(state.Circle);
  EXPECT_EQ(heights.dimensions, "A1:" + ColumnName(box.columns()) + std::to_string(box.rows()));
  const std::string centre = CellAddress(200 - box.y0 + 1, 300 - box.x0 + 1);
  ASSERT_TRUE(heights.cell(centre));
  EXPECT_NEAR(heights.cell(centre)->value, 1 / (1 + std::exp(-2 * 0.13)), 1e-6);
  EXPECT_EQ(heights.cell(centre)->format, "0.000");
}

}  // namespace
}  // namespace ps
