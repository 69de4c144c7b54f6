// The init-data, train and evaluate commands on the bundled sample set.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "export/exports.h"
#include "imageio/bmp.h"
#include "learning/evaluation.h"
#include "learning/files.h"
#include "learning/learning_test_support.h"
#include "learning/text_encoding.h"

#ifdef PS_HAVE_QTGUI
#include <QImage>
#endif

namespace ps {
namespace {

using namespace test;

// A data folder with the starter files.
std::string DataFolder(const std::string& tag) {
  const std::string dir = test::TempDir(tag);
  EXPECT_EQ(RunCli("init-data " + Q(dir)).status, 0);
  return dir;
}

TEST(Commands, TrainThenEvaluateOnTheSample) {
  const std::string dir = DataFolder("train-cli"), png = dir + "/../map.png", err = dir + "/../err.txt";
  const LearningPaths files = LearningFiles(dir);
  const std::string steps = ReadAll(files.steps);
  ASSERT_TRUE(!steps.empty() && ReadAll(files.weights).empty());
  ASSERT_EQ(RunCli("init-data " + Q(dir)).status, 0);  // keeps what exists
  EXPECT_EQ(ReadAll(files.steps), steps);
  const test::CliRun train = RunCli("train " + SampleArgs(dir) + "--accepted 25 --seed 3 --json --quiet");
  ASSERT_EQ(train.status, 0) << train.out;
  EXPECT_EQ(JsonNumber(train.out, "accepted"), 25) << train.out;
  EXPECT_LT(JsonNumber(train.out, "energy_b"), JsonNumber(train.out, "first_energy_b"));
  const std::string seeded = DataFolder("train-cli-seed");  // another seed, another weights file
  ASSERT_EQ(RunCli("train " + SampleArgs(seeded) + "--accepted 25 --quiet --seed 4").status, 0);
  EXPECT_NE(ReadAll(LearningFiles(seeded).weights), ReadAll(files.weights));

  // The evaluation the training reports is that of its final state, with the circle it recorded.
  const test::CliRun run = RunCli("evaluate " + SampleArgs(dir) + "--json --png " + Q(png));
  ASSERT_EQ(run.status, 0) << run.out;
  const size_t at = train.out.find("\"evaluation\": {");
  ASSERT_NE(at, std::string::npos) << train.out;
  EXPECT_EQ(JsonNumber(train.out, "mean_abs_error", at), JsonNumber(run.out, "mean_abs_error"));
  EXPECT_NE(run.out.find("\"weights_origin_note\": \"\""), std::string::npos) << run.out;
  // Its figures are those of the recognised heights as the export shows them against the geometry.
  AppState state;
  ASSERT_TRUE(LoadSet(state, test::SampleFiles()).ok);
  ASSERT_TRUE(ЗаполнениеМассива(state));
  state.Circle = SphereCircle{166, 118, 79};
  NetworkParameters read;
  const ExportResult heights = ExportRecognisedHeights(state, read, files.weights, ",");
  ASSERT_TRUE(heights.ok);
  const HeightBox box = HeightTableBox(state.Circle);
  int n = 0;
  double abs = 0;
  for (int x = box.x0; x <= box.x1; ++x)
    for (int y = box.y0; y <= box.y1; ++y) {
      const double rho = std::hypot(x - 166.0, y - 118.0) / 79;
      if (rho > 1) continue;
      const double h = 1 - std::cos(static_cast<double>(rho < 1 ? static_cast<float>(std::asin(rho))
                                                                : static_cast<float>(3.14159 / 2)));
      ++n, abs += std::fabs(heights.sheet.Value(y - box.y0 + 1, x - box.x0 + 1).number - h);
    }
  EXPECT_EQ(JsonNumber(run.out, "cells"), n);
  EXPECT_NEAR(JsonNumber(run.out, "mean_abs_error"), abs / n, 1e-6);
  // The sample is rendered with the Fresnel model and n = 1.5: it nearly fits.
  EXPECT_TRUE(JsonNumber(run.out, "physics_n") == 1.5 && JsonNumber(run.out, "physics_mean_abs_error") < 0.03) << run.out;
  EXPECT_NE(run.out.find("\"rings\": [{\"rho_from\": 0.0, \"rho_to\": 0.1, \"cells\": "), std::string::npos) << run.out;
#ifdef PS_HAVE_QTGUI
  EXPECT_GT(QImage(QString::fromStdString(png)).width(), 3 * 158);  // three panels of the circle
#endif
  // Another refractive index changes only the physics figures.
  const test::CliRun other = RunCli("evaluate " + SampleArgs(dir) + "--json --n 1.8");
  ASSERT_EQ(other.status, 0);
  EXPECT_TRUE(JsonNumber(other.out, "physics_n") == 1.8 &&
              JsonNumber(other.out, "mean_abs_error") == JsonNumber(run.out, "mean_abs_error"));
  EXPECT_GT(JsonNumber(other.out, "physics_mean_abs_error"), JsonNumber(run.out, "physics_mean_abs_error"));
  // Another circle is said beside the figures; no side file, an unknown one.
  const test::CliRun moved = RunCli("evaluate " + SampleArgs(dir, "--circle 160 118 79"));
  EXPECT_NE(moved.out.find("Файл весов записан для другой окружности"), std::string::npos) << moved.out;
  std::filesystem::remove(WeightsOriginPath(dir));
  EXPECT_NE(RunCli("evaluate " + SampleArgs(dir) + "--json").out.find("\"weights_origin_note\": \"Неизвестно"),
            std::string::npos);

  // Refused: no weights file; a refractive index of 1; a start cell one past the set's width (320); a circle at the edge.
  EXPECT_EQ(RunCli("evaluate " + SampleArgs(dir + "/none")).status, 1);
  EXPECT_EQ(RunCli("evaluate " + SampleArgs(dir) + "--n 1", err).status, 2);
  EXPECT_NE(ReadAll(err).find("--n must be"), std::string::npos) << ReadAll(err);
  EXPECT_EQ(RunCli("evaluate " + SampleArgs(dir, "--start 321 118"), err).status, 1);
  EXPECT_NE(ReadAll(err).find("--start needs a cell of the set"), std::string::npos) << ReadAll(err);
  EXPECT_EQ(RunCli("evaluate " + SampleArgs(dir, "--circle 10 118 79"), err).status, 1);
  EXPECT_NE(ReadAll(err).find("Оценка невозможна"), std::string::npos) << ReadAll(err);
  // Training on a circle traced from a start cell on the sphere's left rim.
  const test::CliRun traced = RunCli("train " + SampleArgs(dir, "--start 87 118") + "--accepted 2 --json --quiet");
  EXPECT_NEAR(JsonNumber(traced.out, "inside_cells"), 3.14159 * 79 * 79, 0.05 * 3.14159 * 79 * 79) << traced.out;
}

TEST(TrainCommand, RefusalsAndASecondTrainingWriteNothing) {
  const std::string dir = test::TempDir("train-bad"), err = dir + "/err.txt", data = dir + "/data";
  std::filesystem::create_directories(data);
  const LearningPaths files = LearningFiles(data);
  auto refused = [&](const std::string& args, int status, const std::string& message) {
    const std::string weights = ReadAll(files.weights);
    EXPECT_EQ(RunCli("train " + args + "--accepted 5 --quiet", err).status, status) << args;
    EXPECT_NE(ReadAll(err).find(message), std::string::npos) << ReadAll(err);
    EXPECT_EQ(ReadAll(files.weights), weights);
    EXPECT_FALSE(std::filesystem::exists(files.progressLog));
  };
  refused(SampleArgs(data), 1, "init-data");  // no steps file
  EXPECT_TRUE(std::filesystem::is_empty(data));
  ASSERT_EQ(RunCli("init-data " + Q(data)).status, 0);
  refused(SampleArgs(data, ""), 2, "Окружность шара не задана");
  refused(SampleArgs(data) + "--seed -1 ", 2, "--seed must be a whole number >= 0");
  test::Spit(files.weights, "\x01\x02\x03 garbage\r\n");  // kept as it is
  refused(SampleArgs(data), 1, kWeightsFileName);
  // A second training on the folder: the lock a running one holds (another open's flock conflicts in one process).
  std::filesystem::remove(files.weights);
  const int fd = ::open((data + "/" + kTrainingLockName).c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_TRUE(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
  refused(SampleArgs(data), 1, "уже идёт обучение");
  ::close(fd);  // the training has ended: the next one runs
  EXPECT_EQ(RunCli("train " + SampleArgs(data) + "--accepted 2 --quiet").status, 0);
}

TEST(TrainCommand, CtrlCEndsWithStatus130AndAWholeWeightsFile) {
  const std::string dir = DataFolder("train-interrupt");
  const LearningPaths files = LearningFiles(dir);
  const std::string command =
      "exec " + Q(PS_CLI_PATH) + " train " + SampleArgs(dir) + "--accepted 100000000 --quiet >/dev/null 2>&1";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGINT, SIG_DFL);  // as from a terminal, even when the tests run as a background job
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Interrupt once a few iterations were accepted (the log has lines); wait at most 30 s for the end.
  auto lines = [&] { const std::string log = ReadAll(files.progressLog); return std::count(log.begin(), log.end(), '\n'); };
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
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 130) << st;
  NetworkParameters p;
  EXPECT_TRUE(ReadWeightsFile(files.weights, p, ",").ok);
  EXPECT_NE(Cp1251ToUtf8(ReadAll(files.weights)).find("ЭнергияБ = "), std::string::npos);
}

}  // namespace
}  // namespace ps
