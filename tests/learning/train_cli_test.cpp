// The train and init-data commands on the bundled sample set.
#include <gtest/gtest.h>

#include <filesystem>

#include "learning/files.h"
#include "learning/text_encoding.h"
#include "support/test_support.h"

namespace ps {
namespace {

std::string Q(const std::string& s) { return "'" + s + "'"; }

std::string SampleArgs() {
  std::string a;
  for (const std::string& f : test::SampleFiles()) a += Q(f) + " ";
  return a;
}

// The sphere of the sample set (truth.txt).
const char* kCircle = " --circle 166 118 79";

TEST(TrainCommand, StarterFilesThenReproducibleRunsThatLowerEnergyB) {
  const std::string dir = test::TempDir("train-cli");
  ASSERT_EQ(test::RunCli("init-data " + Q(dir)).status, 0);
  const LearningPaths files = LearningFiles(dir);
  ASSERT_TRUE(std::filesystem::exists(files.steps));
  EXPECT_EQ(test::ReadAll(files.weights), "");
  // init-data keeps what exists.
  const std::string steps = test::ReadAll(files.steps);
  ASSERT_EQ(test::RunCli("init-data " + Q(dir)).status, 0);
  EXPECT_EQ(test::ReadAll(files.steps), steps);

  const test::CliRun first =
      test::RunCli("train " + SampleArgs() + kCircle + " --data " + Q(dir) + " --accepted 25 --seed 3 --json --quiet");
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_NE(first.out.find("\"accepted\": 25"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("\"inside_cells\": "), std::string::npos);
  auto number = [&](const std::string& key) {
    const size_t at = first.out.find("\"" + key + "\": ");
    return at == std::string::npos ? -1.0 : std::stod(first.out.substr(at + key.size() + 4));
  };
  EXPECT_GT(number("first_energy_b"), 0);
  EXPECT_LT(number("energy_b"), number("first_energy_b"));
  const std::string weights = test::ReadAll(files.weights);
  NetworkParameters p;
  ASSERT_TRUE(ReadWeightsFile(files.weights, p, ",").ok);

  // Same seed and same files: the same weights file.
  const std::string other = test::TempDir("train-cli-2");
  ASSERT_EQ(test::RunCli("init-data " + Q(other)).status, 0);
  ASSERT_EQ(test::RunCli("train " + SampleArgs() + kCircle + " --data " + Q(other) + " --accepted 25 --seed 3 --quiet")
                .status,
            0);
  EXPECT_EQ(test::ReadAll(LearningFiles(other).weights), weights);

  // The next run reads that file: its first log line starts from the energy B the last run ended with.
  const std::string logBefore = test::ReadAll(files.progressLog);
  ASSERT_EQ(test::RunCli("train " + SampleArgs() + kCircle + " --data " + Q(dir) + " --accepted 1 --quiet").status, 0);
  const std::string line = Cp1251ToUtf8(test::ReadAll(files.progressLog).substr(logBefore.size()));
  const std::string lastEnergyB = Cp1251ToUtf8(weights).substr(Cp1251ToUtf8(weights).find("ЭнергияБ = ") + 20);
  const std::string value = lastEnergyB.substr(0, lastEnergyB.find('\r'));
  EXPECT_NE(line.find(value.substr(0, value.size() - 2)), std::string::npos) << line << " / " << value;
}

TEST(TrainCommand, CircleTracedFromAStartCell) {
  const std::string dir = test::TempDir("train-cli-start");
  ASSERT_EQ(test::RunCli("init-data " + Q(dir)).status, 0);
  // (87, 118) lies on the left rim of the sample's sphere (centre 166 118, radius 79).
  const test::CliRun r =
      test::RunCli("train " + SampleArgs() + " --start 87 118 --data " + Q(dir) + " --accepted 2 --json --quiet");
  ASSERT_EQ(r.status, 0) << r.out;
  const size_t at = r.out.find("\"inside_cells\": ");
  ASSERT_NE(at, std::string::npos);
  const double cells = std::stod(r.out.substr(at + 16));
  EXPECT_NEAR(cells, 3.14159 * 79 * 79, 0.05 * 3.14159 * 79 * 79);
}

TEST(TrainCommand, RefusalsWriteNothing) {
  const std::string dir = test::TempDir("train-cli-bad");
  // No steps file.
  const std::string err = dir + "/err.txt";
  const std::string data = dir + "/data";
  std::filesystem::create_directories(data);
  EXPECT_EQ(test::RunCli("train " + SampleArgs() + kCircle + " --data " + Q(data), err).status, 1);
  EXPECT_NE(test::ReadAll(err).find("init-data"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(data));
  // No circle at all; a circle whose neighbourhood leaves the image.
  ASSERT_EQ(test::RunCli("init-data " + Q(data)).status, 0);
  EXPECT_EQ(test::RunCli("train " + SampleArgs() + " --data " + Q(data), err).status, 2);
  EXPECT_NE(test::ReadAll(err).find("Окружность шара не задана"), std::string::npos);
  EXPECT_EQ(test::RunCli("train " + SampleArgs() + " --circle 10 118 79 --data " + Q(data), err).status, 1);
  EXPECT_NE(test::ReadAll(err).find("близко к краю"), std::string::npos);
  EXPECT_EQ(test::ReadAll(LearningFiles(data).weights), "");
  EXPECT_FALSE(std::filesystem::exists(LearningFiles(data).progressLog));
}

}  // namespace
}  // namespace ps
