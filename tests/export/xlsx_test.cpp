#include "export/xlsx_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "export/workbook_reader.h"
#include "support/test_support.h"

namespace ps {
namespace {

namespace fs = std::filesystem;

#define SKIP_WITHOUT_WRITER_AND_READER()                                           \
  do {                                                                             \
    if (!XlsxWriterAvailable()) GTEST_SKIP() << "built without libxlsxwriter";      \
    if (auto why = test::WorkbookReaderMissing(); !why.empty()) GTEST_SKIP() << why; \
  } while (0)

int FilesIn(const std::string& dir) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

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
  sheet.SetColumnsNumberFormat("A:B", "0.000");
  sheet.SetRangeNumberFormat("B2", "0.00");
  sheet.AutoFitColumns("A:B");
  return sheet;
}

TEST(XlsxWriter, ReaderSeesValuesFormatsAndWidths) {
  SKIP_WITHOUT_WRITER_AND_READER();
  const std::string dir = test::TempDir("xlsx");
  const std::string path = dir + "/книга.xlsx";
  const Sheet sheet = SmallSheet();
  std::string error;
  ASSERT_TRUE(WriteXlsx(sheet, path, &error)) << error;
  EXPECT_EQ(FilesIn(dir), 1);  // no temporary file left beside it

  auto book = test::ReadWithOpenpyxl(path, &error);
  ASSERT_TRUE(book) << error;
  EXPECT_EQ(book->sheetTitle, kWorkbookSheetName);
  EXPECT_EQ(book->cells.size(), 6u);

  const auto* a2 = book->cell("A2");
  ASSERT_TRUE(a2);
  EXPECT_TRUE(a2->number);
  EXPECT_EQ(a2->value, 0.25);
  EXPECT_EQ(a2->format, "0.000");
  const auto* b2 = book->cell("B2");
  ASSERT_TRUE(b2);
  // Numbers are stored with 16 significant digits: a single-precision value
  // comes back as the same single.
  EXPECT_EQ(static_cast<float>(b2->value), 0.105f);
  EXPECT_NEAR(b2->value, static_cast<double>(0.105f), 1e-16);
  EXPECT_EQ(b2->format, "0.00");                      // the cell's own format wins
  EXPECT_EQ(book->cell("A3")->value, -1.5);
  ASSERT_TRUE(book->cell("B3"));
  EXPECT_FALSE(book->cell("B3")->number);
  EXPECT_EQ(book->cell("B3")->text, "Веса Интенсивности");
  EXPECT_EQ(book->cell("B3")->format, "0.000");
  ASSERT_TRUE(book->cell("AB1"));
  EXPECT_EQ(book->cell("AB1")->value, 42.0);
  EXPECT_EQ(book->cell("AB1")->format, "General");
  ASSERT_TRUE(book->cell("A5"));
  EXPECT_EQ(book->cell("A5")->text, "хвост   ; ");  // trailing blanks kept

  // Fitted widths arrive within the writer's rounding to whole pixels.
  ASSERT_TRUE(book->widths.count("A"));
  ASSERT_TRUE(book->widths.count("B"));
  EXPECT_NEAR(book->widths.at("A"), sheet.ColumnWidth(1), 1.0);
  EXPECT_NEAR(book->widths.at("B"), sheet.ColumnWidth(2), 1.0);
  EXPECT_GT(book->widths.at("B"), book->widths.at("A"));
}

TEST(XlsxWriter, EmptySheetAndNonFiniteNumbersStillMakeAValidWorkbook) {
  SKIP_WITHOUT_WRITER_AND_READER();
  const std::string dir = test::TempDir("xlsx-empty");
  std::string error;
  ASSERT_TRUE(WriteXlsx(Sheet(), dir + "/empty.xlsx", &error)) << error;
  auto book = test::ReadWithOpenpyxl(dir + "/empty.xlsx", &error);
  ASSERT_TRUE(book) << error;
  EXPECT_TRUE(book->cells.empty());

  Sheet odd;
  odd.SetCell(1, 1, std::numeric_limits<double>::quiet_NaN());
  odd.SetCell(1, 2, std::numeric_limits<double>::infinity());
  odd.SetCell(1, 3, 1.0);
  ASSERT_TRUE(WriteXlsx(odd, dir + "/odd.xlsx", &error)) << error;
  book = test::ReadWithOpenpyxl(dir + "/odd.xlsx", &error);
  ASSERT_TRUE(book) << error;
  EXPECT_EQ(book->cell("A1")->text, "#NUM!");
  EXPECT_EQ(book->cell("B1")->text, "#NUM!");
  EXPECT_EQ(book->cell("C1")->value, 1.0);
}

TEST(XlsxWriter, ReplacesAnExistingFileWhole) {
  SKIP_WITHOUT_WRITER_AND_READER();
  const std::string dir = test::TempDir("xlsx-replace");
  const std::string path = dir + "/out.xlsx";
  { std::ofstream(path) << "old content"; }
  std::string error;
  ASSERT_TRUE(WriteXlsx(SmallSheet(), path, &error)) << error;
  EXPECT_EQ(ReadAll(path).substr(0, 2), "PK");  // a zip container now
  EXPECT_EQ(FilesIn(dir), 1);
  auto book = test::ReadWithOpenpyxl(path, &error);
  ASSERT_TRUE(book) << error;
  // The workbook gets the permissions of any newly created file, not the
  // owner-only ones of its temporary file.
  { std::ofstream(dir + "/plain.txt") << "x"; }
  struct stat st {}, plain {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  ASSERT_EQ(::stat((dir + "/plain.txt").c_str(), &plain), 0);
  EXPECT_EQ(st.st_mode & 0777, plain.st_mode & 0777);
}

TEST(XlsxWriter, UnwritableTargetsFailCleanly) {
  if (!XlsxWriterAvailable()) GTEST_SKIP() << "built without libxlsxwriter";
  const std::string dir = test::TempDir("xlsx-fail");
  std::string error;

  // A folder that does not exist.
  EXPECT_FALSE(WriteXlsx(SmallSheet(), dir + "/missing/out.xlsx", &error));
  EXPECT_NE(error.find(dir + "/missing/out.xlsx"), std::string::npos) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  // A target that is a folder.
  fs::create_directory(dir + "/folder.xlsx");
  error.clear();
  EXPECT_FALSE(WriteXlsx(SmallSheet(), dir + "/folder.xlsx", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(fs::is_directory(dir + "/folder.xlsx"));

  // A read-only folder (root ignores permissions, so only when they hold).
  const std::string locked = dir + "/locked";
  fs::create_directory(locked);
  { std::ofstream(locked + "/keep.xlsx") << "previous"; }
  ::chmod(locked.c_str(), 0555);
  if (::access(locked.c_str(), W_OK) != 0) {
    error.clear();
    EXPECT_FALSE(WriteXlsx(SmallSheet(), locked + "/keep.xlsx", &error));
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(locked + "/keep.xlsx"), "previous");
  }
  ::chmod(locked.c_str(), 0755);

  // Nothing half-written is left anywhere.
  EXPECT_EQ(FilesIn(dir), 2);  // folder.xlsx and locked
  EXPECT_EQ(FilesIn(locked), 1);
}

TEST(XlsxWriter, FailureInsideTheWriterLeavesNoFile) {
  if (!XlsxWriterAvailable()) GTEST_SKIP() << "built without libxlsxwriter";
  // A text beyond the 32767 characters a cell can hold makes the writer fail
  // after the temporary file was created.
  Sheet sheet;
  sheet.SetCell(1, 1, 1.0);
  sheet.SetCell(2, 1, std::string(40000, 'x'));
  const std::string dir = test::TempDir("xlsx-long");
  { std::ofstream(dir + "/out.xlsx") << "previous"; }
  std::string error;
  EXPECT_FALSE(WriteXlsx(sheet, dir + "/out.xlsx", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadAll(dir + "/out.xlsx"), "previous");
  EXPECT_EQ(FilesIn(dir), 1);
}

}  // namespace
}  // namespace ps
