#include "export/xlsx_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>

#include "export/workbook_reader.h"
#include "support/test_support.h"

namespace ps {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;

int FilesIn(const std::string& dir) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
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
  const auto book = test::WriteAndReadBack(sheet, path);
  EXPECT_EQ(ReadAll(path).substr(0, 2), "PK");  // a zip container now
  EXPECT_EQ(FilesIn(dir), 1);                   // no temporary file left beside it
  EXPECT_EQ(std::pair(book.sheetTitle, book.cells.size()), std::pair(std::string(kWorkbookSheetName), size_t{8}));

  // Numbers keep 16 significant digits: a single-precision value comes back as
  // the same single. A cell's own format wins over its column's; texts keep
  // trailing blanks; non-finite numbers become an error value, not a broken file.
  for (const auto& [address, shown] : {std::pair{"A2", "0.25 0.000"}, {"B2", "0.1049999967217445 0.00"},
                                       {"A3", "-1.5 0.000"}, {"B3", "'Веса Интенсивности' 0.000"}, {"AB1", "42 General"},
                                       {"A5", "'хвост   ; ' 0.000"}, {"A6", "'#NUM!' 0.000"}, {"B6", "'#NUM!' 0.000"}})
    EXPECT_EQ(book.show(address), shown) << address;
  // Fitted widths arrive within the writer's rounding to whole pixels.
  ASSERT_TRUE(book.widths.count("A") && book.widths.count("B"));
  EXPECT_NEAR(book.widths.at("A"), sheet.ColumnWidth(1), 1.0);
  EXPECT_NEAR(book.widths.at("B"), sheet.ColumnWidth(2), 1.0);

  // The workbook gets the permissions of any newly created file, not the
  // owner-only ones of its temporary file.
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
