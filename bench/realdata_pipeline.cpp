// The whole pipeline on the real fruit frame (2448 x 2048 raw mosaic): demosaic
// (decode the PNG, split, write four 8-bit BMP files), read the four 1224 x 1024
// files through the BMP reader, process the set, contour response, trace of the
// orange's outline from a press on it, circle fit. Each step's time is reported
// as a counter (seconds per run) next to the total.
//
// The frames are read from the folder given as --data=DIR, else from the
// environment variable PS_REALDATA_DIR, else from ../shared/realdata (relative
// to the working directory, i.e. beside a checkout).
//
//   bench_realdata_pipeline --data=/work/shared/realdata --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <QImage>
#include <QImageReader>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "imageio/bmp.h"
#include "imageio/bmp_writer.h"
#include "imageio/demosaic.h"
#include "polarization/polarization.h"
#include "sphere/circle_fit.h"
#include "sphere/contour.h"
#include "sphere/trace.h"

namespace {

std::string g_frame;  // the fruit frame, found at start-up
// A press on the orange's left outline (the same as in the end-to-end test).
constexpr int kPressX = 703;
constexpr int kPressY = 267;

using Clock = std::chrono::steady_clock;
// CPU time of the whole process (all threads): on a busy machine the wall time
// also counts the time other programs had the cores.
double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// The demosaic command's work: the frame is an 8-bit grey PNG, so it decodes
// straight to Grayscale8.
bool Demosaic(const std::string& dir) {
  QImageReader reader(QString::fromStdString(g_frame));
  const QImage image = reader.read();
  if (image.isNull() || image.format() != QImage::Format_Grayscale8) return false;
  const ps::PolarizationSet set = ps::SplitMosaic(image.constBits(), image.width(), image.height(),
                                                  static_cast<size_t>(image.bytesPerLine()), ps::MosaicPattern{});
  for (int slot = 1; slot <= 4; ++slot)
    if (!ps::WriteFileBytes(dir + "/" + ps::SubImageFileName(slot), ps::EncodeGreyBmp(set[slot - 1], 8)))
      return false;
  return true;
}

void BM_FruitPipeline(benchmark::State& st) {
  if (!std::filesystem::exists(g_frame)) {
    st.SkipWithError(("real data not found: " + g_frame + " (give the folder as --data=DIR or PS_REALDATA_DIR)").c_str());
    return;
  }
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("polarsphere-bench-fruit-" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(dir);
  const std::vector<std::string> files = {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"};

  double t[6] = {};
  int points = 0;
  ps::CircleFit fit;
  double cpu = 0;
  for (auto _ : st) {
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    if (!Demosaic(dir)) {
      st.SkipWithError("demosaic failed");
      break;
    }
    const auto t1 = Clock::now();
    ps::AppState state;
    if (!ps::LoadSet(state, files).ok) {
      st.SkipWithError("reading the set failed");
      break;
    }
    const auto t2 = Clock::now();
    // Argument 0: all three definitions, as the window processes a set today;
    // 1: only the definition the contour uses (the window's mean), the others
    // left for later.
    ps::ProcessOptions options;
    if (st.range(0) == 1) options.definitions = ps::DefinitionBit(ps::DefinitionForMode(state.IntensityMode));
    ps::ProcessSet(state, options);
    const auto t3 = Clock::now();
    ps::ContourResponse(state, false);
    const auto t4 = Clock::now();
    const ps::TraceResult trace =
        ps::Trace(state.ResultMap.layer(19), state.SetWidth, state.SetHeight, kPressX, kPressY);
    const auto t5 = Clock::now();
    fit = ps::FitCircleToBoundary(ps::MakeBoundaryList(trace.points), trace.count(), state.SetWidth,
                                  state.SetHeight);
    const auto t6 = Clock::now();
    benchmark::DoNotOptimize(fit);
    const Clock::time_point marks[7] = {t0, t1, t2, t3, t4, t5, t6};
    for (int i = 0; i < 6; ++i) t[i] += Seconds(marks[i], marks[i + 1]);
    points = trace.count();
    cpu += ProcessCpuSeconds() - cpu0;
  }
  std::filesystem::remove_all(dir);

  const char* names[6] = {"demosaic_s", "read_s", "process_s", "contour_s", "trace_s", "fit_s"};
  for (int i = 0; i < 6; ++i) st.counters[names[i]] = benchmark::Counter(t[i], benchmark::Counter::kAvgIterations);
  st.counters["cpu_all_threads_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
  st.counters["trace_points"] = points;
  st.counters["fit_x"] = fit.centreX;
  st.counters["fit_y"] = fit.centreY;
  st.counters["fit_r"] = fit.radius;
}
BENCHMARK(BM_FruitPipeline)->ArgName("chosen_only")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  std::string dir = "../shared/realdata";
  if (const char* env = std::getenv("PS_REALDATA_DIR"); env && *env) dir = env;
  // --data=DIR is taken out of the arguments before Google Benchmark reads them.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--data=", 7) == 0) dir = argv[i] + 7;
    else argv[kept++] = argv[i];
  }
  argc = kept;
  g_frame = dir + "/fruits_IMX250MZR.png";
  std::fprintf(stderr, "real frame: %s\n", g_frame.c_str());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
