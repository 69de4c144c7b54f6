// The train and init-data commands on the bundled sample set.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

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

// A data folder with the state of a short training in its weights file.
std::string TrainedFolder(const std::string& tag) {
  const std::string dir = test::TempDir(tag);
  EXPECT_EQ(test::RunCli("init-data " + Q(dir)).status, 0);
  EXPECT_EQ(test::RunCli("train " + SampleArgs() + kCircle + " --data " + Q(dir) + " --accepted 20 --quiet").status, 0);
  return dir;
}

TEST(TrainCommand, AWeightsFileItCannotReadIsKeptAndNoTrainingStarts) {
  const std::string dir = TrainedFolder("train-damaged");
  const LearningPaths files = LearningFiles(dir);
  const std::string trainedBytes = test::ReadAll(files.weights);
  // One more accepted iteration from the file as written, and from the same
  // file saved by an editor as UTF-16 with its mark: the same start, the same line.
  auto firstLineFrom = [&](const std::string& weightsBytes) {
    std::ofstream(files.weights, std::ios::binary) << weightsBytes;
    const size_t before = test::ReadAll(files.progressLog).size();
    EXPECT_EQ(test::RunCli("train " + SampleArgs() + kCircle + " --data " + Q(dir) + " --accepted 1 --seed 9 --quiet")
                  .status,
              0);
    const std::string line = Cp1251ToUtf8(test::ReadAll(files.progressLog).substr(before));
    return line.substr(std::min(line.size(), line.find("Энер")));  // without the time of day
  };
  std::string utf16 = "\xFF\xFE";
  for (char32_t c : Utf8ToUtf32(Cp1251ToUtf8(trainedBytes)))
    utf16 += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  const std::string fromCp1251 = firstLineFrom(trainedBytes);
  EXPECT_FALSE(fromCp1251.empty());
  EXPECT_EQ(firstLineFrom(utf16), fromCp1251);

  // Junk, and a file cut at a line's end: refused, named, left as they are.
  const std::string written = test::ReadAll(files.weights);
  for (const std::string& bad : {std::string("\x01\x02\x03 garbage\r\n"), written.substr(0, written.size() / 2)}) {
    std::ofstream(files.weights, std::ios::binary) << bad;
    const std::string log = test::ReadAll(files.progressLog);
    const std::string err = dir + "/../err.txt";
    EXPECT_EQ(test::RunCli("train " + SampleArgs() + kCircle + " --data " + Q(dir) + " --accepted 5 --quiet", err)
                  .status,
              1);
    EXPECT_NE(test::ReadAll(err).find(kWeightsFileName), std::string::npos) << test::ReadAll(err);
    EXPECT_EQ(test::ReadAll(files.weights), bad);
    EXPECT_EQ(test::ReadAll(files.progressLog), log);
  }
}

TEST(TrainCommand, ASecondTrainingOnTheSameFolderIsRefused) {
  const std::string dir = test::TempDir("train-locked");
  ASSERT_EQ(test::RunCli("init-data " + Q(dir)).status, 0);
  // The lock a running training holds (a flock from another open of the file
  // conflicts even within one process).
  const std::string lockPath = dir + "/" + kTrainingLockName;
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const std::string err = dir + "/../locked-err.txt";
  EXPECT_EQ(test::RunCli("train " + SampleArgs() + kCircle + " --data " + Q(dir) + " --accepted 2 --quiet", err).status,
            1);
  EXPECT_NE(test::ReadAll(err).find("уже идёт обучение"), std::string::npos) << test::ReadAll(err);
  EXPECT_EQ(test::ReadAll(LearningFiles(dir).weights), "");
  ::close(fd);  // the training has ended: the next one runs
  EXPECT_EQ(test::RunCli("train " + SampleArgs() + kCircle + " --data " + Q(dir) + " --accepted 2 --quiet").status, 0);
}

TEST(TrainCommand, CtrlCEndsWithStatus130AndAWholeWeightsFile) {
  const std::string dir = test::TempDir("train-interrupt");
  ASSERT_EQ(test::RunCli("init-data " + Q(dir)).status, 0);
  const LearningPaths files = LearningFiles(dir);
  std::vector<std::string> argv = {PS_CLI_PATH, "train"};
  for (const std::string& f : test::SampleFiles()) argv.push_back(f);
  for (const char* a : {"--circle", "166", "118", "79", "--data"}) argv.push_back(a);
  argv.push_back(dir);
  for (const char* a : {"--accepted", "100000000", "--quiet"}) argv.push_back(a);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
    signal(SIGINT, SIG_DFL);  // as from a terminal, even when the tests run as a background job
    execv(args[0], args.data());
    _exit(127);
  }
  // Interrupt once a few iterations were accepted (the log has lines).
  auto lines = [&] {
    const std::string log = test::ReadAll(files.progressLog);
    return std::count(log.begin(), log.end(), '\n');
  };
  for (int i = 0; i < 600 && lines() < 3; ++i) usleep(50000);
  kill(child, SIGINT);
  int st = 0;
  pid_t done = 0;
  for (int i = 0; i < 600 && (done = waitpid(child, &st, WNOHANG)) == 0; ++i) usleep(50000);
  if (done == 0) {  // never left waiting on a run that ignores Ctrl-C
    kill(child, SIGKILL);
    waitpid(child, &st, 0);
    FAIL() << "the training went on after Ctrl-C";
  }
  ASSERT_EQ(done, child);
  ASSERT_TRUE(WIFEXITED(st)) << st;
  EXPECT_EQ(WEXITSTATUS(st), 130);
  NetworkParameters p;
  const ReadOutcome r = ReadWeightsFile(files.weights, p, ",");
  EXPECT_TRUE(r.ok) << r.message.text;
  EXPECT_NE(Cp1251ToUtf8(test::ReadAll(files.weights)).find("ЭнергияБ = "), std::string::npos);
}

}  // namespace
}  // namespace ps
