// The sheet model and the workbook file written from it, read back by openpyxl.
#include "export/sheet.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "export/workbook_reader.h"
#include "export/xlsx_writer.h"

namespace ps {
namespace {

TEST(SheetAddressing, ColumnNamesCellsAndRanges) {
  for (const auto& [n, name] : {std::pair{1, "A"}, {26, "Z"}, {27, "AA"}, {52, "AZ"}, {53, "BA"}, {702, "ZZ"},
                                {703, "AAA"}, {16384, "XFD"}})
    EXPECT_EQ(std::pair(ColumnName(n), ColumnNumber(name)), std::pair(std::string(name), n)) << n;
  // Every column survives the round trip, which catches an off-by-one at each carry.
  for (int n = 1; n <= kSheetMaxColumns; ++n) ASSERT_EQ(ColumnNumber(ColumnName(n)), n) << n;
  EXPECT_THROW(ColumnName(0), SheetError);
  EXPECT_THROW(ColumnName(kSheetMaxColumns + 1), SheetError);
  EXPECT_EQ(ColumnNumber("az"), 52);
  for (const char* bad : {"", "XFE", "A1", "AAAA"}) EXPECT_EQ(ColumnNumber(bad), 0) << bad;
  EXPECT_EQ(CellAddress(402, 1) + CellAddress(kSheetMaxRows, kSheetMaxColumns), "A402XFD1048576");
  EXPECT_THROW(CellAddress(0, 1), SheetError);
  EXPECT_THROW(CellAddress(kSheetMaxRows + 1, 1), SheetError);
  for (const auto& [text, range] : {std::pair{"A2:G8", SheetRange{2, 1, 8, 7}}, {"G8:A2", {2, 1, 8, 7}},
                                    {"$Q$2:w8", {2, 17, 8, 23}}, {"T5", {5, 20, 5, 20}},
                                    {"A:H", {1, 1, kSheetMaxRows, 8}}, {"AA", {1, 27, kSheetMaxRows, 27}}})
    EXPECT_EQ(ParseAddress(text), range) << text;
  for (const char* bad : {"", ":", "A0", "A1:H0", "1:5", "A:H5", "A1:", "A01", "XFE1", "A1048577", "A-1", "A1:B2:C3"})
    EXPECT_FALSE(ParseAddress(bad).has_value()) << bad;
  EXPECT_EQ(RangeAddress(SheetRange{2, 1, 8, 7}) + RangeAddress(SheetRange{5, 20, 5, 20}), "A2:G8T5");
}

TEST(SheetModel, RangesAndCellsLandWhereAddressed) {
  Sheet sheet;
  CellBlock block(2, 3);
  block.set(1, 1, 1.5);
  block.set(1, 3, "текст");
  block.set(2, 2, -2.0);
  sheet.SetRange("B3:D4", block);
  EXPECT_EQ(std::tuple(sheet.Value(3, 3), sheet.Value(3, 4), sheet.Value(4, 3), sheet.UsedRange()),
            std::tuple(CellValue(), CellValue("текст"), CellValue(-2.0), SheetRange{3, 2, 4, 4}));
  // A block whose shape differs from the range, or a bad address or cell, is refused and changes nothing.
  EXPECT_THROW(sheet.SetRange("A1:C3", block), SheetError);
  EXPECT_THROW(sheet.SetRange("nonsense", block), SheetError);
  EXPECT_THROW(sheet.SetCell(0, 1, 1.0), SheetError);
  EXPECT_THROW(sheet.SetCell(1, kSheetMaxColumns + 1, 1.0), SheetError);
  EXPECT_EQ(sheet.CellCount(), 3);
  EXPECT_TRUE(Sheet().UsedRange().empty());
}

TEST(SheetModel, NumberFormatsOfColumnsAndRanges) {
  Sheet sheet;
  sheet.SetCell(2, 1, 0.25);
  sheet.SetCell(2, 9, 0.25);
  EXPECT_EQ(sheet.NumberFormat(2, 1) + "|" + sheet.DisplayText(2, 1, ","), "General|0,25");
  sheet.SetRangeNumberFormat("A2:B3", "0.0");
  EXPECT_EQ(sheet.NumberFormat(3, 2) + "|" + sheet.DisplayText(2, 1, "."), "0.0|0.3");  // an empty cell keeps its format
  // A column format applies to present cells, formatted or not, and to later ones; a later range format wins.
  sheet.SetColumnsNumberFormat("A:H", "0.000");
  EXPECT_EQ(sheet.NumberFormat(3, 2) + "|" + sheet.NumberFormat(2, 9), "0.000|General");
  sheet.SetCell(100, 8, 1.0 / 3.0);
  EXPECT_EQ(sheet.DisplayText(100, 8, ",") + "|" + sheet.DisplayText(2, 1, ","), "0,333|0,250");
  sheet.SetRangeNumberFormat("A2", "0.00");
  EXPECT_EQ(sheet.NumberFormat(2, 1) + "|" + sheet.NumberFormat(3, 1), "0.00|0.000");
}

TEST(SheetModel, FittedWidthEqualsTheShownLength) {
  // Cyrillic text counts characters, not bytes; an empty column keeps the default width.
  Sheet sheet;
  sheet.SetCell(1, 2, "Веса");
  sheet.AutoFitColumns("A:C");
  EXPECT_EQ(std::tuple(sheet.ColumnWidth(2), sheet.HasColumnWidth(3), sheet.ColumnWidth(3)), std::tuple(4.71, false, kDefaultColumnWidth));
  sheet.SetCell(1, 2, CellValue());
  sheet.AutoFitColumns("B:B");
  EXPECT_FALSE(sheet.HasColumnWidth(2));  // emptied again: back to the default

  // Fitting measures numbers without formatting each; it agrees with the shown text, also at rounding boundaries.
  std::vector<double> values = {0,      -0.0,    0.004,    -0.004,   0.005,   -0.005,  0.0049999, 9.995,
                                -9.995, 99.9996, 999.9995, 1.005,    -1.005,  0.125,   1e8,       -123456.789,
                                1e9,    1e12,    -1e15,    0.0004999, 2.5e-7, 12345678.9};
  for (int e = -4; e <= 9; ++e)  // every decade, near and away from rounding boundaries
    for (double m : {0.1234567, -0.4999999, 0.5000001, -0.9999996, 0.99949, 0.3141592653589793}) values.push_back(m * std::pow(10.0, e));
  for (const char* format : {"0.00", "0.000", "0", "#.00", "00.0", "###0.000", "General"})
    for (double v : values) {
      Sheet one;
      one.SetCell(3, 2, v);
      one.SetColumnsNumberFormat("B", format);
      one.AutoFitColumns("B");
      size_t shown = 0;
      for (unsigned char ch : one.DisplayText(3, 2)) shown += (ch & 0xC0) != 0x80;
      ASSERT_NEAR(one.ColumnWidth(2), shown + 0.71, 1e-9) << format << " " << v << " " << one.DisplayText(3, 2);
    }
}

namespace fs = std::filesystem;
using test::ReadAll;

int FilesIn(const std::string& dir) { return static_cast<int>(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }

Sheet SmallSheet() {
  Sheet sheet;
  CellBlock block(2, 2);
  block.set(1, 1, static_cast<double>(0.25f));
  block.set(1, 2, static_cast<double>(0.105f));
  block.set(2, 1, -1.5);
  block.set(2, 2, "Веса Интенсивности");
  sheet.SetRange("A2:B3", block);
  sheet.SetCell(1, 28, 42.0);  // AB1
  sheet.SetCell(5, 1, "хвост   ; ");
  sheet.SetCell(6, 1, std::numeric_limits<double>::quiet_NaN());
  sheet.SetCell(6, 2, std::numeric_limits<double>::infinity());
  sheet.SetColumnsNumberFormat("A:B", "0.000");
  sheet.SetRangeNumberFormat("B2", "0.00");
  sheet.AutoFitColumns("A:B");
  return sheet;
}

TEST(XlsxWriter, ReaderSeesValuesFormatsAndWidthsAndTheFileIsReplacedWhole) {
  PS_SKIP_WITHOUT_WRITER_AND_READER();
  const std::string dir = test::TempDir("xlsx");
  const std::string path = dir + "/книга.xlsx";
  { std::ofstream(path) << "old content"; }
  const Sheet sheet = SmallSheet();
  auto book = test::WriteAndReadBack(sheet, path);
  EXPECT_EQ(ReadAll(path).substr(0, 2), "PK");  // a zip container now
  EXPECT_EQ(FilesIn(dir), 1);                   // no temporary file left beside it
  EXPECT_EQ(std::pair(book.sheetTitle, book.cells.size()), std::pair(std::string(kWorkbookSheetName), size_t{8}));

  // Numbers keep 16 significant digits (a single comes back the same); a cell's own format wins over its
  // column's; texts keep trailing blanks; non-finite numbers become an error value, not a broken file.
  for (const auto& [address, shown] : {std::pair{"A2", "0.25 0.000"}, {"B2", "0.1049999967217445 0.00"},
                                       {"A3", "-1.5 0.000"}, {"B3", "'Веса Интенсивности' 0.000"}, {"AB1", "42 General"},
                                       {"A5", "'хвост   ; ' 0.000"}, {"A6", "'#NUM!' 0.000"}, {"B6", "'#NUM!' 0.000"}})
    EXPECT_EQ(book.show(address), shown) << address;
  // Fitted widths arrive within the writer's rounding to whole pixels.
  EXPECT_TRUE(std::fabs(book.widths["A"] - sheet.ColumnWidth(1)) < 1 && std::fabs(book.widths["B"] - sheet.ColumnWidth(2)) < 1);

  // The workbook gets the permissions of any new file, not the owner-only ones of its temporary file.
  { std::ofstream(dir + "/plain.txt") << "x"; }
  struct stat st {}, plain {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  ASSERT_EQ(::stat((dir + "/plain.txt").c_str(), &plain), 0);
  EXPECT_EQ(st.st_mode & 0777, plain.st_mode & 0777);

  EXPECT_TRUE(test::WriteAndReadBack(Sheet(), dir + "/empty.xlsx").cells.empty());
}

TEST(XlsxWriter, UnwritableTargetsFailCleanlyAndLeaveNoHalfWrittenFile) {
  if (!XlsxWriterAvailable()) GTEST_SKIP() << "built without libxlsxwriter";
  const std::string dir = test::TempDir("xlsx-fail");
  std::string error;
  EXPECT_FALSE(WriteXlsx(SmallSheet(), dir + "/missing/out.xlsx", &error));  // a folder that does not exist
  EXPECT_TRUE(error.find(dir + "/missing/out.xlsx") != std::string::npos && error.find("No such file") != std::string::npos) << error;
  fs::create_directory(dir + "/folder.xlsx");
  error.clear();
  EXPECT_FALSE(WriteXlsx(SmallSheet(), dir + "/folder.xlsx", &error));  // a target that is a folder
  EXPECT_TRUE(!error.empty() && fs::is_directory(dir + "/folder.xlsx"));
  // A read-only folder (root ignores permissions, so only when they hold).
  const std::string locked = dir + "/locked";
  fs::create_directory(locked);
  { std::ofstream(locked + "/keep.xlsx") << "previous"; }
  ::chmod(locked.c_str(), 0555);
  if (::access(locked.c_str(), W_OK) != 0) {
    error.clear();
    EXPECT_FALSE(WriteXlsx(SmallSheet(), locked + "/keep.xlsx", &error));
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
  }
  ::chmod(locked.c_str(), 0755);
  // A failure inside the writer, after the temporary file was made: a text beyond 32767 characters.
  Sheet tooLong;
  tooLong.SetCell(1, 1, std::string(40000, 'x'));
  { std::ofstream(dir + "/out.xlsx") << "previous"; }
  error.clear();
  EXPECT_FALSE(WriteXlsx(tooLong, dir + "/out.xlsx", &error));
  EXPECT_FALSE(error.empty());
  // Previous files are untouched and nothing half-written is left anywhere.
  EXPECT_EQ(ReadAll(dir + "/out.xlsx") + ReadAll(locked + "/keep.xlsx"), "previousprevious");
  EXPECT_EQ(std::pair(FilesIn(dir), FilesIn(locked)), std::pair(3, 1));  // folder.xlsx, locked, out.xlsx; keep.xlsx
}

}  // namespace
}  // namespace ps
