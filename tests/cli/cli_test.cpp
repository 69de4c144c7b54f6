// The command-line tool: its commands on the sample set and on synthetic
// mosaic frames, the command lines it refuses, and faults on the writing side
// (full disk, unusable folder, a folder in the target's place, signals, no memory).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "imageio/bmp.h"
#include "imageio/demosaic.h"
#include "learning/files.h"
#include "state/atomic_file.h"
#include "support/test_support.h"

#ifdef PS_HAVE_QTGUI
#include <QImage>
#include <QImageWriter>
#endif

namespace ps {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::RunCli;

std::string Q(const std::string& s) { return "'" + s + "'"; }

std::string SampleArgs() {
  std::string a;
  for (const std::string& f : test::SampleFiles()) a += Q(f) + " ";
  return a;
}

std::vector<std::string> SetPaths(const std::string& dir) {
  return {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"};
}

// The last line of a refusal on stderr, before the usage some commands add.
std::string LastLine(std::string text) {
  text.erase(std::min(text.size(), text.find("usage:")));
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

TEST(Commands, ProcessWritesTheJsonSummaryAndNumpyLayers) {
  const std::string dir = test::TempDir("cli-process");
  const auto r = RunCli("process " + SampleArgs() + "--out " + Q(dir) + " --json");
  ASSERT_EQ(r.status, 0);
  for (const char* key : {"\"width\": 320", "\"height\": 240", "\"bits_per_pixel\": 24", "\"max\"", "\"mean\"",
                          "\"luma\"", "\"mean_a0\"", "\"undefined_share\"", "\"mean_axis_ratio\"", "\"mean_azimuth\"",
                          "\"azimuth_luma\""})
    EXPECT_NE(r.out.find(key), std::string::npos) << key;
  const std::string npy = ReadAll(dir + "/azimuth_mean.npy");
  ASSERT_GT(npy.size(), 128u);
  EXPECT_EQ(npy.substr(1, 5), "NUMPY");
  EXPECT_NE(npy.find("{'descr': '<f8', 'fortran_order': False, 'shape': (240, 320), }"), std::string::npos);
  const size_t header = 10 + (uint8_t(npy[8]) | uint8_t(npy[9]) << 8);
  EXPECT_EQ(header % 64, 0u);
  EXPECT_EQ(npy.size(), header + 240u * 320u * 8u);
  for (const char* q : {"a0", "axis_ratio", "ellipticity_angle", "azimuth", "undefined_marker"})
    for (const char* d : {"max", "mean", "luma"})
      EXPECT_TRUE(fs::exists(dir + "/" + q + "_" + d + ".npy")) << q << "_" << d;
}

TEST(Commands, MakeSampleWritesAProcessableSetAndItsTruthRepeatably) {
  const std::string dir = test::TempDir("cli-sample"), again = test::TempDir("cli-sample2");
  ASSERT_EQ(RunCli("make-sample " + Q(dir) + " --width 64 --height 48 --seed 3 --json").status, 0);
  const std::string truth = ReadAll(dir + "/truth.txt");
  EXPECT_NE(truth.find("centre_x 33.000"), std::string::npos);
  EXPECT_NE(truth.find("radius 16.000"), std::string::npos);
  std::string set;
  for (const std::string& f : SetPaths(dir)) set += Q(f) + " ";
  const auto p = RunCli("process " + set + "--json");
  EXPECT_EQ(p.status, 0);
  EXPECT_NE(p.out.find("\"width\": 64"), std::string::npos);
  ASSERT_EQ(RunCli("make-sample " + Q(again) + " --width 64 --height 48 --seed 3").status, 0);
  EXPECT_EQ(ReadAll(dir + "/45.bmp"), ReadAll(again + "/45.bmp"));
}

// Each row: the command line, its exit status and a word of the last line of
// its refusal (the refusal is the last word: the command goes no further).
TEST(Commands, RefusedCommandLinesEndWithTheirStatusAndMessage) {
  const std::string dir = test::TempDir("refused"), out = " --out " + Q(dir + "/o");
  fs::create_directories(dir + "/frame.png");
  ASSERT_EQ(mkfifo((dir + "/fifo.png").c_str(), 0644), 0);  // nobody writes to it: a blocking open would hang
  std::ofstream(dir + "/text.bmp") << "not a picture";
  const auto f = test::SampleFiles();
  const std::string withText = Q(f[0]) + " " + Q(f[1]) + " " + Q(dir + "/text.bmp") + " " + Q(f[3]);
  const std::string evaluate = "evaluate " + SampleArgs() + "--data " + Q(dir + "/data");
  const std::tuple<std::string, int, std::string> cases[] = {
      {"demosaic " + Q(dir + "/frame.png") + out, 1, "is a folder"},
      {"demosaic " + Q(dir + "/fifo.png") + out, 1, "not a regular file"},
      {"demosaic ''" + out, 1, "path is empty"},
      {"demosaic " + Q(dir + "/none.png") + out, 1, "No such file"},
      {"demosaic " + Q(dir + "/none.png") + out + " --pattern 0,45,90", 2, "expected four azimuths"},
      {"demosaic " + Q(dir + "/none.png") + out + " --pattern 0,45,45,90", 2, "45 occurs twice"},
      {"demosaic " + Q(dir + "/none.png") + out + " --bits 16", 2, "--bits must be 8 or 24"},
      {"demosaic " + Q(dir + "/none.png"), 2, "--out DIR is required"},
      {"demosaic" + out, 2, "FRAME"},
      {"process " + SampleArgs() + "--out ''", 1, "--out: the folder path is empty"},
      {"process " + withText, 1, "Снимок 90°: " + dir + "/text.bmp"},
      {"process " + Q(f[0]), 2, "four files"},
      {"render " + SampleArgs() + "--png ''", 1, "путь пуст"},
      {"train " + SampleArgs() + "--circle 166 118 79 --data ''", 2, "--data: the folder path is empty"},
      {"export coefficients --xlsx " + Q(dir + "/c.xlsx") + " --data ''", 2, "--data: the folder path is empty"},
      {"export coefficients --data " + Q(dir) + " --xlsx", 2, "--xlsx needs 1 value"},
      {evaluate + " --circle 166 118 79 --n 1", 2, "--n must be"},
      {evaluate + " --start 321 100", 1, "--start needs a cell of the set"},
      {"sphere " + SampleArgs() + "--refine --points 1 100 160 10 300 120", 1, "к краю"},
      {"no-such-command", 2, "no-such-command"},
  };
  for (const auto& [args, status, word] : cases) {
    EXPECT_EQ(RunCli(args, dir + "/err.txt").status, status) << args;
    EXPECT_NE(LastLine(ReadAll(dir + "/err.txt")).find(word), std::string::npos)
        << args << ": " << ReadAll(dir + "/err.txt");
  }
  EXPECT_FALSE(fs::exists(dir + "/o/0.bmp"));
  EXPECT_EQ(RunCli("process --help").status, 0);
}

#ifdef PS_HAVE_QTGUI

// Grey level of frame pixel (x, y): distinct per block position and varying
// across the frame, so a wrong offset, order or flip shows.
int FrameValue(int x, int y) { return (40 * ((y % 2) * 2 + x % 2) + 3 * (x / 2) + 7 * (y / 2)) % 256; }

QImage GreyFrame(int w, int h) {
  QImage img(w, h, QImage::Format_Grayscale8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.scanLine(y)[x] = static_cast<uchar>(FrameValue(x, y));
  return img;
}

// Loads the set the demosaic command wrote to `dir` through the BMP reader and
// checks that every slot holds the frame pixels of its pattern position.
void ExpectSetFromFrame(const std::string& dir, const std::string& pattern, int width, int height, int bits) {
  AppState state;
  state.startNewSet();
  ASSERT_TRUE(LoadSet(state, SetPaths(dir)).ok);
  EXPECT_EQ(std::make_tuple(state.SetWidth, state.SetHeight, state.Header.BitsPerPixel),
            std::make_tuple(width, height, bits));
  MosaicPattern p;
  ASSERT_TRUE(ParseMosaicPattern(pattern, &p, nullptr));
  for (int slot = 1; slot <= 4; ++slot) {
    const int dy = p.positionOfSlot(slot) / 2, dx = p.positionOfSlot(slot) % 2;
    for (int y = 1; y <= height; ++y)
      for (int x = 1; x <= width; ++x)
        for (int c = 0; c < (bits == 8 ? 1 : 3); ++c)
          ASSERT_EQ(state.ImageStore.at(x, y, c, slot), FrameValue(2 * (x - 1) + dx, 2 * (y - 1) + dy))
              << "slot " << slot << " at " << x << "," << y;
  }
  if (bits == 8)  // one palette serves the whole set: the grey ramp, index = level
    for (int i = 0; i < 256; ++i) ASSERT_EQ(state.PaletteTable[i], (std::array<float, 3>{float(i), float(i), float(i)}));
  EXPECT_EQ(state.ColouredPixelCount, (std::array<int32_t, 4>{}));
}

// Frames a camera tool saves (PNG, TIFF, 8-bit indexed grey BMP) give the set
// of the frame's pixels whatever the pattern, in 8 or 24 bits; an odd last row
// or column belongs to no block and is dropped.
TEST(DemosaicCommand, FramesOfEveryFormatGiveTheSetThroughTheBmpReader) {
  const std::string dir = test::TempDir("demosaic-formats");
  ASSERT_TRUE(QImageWriter::supportedImageFormats().contains("tiff")) << "install qt6-image-formats-plugins";
  const std::string sony = "90,45,135,0", other = "0,45,135,90";  // the default pattern, and another
  const std::tuple<std::string, int, int, std::string, std::string, int> cases[] = {  // options, pattern, bits
      {"frame.png", 22, 14, "", sony, 8}, {"frame.bmp", 22, 14, "", sony, 8}, {"frame.tif", 22, 14, "", sony, 8},
      {"odd.png", 9, 7, " --pattern " + other + " --bits 24", other, 24}};
  for (const auto& [name, w, h, options, pattern, bits] : cases) {
    ASSERT_TRUE(GreyFrame(w, h).save(QString::fromStdString(dir + "/" + name)));
    const auto r = RunCli("demosaic " + Q(dir + "/" + name) + " --out " + Q(dir + "/out-" + name) + options + " --json");
    ASSERT_EQ(r.status, 0) << name << ": " << r.out;
    const std::string w2 = std::to_string(w / 2), h2 = std::to_string(h / 2);
    for (const std::string& key : {std::string("\"ok\": true"), "\"frame_width\": " + std::to_string(w),
                                   "\"width\": " + w2, "\"height\": " + h2, "\"pattern\": \"" + pattern + "\"",
                                   "\"bits\": " + std::to_string(bits), std::string("\"135\": ")})
      EXPECT_NE(r.out.find(key), std::string::npos) << key << " missing in " << r.out;
    ExpectSetFromFrame(dir + "/out-" + name, pattern, w / 2, h / 2, bits);
  }
}

TEST(DemosaicCommand, RefusesWhatIsNotAnEightBitGreyMosaic) {
  const std::string dir = test::TempDir("demosaic-refusals");
  QImage colour(8, 8, QImage::Format_RGB32), greyRgb(8, 8, QImage::Format_RGB32), deep(8, 8, QImage::Format_Grayscale16);
  colour.fill(qRgb(10, 10, 10));
  colour.setPixel(5, 3, qRgb(10, 200, 10));
  greyRgb.fill(qRgb(77, 77, 77));  // grey stored as colour: accepted
  deep.fill(1000);
  ASSERT_TRUE(colour.save(QString::fromStdString(dir + "/colour.png")));
  ASSERT_TRUE(greyRgb.save(QString::fromStdString(dir + "/greyrgb.png")));
  ASSERT_TRUE(deep.save(QString::fromStdString(dir + "/deep.png")));
  ASSERT_TRUE(GreyFrame(1, 9).save(QString::fromStdString(dir + "/thin.png")));
  std::ofstream(dir + "/junk.png") << "not a picture";
  EXPECT_EQ(RunCli("demosaic " + Q(dir + "/greyrgb.png") + " --out " + Q(dir + "/out")).status, 0);
  for (const char* bad : {"colour.png", "deep.png", "thin.png", "junk.png"}) {
    const std::string o = dir + "/out-" + bad;
    const auto r = RunCli("demosaic " + Q(dir + "/" + bad) + " --out " + Q(o) + " --json");
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_NE(r.out.find("\"ok\": false"), std::string::npos) << bad << ": " << r.out;
    EXPECT_FALSE(fs::exists(o + "/0.bmp")) << bad;
  }
}

#endif  // PS_HAVE_QTGUI

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

enum class Fault {
  FullDisk,       // a previous file in place, the new one cannot be written whole (file-size limit, EFBIG)
  DevFull,        // the target is /dev/full (ENOSPC on the first write)
  ParentIsAFile,  // the target's folder is a regular file
  TargetIsAFolder,
};

TEST(WriterFaults, EveryWriterReportsTheFailureAndKeepsThePreviousFile) {
  // An 8-bit grey mosaic frame for the demosaic command.
  const std::string frameDir = test::TempDir("writer-frame"), frame = frameDir + "/frame.bmp";
  std::vector<std::array<uint8_t, 3>> grey(256);
  for (int i = 0; i < 256; ++i) grey[i].fill(uint8_t(i));
  ASSERT_TRUE(WriteFileBytes(frame, EncodeBmp8(64, 48, std::vector<uint8_t>(64 * 48, 7), grey)));
  fs::create_directories(frameDir + "/data");
  std::ofstream(frameDir + "/data/" + kWeightsFileName).flush();  // empty: the start values
  // Each writer: whether its output is a folder, the file that fails (in that
  // folder, or the output file's name) and its command with `out` as the output.
  const std::tuple<bool, std::string, std::function<std::string(const std::string&)>> writers[] = {
      {true, "a0_max.npy", [](auto& out) { return "process " + SampleArgs() + "--out " + Q(out); }},
      {false, "map.png", [](auto& out) { return "render " + SampleArgs() + "--png " + Q(out); }},
      {true, "0.bmp", [&](auto& out) { return "demosaic " + Q(frame) + " --out " + Q(out); }},
      {true, "truth.txt", [](auto& out) { return "make-sample " + Q(out) + " --width 16 --height 16"; }},
      {false, "c.xlsx",
       [&](auto& out) { return "export coefficients --xlsx " + Q(out) + " --data " + Q(frameDir + "/data"); }},
  };
  for (const auto& [folderOutput, name, command] : writers) {
    for (Fault fault : {Fault::FullDisk, Fault::DevFull, Fault::ParentIsAFile, Fault::TargetIsAFolder}) {
      // The text writer's file is too small for the file-size limit to cut it.
      if (fault == Fault::FullDisk && name == "truth.txt") continue;
      const std::string dir = test::TempDir("writer-fault"), folder = dir + "/out", target = folder + "/" + name;
      fs::create_directories(folder);
      std::string out = folderOutput ? folder : target;
      const std::string previous = "the previous good file";
      long long limit = 0;
      switch (fault) {
        case Fault::FullDisk:
          std::ofstream(target) << previous;
          limit = 1;  // 512 bytes: every output here is larger
          break;
        case Fault::DevFull: fs::create_symlink("/dev/full", target); break;
        case Fault::ParentIsAFile:
          std::ofstream(dir + "/file") << previous;
          out = folderOutput ? dir + "/file/out" : dir + "/file/" + name;
          break;
        case Fault::TargetIsAFolder: fs::create_directories(target + "/inside"); break;
      }
      const int status = RunLimited(command(out), limit, dir + "/err.txt");
      const std::string row = name + " fault " + std::to_string(static_cast<int>(fault));
      const std::string message = ReadAll(dir + "/err.txt");
      EXPECT_NE(status, 0) << row << ": " << message;
      EXPECT_NE(message.find(fault == Fault::ParentIsAFile ? dir + "/file" : target), std::string::npos)
          << row << ": " << message;
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
  const std::string dir = test::TempDir("atomic"), path = dir + "/f.txt";
  ASSERT_TRUE(WriteFileAtomically(path, "old content that is long"));
  fs::permissions(path, fs::perms(0640));
  ASSERT_TRUE(WriteFileAtomically(path, "new"));
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0640));  // a replaced file keeps its mode
  {  // a writer that fails half-way (never committed) leaves the old file and no temporary one
    AtomicFile f;
    ASSERT_TRUE(f.open(path, nullptr));
    f.write("half");
    EXPECT_EQ(LiveTemporaryFileCount(), 1);
  }
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_EQ(LiveTemporaryFileCount(), 0);
  EXPECT_EQ(Leftovers(dir), std::vector<std::string>{});
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir + "/no/such/folder/f.txt", "x", &error));
  EXPECT_NE(error.find(dir + "/no/such/folder/f.txt: No such file"), std::string::npos) << error;
  EXPECT_FALSE(WriteFileAtomically("", "x", &error));
  EXPECT_NE(error.find("путь пуст"), std::string::npos) << error;
  EXPECT_TRUE(WriteFileAtomically("/dev/null", "x", &error)) << error;  // a device is written in place
}

TEST(WriterFaults, SignalDuringAWriteRemovesTheTemporaryFile) {
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string dir = test::TempDir("signal"), path = dir + "/out.bin";
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
  const int st = std::system(("sh -c " + Q("ulimit -v 400000; exec " + std::string(PS_CLI_PATH) + " make-sample " +
                                           Q(dir + "/s") + " --width 8000 --height 8000 2>" + dir + "/err.txt"))
                                 .c_str());
  ASSERT_TRUE(WIFEXITED(st)) << "ended by a signal: " << st;
  EXPECT_EQ(WEXITSTATUS(st), 1);
  EXPECT_NE(ReadAll(dir + "/err.txt").find("not enough memory"), std::string::npos) << ReadAll(dir + "/err.txt");
  EXPECT_FALSE(fs::exists(dir + "/s/0.bmp"));
}

}  // namespace
}  // namespace ps
