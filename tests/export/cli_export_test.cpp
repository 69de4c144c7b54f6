// The export command end to end: the bundled sample set in, workbooks out, read
// back by openpyxl.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "export/workbook_reader.h"
#include "learning/files.h"
#include "support/test_support.h"

namespace ps {
namespace {

namespace fs = std::filesystem;

class ExportCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(test::SampleFiles()[0])) GTEST_SKIP() << "no sample set";
    PS_SKIP_WITHOUT_WRITER_AND_READER();
    dir_ = test::TempDir("cli-export-out");
    err_ = test::TempDir("cli-export") + "/err.txt";
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

TEST_F(ExportCommand, CellsTracedFromAStartCellAndHeightsOfTheSampleSphere) {
  auto [status, output] = Export("cells", "--start 166 40 --xlsx '" + dir_ + "/cells.xlsx' --json");
  ASSERT_EQ(status, 0) << output;
  double cx = 0, cy = 0, r = 0;
  const size_t at = output.find("circle ");
  ASSERT_TRUE(at != std::string::npos && std::sscanf(output.c_str() + at, "circle %lf %lf %lf", &cx, &cy, &r) == 3) << output;
  EXPECT_TRUE(std::fabs(cx - 166) < 4 && std::fabs(cy - 118) < 8 && std::fabs(r - 79) < 6) << output;  // the sample's sphere
  int n = 0;  // cells of the 320 x 240 sample within the circle; the first's distance from the centre
  double rho = -1;
  for (int x = 1; x <= 320; ++x)
    for (int y = 1; y <= 240; ++y)
      if (std::hypot(cx - x, cy - y) <= r && ++n == 1) rho = std::hypot(cx - x, cy - y) / r;
  EXPECT_NE(output.find("\"cells\": " + std::to_string(8 * n + 1)), std::string::npos) << output;
  const auto book = test::ReadBack(dir_ + "/cells.xlsx");
  EXPECT_EQ(book.dimensions, "A1:H" + std::to_string(n + 2));
  EXPECT_NE(book.show("A" + std::to_string(n + 2)).find(";    Точек 320x240   ; ' 0.00"), std::string::npos);
  ASSERT_TRUE(book.cell("G1") && book.cell("H1"));  // the first cell's inclination
  EXPECT_NEAR(book.cell("G1")->value, std::asin(std::min(rho, 1.0)), 1e-6);
  EXPECT_EQ(book.cell("G1")->format + book.cell("H1")->format, "0.000.00");

  const std::string data = dir_ + "/data";
  fs::create_directories(data);
  std::ofstream(LearningFiles(data).weights, std::ios::binary) << "Смещение = 0,500\r\nВесАзимутаОбщий = 0,0000\r\n";
  std::tie(status, output) = Export("heights", "--circle 166 118 79 --data '" + data + "' --xlsx '" + dir_ + "/h.xlsx'");
  ASSERT_EQ(status, 0) << output;
  const auto h = test::ReadBack(dir_ + "/h.xlsx");
  // x 85..246 along the columns (162, ending in FF), y 37..198 down the rows; column and row 82 are (166, 118).
  EXPECT_EQ(h.dimensions + "|" + h.show("A1"), "A1:FF162|0 0.000");  // A1 lies outside the circle
  ASSERT_TRUE(h.cell("CD82"));
  EXPECT_TRUE(h.cell("CD82")->value > 0 && h.cell("CD82")->value < 1 && h.cell("CD82")->format == "0.000");
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
