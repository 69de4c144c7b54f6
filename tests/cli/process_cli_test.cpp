#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "imageio/bmp_writer.h"
#include "support/test_support.h"

namespace {

using ps::test::CliRun;
using ps::test::ReadAll;

CliRun Cli(const std::string& args, const std::string& errFile = "/dev/null") {
  return ps::test::RunCli(args, errFile);
}

std::string SampleArgs() {
  std::string a;
  for (const auto& f : ps::test::SampleFiles()) a += f + " ";
  return a;
}

TEST(ProcessCommand, JsonSummaryAndNumpyLayers) {
  const std::string dir = ps::test::TempDir("cli-process");
  const CliRun r = Cli("process " + SampleArgs() + "--out " + dir + " --json");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"width\": 320"), std::string::npos);
  EXPECT_NE(r.out.find("\"height\": 240"), std::string::npos);
  EXPECT_NE(r.out.find("\"bits_per_pixel\": 24"), std::string::npos);
  for (const char* d : {"\"max\"", "\"mean\"", "\"luma\"", "\"mean_a0\"", "\"undefined_share\"", "\"mean_axis_ratio\"",
                        "\"mean_azimuth\"", "\"azimuth_luma\""})
    EXPECT_NE(r.out.find(d), std::string::npos) << d;
  const std::string npy = ReadAll(dir + "/azimuth_mean.npy");
  ASSERT_GT(npy.size(), 128u);
  EXPECT_EQ(npy.substr(1, 5), "NUMPY");
  EXPECT_NE(npy.find("'shape': (240, 320)"), std::string::npos);
  EXPECT_NE(npy.find("'<f8'"), std::string::npos);
  const size_t header = 10 + (static_cast<unsigned char>(npy[8]) | (static_cast<unsigned char>(npy[9]) << 8));
  EXPECT_EQ(header % 64, 0u);
  EXPECT_EQ(npy.size(), header + 240u * 320u * 8u);
  for (const char* q : {"a0", "axis_ratio", "ellipticity_angle", "azimuth", "undefined_marker"})
    for (const char* d : {"max", "mean", "luma"})
      EXPECT_TRUE(std::ifstream(dir + "/" + q + "_" + d + ".npy").good()) << q << "_" << d;
}

TEST(ProcessCommand, RefusalsExitNonZeroWithTheMessageOnStderr) {
  const std::string dir = ps::test::TempDir("cli-refuse");
  std::ofstream(dir + "/text.bmp") << "not a picture";
  auto files = ps::test::SampleFiles();
  const CliRun r = Cli("process " + files[0] + " " + files[1] + " " + dir + "/text.bmp " + files[3], dir + "/err.txt");
  EXPECT_NE(r.status, 0);
  const std::string err = ReadAll(dir + "/err.txt");
  EXPECT_NE(err.find("Неизвестный формат файла"), std::string::npos);
  EXPECT_NE(err.find("не является изображением"), std::string::npos);

  EXPECT_EQ(Cli("process " + files[0]).status, 2);
  EXPECT_EQ(Cli("no-such-command").status, 2);
  EXPECT_EQ(Cli("process --help").status, 0);
}

TEST(MakeSampleCommand, WritesFourPhotographsAndTheTruth) {
  const std::string dir = ps::test::TempDir("cli-sample");
  const CliRun r = Cli("make-sample " + dir + " --width 64 --height 48 --seed 3 --json");
  ASSERT_EQ(r.status, 0);
  const std::string truth = ReadAll(dir + "/truth.txt");
  EXPECT_NE(truth.find("centre_x 33.000"), std::string::npos);
  EXPECT_NE(truth.find("radius 16.000"), std::string::npos);
  const CliRun p = Cli("process " + dir + "/0.bmp " + dir + "/45.bmp " + dir + "/90.bmp " + dir + "/135.bmp --json");
  EXPECT_EQ(p.status, 0);
  EXPECT_NE(p.out.find("\"width\": 64"), std::string::npos);
  // The same seed renders the same photographs.
  const std::string again = ps::test::TempDir("cli-sample2");
  ASSERT_EQ(Cli("make-sample " + again + " --width 64 --height 48 --seed 3").status, 0);
  EXPECT_EQ(ReadAll(dir + "/45.bmp"), ReadAll(again + "/45.bmp"));
}

}  // namespace
