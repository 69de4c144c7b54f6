// Faults on the writing side and at the edges of the command-line tool: every
// writer against a full disk, an unusable folder and a target replaced by a
// folder; signals during writes; bad input paths; running out of memory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "imageio/bmp_writer.h"
#include "learning/files.h"
#include "state/atomic_file.h"
#include "support/test_support.h"

namespace ps {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;

std::string Q(const std::string& s) { return "'" + s + "'"; }

std::string SampleArgs() {
  std::string a;
  for (const std::string& f : test::SampleFiles()) a += Q(f) + " ";
  return a;
}

// Runs the tool through sh with a limit on the size of files it writes (in
// 512-byte blocks; 0: none). SIGXFSZ is ignored so that a write past the limit
// fails with EFBIG as a write to a full disk does, instead of killing the process.
int RunLimited(const std::string& args, long long blocks, const std::string& errFile) {
  std::string cmd = "sh -c " + Q(std::string(blocks ? "ulimit -f " + std::to_string(blocks) + "; " : "") +
                                 "trap \"\" XFSZ; exec " + PS_CLI_PATH + " " + args + " >/dev/null 2>" + errFile);
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Hidden temporary files (".NAME.XXXXXX") left in a folder.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind(".", 0) == 0 && e.path().filename() != kTrainingLockName)
      found.push_back(e.path().filename().string());
  return found;
}

// An 8-bit grey mosaic frame the demosaic command accepts.
std::string GreyFrame(const std::string& dir) {
  std::vector<uint8_t> pixels(64 * 48);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  std::vector<std::array<uint8_t, 3>> grey(256);
  for (int i = 0; i < 256; ++i) grey[i] = {uint8_t(i), uint8_t(i), uint8_t(i)};
  const std::string path = dir + "/frame.bmp";
  EXPECT_TRUE(WriteFileBytes(path, EncodeBmp8(64, 48, pixels, grey)));
  return path;
}

enum class Fault {
  FullDisk,       // a previous file in place, the new one cannot be written whole (file-size limit, EFBIG)
  DevFull,        // the target is /dev/full (ENOSPC on the first write)
  ParentIsAFile,  // the target's folder is a regular file
  TargetIsAFolder,
};

TEST(WriterFaults, EveryWriterReportsTheFailureAndKeepsThePreviousFile) {
  // Each writer: how to run it with `out` as its output (a file, or a folder
  // for the writers of several files) and which file in that folder fails.
  struct Writer {
    const char* kind;
    bool folderOutput;
    const char* target;  // the file that fails, inside the output folder, or the output file's name
    std::function<std::string(const std::string& dir, const std::string& out)> command;
  };
  const Writer writers[] = {
      {"npy", true, "a0_max.npy", [](auto&, auto& out) { return "process " + SampleArgs() + "--out " + Q(out); }},
      {"PNG", false, "map.png", [](auto&, auto& out) { return "render " + SampleArgs() + "--png " + Q(out); }},
      {"BMP", true, "0.bmp", [](auto& dir, auto& out) { return "demosaic " + Q(GreyFrame(dir)) + " --out " + Q(out); }},
      {"text", true, "truth.txt",
       [](auto&, auto& out) { return "make-sample " + Q(out) + " --width 16 --height 16"; }},
      {"workbook", false, "c.xlsx",
       [](auto& dir, auto& out) {
         fs::create_directories(dir + "/data");
         std::ofstream(dir + "/data/" + kWeightsFileName).flush();  // empty: the start values
         return "export coefficients --xlsx " + Q(out) + " --data " + Q(dir + "/data");
       }},
  };
  const Fault faults[] = {Fault::FullDisk, Fault::DevFull, Fault::ParentIsAFile, Fault::TargetIsAFolder};
  for (const Writer& w : writers) {
    for (Fault fault : faults) {
      // The text writer's file is too small for the file-size limit to cut it.
      if (fault == Fault::FullDisk && std::string(w.kind) == "text") continue;
      const std::string dir = test::TempDir("writer-fault");
      const std::string folder = dir + "/out";
      fs::create_directories(folder);
      std::string out = w.folderOutput ? folder : folder + "/" + w.target;
      const std::string target = folder + "/" + w.target;
      const std::string previous = "the previous good file";
      long long limit = 0;
      switch (fault) {
        case Fault::FullDisk:
          std::ofstream(target) << previous;
          limit = 1;  // 512 bytes: every output here is larger
          break;
        case Fault::DevFull:
          fs::create_symlink("/dev/full", target);
          break;
        case Fault::ParentIsAFile:
          std::ofstream(dir + "/file") << previous;
          out = w.folderOutput ? dir + "/file/out" : dir + "/file/" + w.target;
          break;
        case Fault::TargetIsAFolder:
          fs::create_directories(target + "/inside");
          break;
      }
      const std::string err = dir + "/err.txt";
      const int status = RunLimited(w.command(dir, out), limit, err);
      const std::string row = std::string(w.kind) + " fault " + std::to_string(static_cast<int>(fault));
      const std::string message = ReadAll(err);
      EXPECT_NE(status, 0) << row << ": " << message;
      const std::string named = fault == Fault::ParentIsAFile ? dir + "/file" : target;
      EXPECT_NE(message.find(named), std::string::npos) << row << ": " << message;
      switch (fault) {
        case Fault::FullDisk: EXPECT_EQ(ReadAll(target), previous) << row; break;
        case Fault::DevFull: EXPECT_TRUE(fs::is_symlink(target)) << row; break;
        case Fault::ParentIsAFile: EXPECT_EQ(ReadAll(dir + "/file"), previous) << row; break;
        case Fault::TargetIsAFolder: EXPECT_TRUE(fs::is_directory(target + "/inside")) << row; break;
      }
      if (fs::is_directory(folder)) EXPECT_EQ(Leftovers(folder), std::vector<std::string>{}) << row;
    }
  }
}

TEST(WriterFaults, SummaryLostToAFullDiskIsAFailure) {
  const std::string dir = test::TempDir("stdout-full");
  const int st = std::system((std::string(PS_CLI_PATH) + " make-sample " + Q(dir) +
                              " --width 16 --height 16 --json >/dev/full 2>" + dir + "/err.txt")
                                 .c_str());
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 1);
  EXPECT_NE(ReadAll(dir + "/err.txt").find("standard output"), std::string::npos);
}

TEST(WriterFaults, WholeFileOrNothingThroughTheSharedWriter) {
  const std::string dir = test::TempDir("atomic");
  const std::string path = dir + "/f.txt";
  ASSERT_TRUE(WriteFileAtomically(path, "old content that is long"));
  fs::permissions(path, fs::perms(0640));
  ASSERT_TRUE(WriteFileAtomically(path, "new"));
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0640));  // a replaced file keeps its mode
  // A writer that fails half-way leaves the old file and no temporary one.
  {
    AtomicFile f;
    ASSERT_TRUE(f.open(path, nullptr));
    f.write("half");
    EXPECT_EQ(LiveTemporaryFileCount(), 1);
  }  // not committed
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_EQ(LiveTemporaryFileCount(), 0);
  EXPECT_EQ(Leftovers(dir), std::vector<std::string>{});
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir + "/no/such/folder/f.txt", "x", &error));
  EXPECT_NE(error.find(dir + "/no/such/folder/f.txt: No such file"), std::string::npos) << error;
  EXPECT_FALSE(WriteFileAtomically("", "x", &error));
  EXPECT_NE(error.find("путь пуст"), std::string::npos) << error;
  // /dev/null is written in place (a device cannot be replaced), and works.
  EXPECT_TRUE(WriteFileAtomically("/dev/null", "x", &error)) << error;
}

TEST(WriterFaults, SignalDuringAWriteRemovesTheTemporaryFile) {
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string dir = test::TempDir("signal");
    const std::string path = dir + "/out.bin";
    std::ofstream(path) << "previous";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::signal(signal, SIG_DFL);  // as from a terminal, even when the tests run as a background job
      InstallTemporaryFileCleanup();
      AtomicFile f;
      if (!f.open(path, nullptr)) _exit(3);
      f.write(std::string(100000, 'x'));
      raise(signal);  // as if Ctrl-C or kill arrived in the middle of the write
      _exit(4);
    }
    int st = 0;
    ASSERT_EQ(waitpid(child, &st, 0), child);
    ASSERT_TRUE(WIFSIGNALED(st)) << signal << " status " << st;
    EXPECT_EQ(WTERMSIG(st), signal);  // a shell reports 128 + signal: 130, 143
    EXPECT_EQ(ReadAll(path), "previous");
    EXPECT_EQ(Leftovers(dir), std::vector<std::string>{}) << signal;
  }
}

TEST(InputFaults, BadPathsAreNamedAndNothingHangs) {
  const std::string dir = test::TempDir("input-faults");
  const std::string folderFrame = dir + "/frame.png";
  fs::create_directories(folderFrame);
  const std::string fifo = dir + "/fifo.png";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);  // nobody writes to it: a blocking open would hang the test
  const struct {
    std::string args;
    int status;
    const char* message;
  } cases[] = {
      {"demosaic " + Q(folderFrame) + " --out " + Q(dir + "/o"), 1, "is a folder"},
      {"demosaic " + Q(fifo) + " --out " + Q(dir + "/o"), 1, "not a regular file"},
      {"demosaic '' --out " + Q(dir + "/o"), 1, "path is empty"},
      {"demosaic " + Q(dir + "/none.png") + " --out " + Q(dir + "/o"), 1, "No such file"},
      {"process " + SampleArgs() + "--out ''", 1, "--out: the folder path is empty"},
      {"render " + SampleArgs() + "--png ''", 1, "путь пуст"},
      {"train " + SampleArgs() + "--circle 166 118 79 --data ''", 2, "--data: the folder path is empty"},
      {"export coefficients --xlsx " + Q(dir + "/c.xlsx") + " --data ''", 2, "--data: the folder path is empty"},
  };
  for (const auto& c : cases) {
    const std::string err = dir + "/err.txt";
    EXPECT_EQ(test::RunCli(c.args, err).status, c.status) << c.args;
    EXPECT_NE(ReadAll(err).find(c.message), std::string::npos) << c.args << ": " << ReadAll(err);
  }
  EXPECT_FALSE(fs::exists(dir + "/o/0.bmp"));
}

TEST(MemoryFaults, OutOfMemoryIsAMessageNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
#endif
  const std::string dir = test::TempDir("no-memory");
  // Four 8000 x 8000 photographs need about 770 MB; the address space is capped at 400 MB.
  const std::string cmd = "sh -c " + Q("ulimit -v 400000; exec " + std::string(PS_CLI_PATH) + " make-sample " +
                                       Q(dir + "/s") + " --width 8000 --height 8000 2>" + dir + "/err.txt");
  const int st = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(st)) << "ended by a signal: " << st;
  EXPECT_EQ(WEXITSTATUS(st), 1);
  EXPECT_NE(ReadAll(dir + "/err.txt").find("not enough memory"), std::string::npos) << ReadAll(dir + "/err.txt");
  EXPECT_FALSE(fs::exists(dir + "/s/0.bmp"));
}

}  // namespace
}  // namespace ps
