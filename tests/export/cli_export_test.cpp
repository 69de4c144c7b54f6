// The export command end to end: the bundled sample set in, workbooks out, read
// back by openpyxl.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "export/workbook_reader.h"
#include "export/xlsx_writer.h"
#include "learning/files.h"
#include "support/test_support.h"

namespace ps {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;
  std::string output;  // stdout and stderr
};

CliRun RunCli(const std::string& arguments) {
  const std::string log = test::TempDir("cli-export") + "/log.txt";
  const std::string command = std::string("'") + PS_CLI_PATH + "' " + arguments + " > '" + log + "' 2>&1";
  CliRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(log);
  run.output.assign(std::istreambuf_iterator<char>(in), {});
  return run;
}

std::string SampleArgs() {
  std::string s;
  for (const auto& f : test::SampleFiles()) s += "'" + f + "' ";
  return s;
}

class ExportCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(test::SampleFiles()[0])) GTEST_SKIP() << "no sample set";
    if (!XlsxWriterAvailable()) GTEST_SKIP() << "built without libxlsxwriter";
    if (auto why = test::WorkbookReaderMissing(); !why.empty()) GTEST_SKIP() << why;
    dir_ = test::TempDir("cli-export-out");
  }
  test::ReadWorkbook Read(const std::string& path) {
    std::string error;
    auto book = test::ReadWithOpenpyxl(path, &error);
    EXPECT_TRUE(book) << error;
    return book ? *book : test::ReadWorkbook{};
  }
  std::string dir_;
};

TEST_F(ExportCommand, CellsOfTheSampleSphere) {
  const std::string out = dir_ + "/cells.xlsx";
  const CliRun run = RunCli("export cells " + SampleArgs() + "--circle 166 118 30 --xlsx '" + out + "' --json");
  ASSERT_EQ(run.status, 0) << run.output;
  int n = 0;
  for (int x = 1; x <= 320; ++x)
    for (int y = 1; y <= 240; ++y) n += std::hypot(166.0 - x, 118.0 - y) <= 30;
  const auto book = Read(out);
  EXPECT_EQ(book.dimensions, "A1:H" + std::to_string(n + 2));
  const auto* comment = book.cell("A" + std::to_string(n + 2));
  ASSERT_TRUE(comment);
  EXPECT_NE(comment->text.find(";    Точек 320x240   ; "), std::string::npos) << comment->text;
  // The first inside cell is the leftmost column's topmost: (136, 118) on the
  // horizontal diameter, inclination just below pi/2 and direction 0.
  ASSERT_TRUE(book.cell("G1"));
  EXPECT_NEAR(book.cell("G1")->value, 3.14159 / 2, 1e-6);
  EXPECT_EQ(book.cell("G1")->format, "0.00");
  EXPECT_NEAR(book.cell("H1")->value, 0.0, 1e-6);
  EXPECT_NE(run.output.find("\"cells\": " + std::to_string(8 * n + 1)), std::string::npos) << run.output;
}

TEST_F(ExportCommand, CircleFoundFromAStartCell) {
  const std::string out = dir_ + "/traced.xlsx";
  const CliRun run = RunCli("export cells " + SampleArgs() + "--start 166 40 --xlsx '" + out + "'");
  ASSERT_EQ(run.status, 0) << run.output;
  const size_t at = run.output.find("circle ");
  ASSERT_NE(at, std::string::npos) << run.output;
  double cx = 0, cy = 0, r = 0;
  ASSERT_EQ(std::sscanf(run.output.c_str() + at, "circle %lf %lf %lf", &cx, &cy, &r), 3);
  EXPECT_NEAR(cx, 166, 4);  // the sample's sphere
  EXPECT_NEAR(cy, 118, 8);
  EXPECT_NEAR(r, 79, 6);
  int n = 0;
  for (int x = 1; x <= 320; ++x)
    for (int y = 1; y <= 240; ++y) n += std::hypot(cx - x, cy - y) <= r;
  EXPECT_EQ(Read(out).dimensions, "A1:H" + std::to_string(n + 2));
}

TEST_F(ExportCommand, HeightsAndCoefficientsFromTheWeightsFile) {
  const std::string data = dir_ + "/data";
  fs::create_directories(data);
  std::ofstream(LearningFiles(data).weights, std::ios::binary)
      << "Смещение = 0,500\r\nВесИнтен(1; 7) = 0,250\r\nВесАзимутаОбщий = 0,0000\r\n";

  const CliRun coef = RunCli("export coefficients --data '" + data + "' --xlsx '" + dir_ + "/coef.xlsx'");
  ASSERT_EQ(coef.status, 0) << coef.output;
  const auto c = Read(dir_ + "/coef.xlsx");
  ASSERT_TRUE(c.cell("G2"));
  EXPECT_EQ(c.cell("G2")->value, 0.25);
  EXPECT_EQ(c.cell("G2")->format, "0.000");
  EXPECT_EQ(c.cell("T5")->value, 1.0);
  EXPECT_EQ(c.cell("A34")->value, 0.5);

  const CliRun heights =
      RunCli("export heights " + SampleArgs() + "--circle 166 118 79 --data '" + data + "' --xlsx '" + dir_ + "/h.xlsx'");
  ASSERT_EQ(heights.status, 0) << heights.output;
  const auto h = Read(dir_ + "/h.xlsx");
  // x 85..246 along the columns (162, ending in FF), y 37..198 down the rows.
  EXPECT_EQ(h.dimensions, "A1:FF162");
  EXPECT_EQ(h.cell("A1")->value, 0.0);  // outside the circle
  const auto* centre = h.cell("CD82");  // column 82 is x = 166, row 82 is y = 118
  ASSERT_TRUE(centre);
  EXPECT_GT(centre->value, 0.0);
  EXPECT_LT(centre->value, 1.0);
  EXPECT_EQ(centre->format, "0.000");

  // Without a circle: the small box around the centre.
  const CliRun none =
      RunCli("export heights " + SampleArgs() + "--circle 0 0 0 --data '" + data + "' --xlsx '" + dir_ + "/h0.xlsx'");
  ASSERT_EQ(none.status, 0) << none.output;
  EXPECT_EQ(Read(dir_ + "/h0.xlsx").dimensions, "A1:D4");
}

TEST_F(ExportCommand, RefusalsLeaveNoFile) {
  // No weights file.
  CliRun run = RunCli("export coefficients --data '" + dir_ + "/empty' --xlsx '" + dir_ + "/coef.xlsx'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Весовые коэффициенты.txt"), std::string::npos) << run.output;
  // A folder that does not exist.
  run = RunCli("export cells " + SampleArgs() + "--circle 166 118 79 --xlsx '" + dir_ + "/no/such/cells.xlsx'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("no/such/cells.xlsx"), std::string::npos) << run.output;
  // Bad arguments.
  EXPECT_EQ(RunCli("export cells " + SampleArgs() + "--xlsx '" + dir_ + "/x.xlsx'").status, 2);
  EXPECT_EQ(RunCli("export table --xlsx '" + dir_ + "/x.xlsx'").status, 2);
  EXPECT_EQ(RunCli("export cells " + SampleArgs() + "--circle 1 2 -3 --xlsx '" + dir_ + "/x.xlsx'").status, 2);
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
}  // namespace ps
