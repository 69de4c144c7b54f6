// Drawing speed: the map redraw with grid and ellipses, the change map, a source
// view and the toning of the statistics window's picture.
#include <benchmark/benchmark.h>

#include <cmath>

#include "display/map_view.h"
#include "display/toning.h"
#include "polarization/polarization.h"

namespace {

// A processed set of four 24-bit photographs whose polarization turns across the image.
ps::AppState ProcessedSet(int W, int H) {
  ps::AppState s;
  s.startNewSet();
  s.createImageSet(W, H);
  for (int k = 1; k <= 4; ++k)
    for (int y = 1; y <= H; ++y)
      for (int x = 1; x <= W; ++x) {
        const double azimuth = 3.0 * x / W - 1.5 + 0.3 * std::sin(0.2 * y);
        const double degree = 0.2 + 0.6 * y / H;
        const double i0 = 60 + 100.0 * (x + y) / (W + H);
        const double i = i0 * (1 + degree * std::cos(2 * ((k - 1) * 3.14159 / 4 - azimuth)));
        const auto v = static_cast<uint8_t>(std::lround(std::min(255.0, i)));
        s.ImageStore.set(x, y, 0, k, v);
        s.ImageStore.set(x, y, 1, k, static_cast<uint8_t>(v * 0.9));
        s.ImageStore.set(x, y, 2, k, static_cast<uint8_t>(v * 0.8));
      }
  s.SetStarted = 1;
  s.Header.FileSignature = "BM";
  s.Header.BitsPerPixel = 24;
  s.Header.ImageWidth = W;
  s.Header.ImageHeight = H;
  s.SlotLoaded = {true, true, true, true};
  s.ColouredPixelCount = {W * H, W * H, W * H, W * H};
  ps::ЗаполнениеМассива(s);
  return s;
}

// Gaussian-like weights around an empty centre, in percent.
void SetKernels(ps::AppState& s) {
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) {
      const double r2 = (i - 2) * (i - 2) + (j - 2) * (j - 2);
      s.Detection.WeightKernel[i][j] = r2 == 0 ? 0.0f : static_cast<float>(10 * std::exp(-r2 / 4));
    }
  s.Detection.SubtractKernel[2][2] = 5;
}

// Map redraw of a 220 x 220 set at zoom 9. Arguments: change map (0 intensity,
// 1 change of polarization) and overlays (1 grid and ellipses on).
void BM_MapRedraw220Zoom9(benchmark::State& st) {
  ps::AppState s = ProcessedSet(220, 220);
  s.ZoomFactor = 9;
  if (st.range(0)) {
    s.Detection.ShowMode = 1;
    SetKernels(s);
  }
  ps::DisplayState ds;
  ds.Grid = ds.Ellipses = st.range(1) != 0;
  ps::RasterSurface map;
  for (auto _ : st) {
    ps::UvelicheniePolyarizacii(map, ds, s);
    benchmark::DoNotOptimize(map.data());
  }
}
BENCHMARK(BM_MapRedraw220Zoom9)
    ->ArgNames({"change", "overlays"})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

void BM_SourceView220Zoom9(benchmark::State& st) {
  ps::AppState s = ProcessedSet(220, 220);
  s.ZoomFactor = 9;
  ps::DisplayState ds;
  ps::RasterSurface picture;
  for (auto _ : st) {
    ps::Uvelichenie(picture, ds, s, 1);
    benchmark::DoNotOptimize(picture.data());
  }
}
BENCHMARK(BM_SourceView220Zoom9)->Unit(benchmark::kMillisecond);

void BM_Toning300x245(benchmark::State& st) {
  ps::AppState s = ProcessedSet(320, 240);
  SetKernels(s);
  s.Circle = {160, 120, 100};
  ps::ToningView view;  // 45 degrees about x: more than half the disc is painted
  view.Ellipses = st.range(0) != 0;
  ps::RasterSurface left(300, 245), right(300, 245);
  for (auto _ : st) {
    ps::ToningSweep(s, view, left, right);
    benchmark::DoNotOptimize(left.data());
  }
}
BENCHMARK(BM_Toning300x245)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
