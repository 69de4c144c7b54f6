// The command-line tool on the sample set, synthetic and real mosaic frames; the
// command lines it refuses; faults on the writing side, signals, no memory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>
#include <utility>

#include "imageio/bmp.h"
#include "imageio/demosaic.h"
#include "learning/files.h"
#include "polarization/polarization.h"
#include "sphere/circle_fit.h"
#include "sphere/contour.h"
#include "sphere/trace.h"
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
  ASSERT_EQ(npy.rfind("\x93NUMPY", 0), 0u);
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
  EXPECT_TRUE(truth.find("centre_x 33.000") != std::string::npos && truth.find("radius 16.000") != std::string::npos);
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

// Every slot of the set in `dir`, read by the BMP reader, holds its pattern position's pixels.
void ExpectSetFromFrame(const std::string& dir, const std::string& pattern, int width, int height, int bits) {
  AppState state;
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
    for (int i = 0; i < 256; ++i) ASSERT_EQ(state.PaletteTable[i], (std::array<float, 3>{1.f * i, 1.f * i, 1.f * i}));
  EXPECT_EQ(state.ColouredPixelCount, (std::array<int32_t, 4>{}));
}

// Frames as camera tools save them (PNG, TIFF, 8-bit grey BMP), any pattern, 8 or
// 24 bits; an odd last row or column belongs to no block and is dropped.
TEST(DemosaicCommand, FramesOfEveryFormatGiveTheSetThroughTheBmpReader) {
  const std::string dir = test::TempDir("demosaic-formats");
  ASSERT_TRUE(QImageWriter::supportedImageFormats().contains("tiff")) << "install qt6-image-formats-plugins";
  const std::string sony = "90,45,135,0", other = "0,45,135,90";  // the default pattern, and another
  const std::tuple<std::string, int, int, std::string, std::string, int> cases[] = {  // options, pattern, bits
      {"frame.png", 22, 14, "", sony, 8}, {"frame.bmp", 22, 14, "", sony, 8}, {"frame.tif", 22, 14, "", sony, 8},
      {"odd.png", 9, 7, " --pattern " + other + " --bits 24", other, 24}};
  for (const auto& [name, w, h, options, pattern, bits] : cases) {
    ASSERT_TRUE(GreyFrame(w, h).save(QString::fromStdString(dir + "/" + name)));
    const auto r = RunCli("demosaic " + Q(dir + "/" + name) + " --out " + Q(dir + "/o-" + name) + options + " --json");
    ASSERT_EQ(r.status, 0) << name << ": " << r.out;
    const std::string w2 = std::to_string(w / 2), h2 = std::to_string(h / 2);
    for (const std::string& key : {std::string("\"ok\": true"), "\"frame_width\": " + std::to_string(w),
                                   "\"width\": " + w2, "\"height\": " + h2, "\"pattern\": \"" + pattern + "\"",
                                   "\"bits\": " + std::to_string(bits), std::string("\"135\": ")})
      EXPECT_NE(r.out.find(key), std::string::npos) << key << " missing in " << r.out;
    ExpectSetFromFrame(dir + "/o-" + name, pattern, w / 2, h / 2, bits);
  }
}

TEST(DemosaicCommand, RefusesWhatIsNotAnEightBitGreyMosaic) {
  const std::string dir = test::TempDir("demosaic-refusals");
  QImage colour(8, 8, QImage::Format_RGB32), greyRgb = colour, deep(8, 8, QImage::Format_Grayscale16);
  colour.fill(qRgb(10, 10, 10));
  colour.setPixel(5, 3, qRgb(10, 200, 10));
  greyRgb.fill(qRgb(77, 77, 77));  // grey stored as colour: accepted
  deep.fill(1000);
  for (const auto& [img, name] :
       {std::pair{colour, "colour"}, {greyRgb, "greyrgb"}, {deep, "deep"}, {GreyFrame(1, 9), "thin"}})
    ASSERT_TRUE(img.save(QString::fromStdString(dir + "/" + name + ".png")));
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

// Runs the tool through sh after `limit` (a ulimit command); SIGXFSZ is ignored so that
// a write past a file-size limit fails with EFBIG as on a full disk. -1 after a signal.
int RunLimited(const std::string& limit, const std::string& args, const std::string& errFile,
               const std::string& out = "/dev/null") {
  const int st = std::system(("sh -c " + Q(limit + "; trap \"\" XFSZ; exec " + PS_CLI_PATH + " " + args + " >" + out +
                                           " 2>" + errFile)).c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Hidden temporary files (".NAME.XXXXXX") left in a folder.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir))
    if (const std::string n = e.path().filename(); n[0] == '.' && n != kTrainingLockName) found.push_back(n);
  return found;
}

enum class Fault { FullDisk, DevFull, ParentIsAFile, TargetIsAFolder };

TEST(WriterFaults, EveryWriterReportsTheFailureAndKeepsThePreviousFile) {
  // An 8-bit grey mosaic frame for the demosaic command.
  const std::string frameDir = test::TempDir("writer-frame"), frame = frameDir + "/frame.bmp";
  std::vector<std::array<uint8_t, 3>> grey(256);
  for (int i = 0; i < 256; ++i) grey[i].fill(uint8_t(i));
  ASSERT_TRUE(WriteFileBytes(frame, EncodeBmp8(64, 48, std::vector<uint8_t>(64 * 48, 7), grey)));
  fs::create_directories(frameDir + "/data");
  std::ofstream(frameDir + "/data/" + kWeightsFileName).flush();  // empty: the start values
  // Each writer: whether its output is a folder, the file that fails there, its command.
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
      std::ofstream(dir + "/file") << previous;
      std::string limit = ":";
      switch (fault) {
        case Fault::FullDisk:
          std::ofstream(target) << previous;
          limit = "ulimit -f 1";  // 512 bytes: every output here is larger
          break;
        case Fault::DevFull: fs::create_symlink("/dev/full", target); break;
        case Fault::ParentIsAFile: out = folderOutput ? dir + "/file/out" : dir + "/file/" + name; break;
        case Fault::TargetIsAFolder: fs::create_directories(target + "/inside"); break;
      }
      const int status = RunLimited(limit, command(out), dir + "/err.txt");
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
  EXPECT_EQ(RunLimited(":", "make-sample " + Q(dir) + " --width 16 --height 16 --json", dir + "/err", "/dev/full"), 1);
  EXPECT_NE(ReadAll(dir + "/err").find("standard output"), std::string::npos);
}

TEST(WriterFaults, WholeFileOrNothingThroughTheSharedWriterEvenOnASignal) {
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
  EXPECT_TRUE(WriteFileAtomically("/dev/null", "x", &error)) << error;  // a device is written in place

  // A signal in the middle of a write removes the temporary file.
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
  EXPECT_EQ(RunLimited("ulimit -v 400000", "make-sample " + Q(dir + "/s") + " --width 8000 --height 8000",
                       dir + "/err.txt"), 1);  // -1: ended by a signal
  EXPECT_NE(ReadAll(dir + "/err.txt").find("not enough memory"), std::string::npos) << ReadAll(dir + "/err.txt");
  EXPECT_FALSE(fs::exists(dir + "/s/0.bmp"));
}

// Real polarization-camera frames nobody on the team made, through the whole pipeline.
const std::string kFruits = std::string(PS_REALDATA_DIR) + "/fruits_IMX250MZR.png";
const std::string kPolarizer = std::string(PS_REALDATA_DIR) + "/polarizer_IMX250MZR.png";

// Splits `frame` with the demosaic `options`, loads and processes the 1224 x 1024 set.
void LoadProcessed(AppState& state, const std::string& frame, const std::string& options) {
  if (!std::filesystem::exists(frame)) GTEST_SKIP() << "real data not found: " << frame;
  const std::string dir = test::TempDir("realdata");
  ASSERT_EQ(RunCli("demosaic " + Q(frame) + " --out " + Q(dir) + options).status, 0);
  ASSERT_TRUE(LoadSet(state, SetPaths(dir)).ok);
  ASSERT_EQ(std::make_pair(state.SetWidth, state.SetHeight), std::make_pair(1224, 1024));
  ASSERT_TRUE(ЗаполнениеМассива(state));
}

// An apple, an orange and a banana on a table. The orange's outline was
// measured independently of this system on the mean of the four sub-images:
// the strongest brightness step at the rim along 360 rays (stalks left out), a
// robust least-squares circle, 270 points, rms 1.7 px, in 1-based cells.
constexpr double kOrangeCentreX = 903.3, kOrangeCentreY = 267.3, kOrangeRadius = 202.0;
// The press: on the orange's left rim, darkest against the table, on the crest of the response.
constexpr int kPressX = 703, kPressY = 267;

TEST(RealFrames, CircleFittedToTheTracedOrangeMatchesItsMeasuredOutline) {
  AppState state;
  LoadProcessed(state, kFruits, "");
  if (HasFatalFailure() || IsSkipped()) return;
  ASSERT_TRUE(ContourResponse(state, /*autocontrast=*/false));
  const int W = state.SetWidth, H = state.SetHeight;
  const double* response = state.ResultMap.layer(19);
  ASSERT_NE(response, nullptr);
  EXPECT_LT(response[static_cast<size_t>(kPressY - 1) * W + (kPressX - 1)], -20.0);  // a strong crest

  const TraceResult trace = Trace(response, W, H, kPressX, kPressY);
  const int n = trace.count();
  ASSERT_GE(n, 300) << TraceEndName(trace.end());  // a good part of the outline (2·π·202 ≈ 1270 cells)
  int off = 0;
  for (const auto& [x, y] : trace.points)
    off += std::fabs(std::hypot(x - kOrangeCentreX, y - kOrangeCentreY) - kOrangeRadius) > 12.0;
  EXPECT_LE(off, n / 20) << off << " of " << n << " trace points are more than 12 cells off the outline";

  const CircleFit fit = FitCircleToBoundary(MakeBoundaryList(trace.points), n, W, H);
  ASSERT_TRUE(fit.found);
  EXPECT_LE(std::hypot(fit.centreX - kOrangeCentreX, fit.centreY - kOrangeCentreY), 12.0)
      << fit.centreX << " " << fit.centreY;
  EXPECT_LE(std::fabs(fit.radius - kOrangeRadius), 6.0) << fit.radius;
}

// Four polarizer filters labelled 0°, 45°, 90° and 135° in the scene (discs of radius
// ~105 cells, centres read off the 0° sub-image): the mean azimuth in a disc of radius 60,
// averaged as the doubled angle (an axis: at 90° pixels lie near +π/2 and -π/2).
TEST(RealFrames, PolarizerFiltersReadTheirLabelsInEitherPattern) {
  const int kFilters[][3] = {{0, 191, 545}, {45, 501, 547}, {90, 779, 547}, {135, 1055, 553}};  // label, cx, cy
  const int r = 60;
  // The scene's layout reads each label; the Sony layout (the default) measures from
  // the other axis in the other sense: 90° minus the label.
  const std::pair<const char*, bool> patterns[] = {{" --pattern 0,45,135,90", false}, {"", true}};
  for (const auto& [options, sony] : patterns) {
    AppState state;
    LoadProcessed(state, kPolarizer, options);
    if (HasFatalFailure() || IsSkipped()) return;
    for (const auto& [label, cx, cy] : kFilters) {
      double c = 0, s = 0, n = 0;
      for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) {
            const double az = ОпределениеИнтенсивностей(std::as_const(state), x, y).Azimuth;
            c += std::cos(2 * az), s += std::sin(2 * az), ++n;
          }
      const double degrees = std::atan2(s, c) / 2 * 180 / M_PI;
      const double d = std::fmod(std::fabs(degrees - (sony ? 90 - label : label)), 180.0);
      EXPECT_LT(std::min(d, 180 - d), 10.0) << options << ": filter " << label << " reads " << degrees;
      if (!sony) EXPECT_GT(std::hypot(c, s) / n, 0.9) << "filter " << label << ": azimuths scattered";
    }
  }
}

}  // namespace
}  // namespace ps
