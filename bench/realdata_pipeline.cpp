// The whole pipeline on the real fruit frame (2448 x 2048 raw mosaic): demosaic
// (decode the PNG, split, write four 8-bit BMP files), read the four 1224 x 1024
// files through the BMP reader, process the set, contour response, trace of the
// orange's outline from a press on it, circle fit. Each step's time is reported
// as a counter (seconds per run) next to the total.
//
//   bench_realdata_pipeline --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <QImage>
#include <QImageReader>
#include <chrono>
#include <cstdio>
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

const std::string kFrame = std::string(PS_REALDATA_DIR) + "/fruits_IMX250MZR.png";
// A press on the orange's left outline (the same as in the end-to-end test).
constexpr int kPressX = 703;
constexpr int kPressY = 267;

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// The demosaic command's work: the frame is an 8-bit grey PNG, so it decodes
// straight to Grayscale8.
bool Demosaic(const std::string& dir) {
  QImageReader reader(QString::fromStdString(kFrame));
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
  if (!std::filesystem::exists(kFrame)) {
    st.SkipWithError("real data not found");
    return;
  }
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("polarsphere-bench-fruit-" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(dir);
  const std::vector<std::string> files = {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"};

  double t[6] = {};
  int points = 0;
  ps::CircleFit fit;
  for (auto _ : st) {
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
    ps::ЗаполнениеМассива(state);
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
  }
  std::filesystem::remove_all(dir);

  const char* names[6] = {"demosaic_s", "read_s", "process_s", "contour_s", "trace_s", "fit_s"};
  for (int i = 0; i < 6; ++i) st.counters[names[i]] = benchmark::Counter(t[i], benchmark::Counter::kAvgIterations);
  st.counters["trace_points"] = points;
  st.counters["fit_x"] = fit.centreX;
  st.counters["fit_y"] = fit.centreY;
  st.counters["fit_r"] = fit.radius;
}
BENCHMARK(BM_FruitPipeline)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
