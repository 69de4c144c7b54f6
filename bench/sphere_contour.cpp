// Contour response of a 1000 x 1000 image: the fast version beside the plain
// per-pixel loop it must equal bit for bit.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "sphere/contour.h"

namespace {

constexpr int kSize = 1000;

// A shaded disc on a noisy textured background, like an intensity layer.
const std::vector<double>& Image() {
  static const std::vector<double> v = [] {
    std::vector<double> img(static_cast<size_t>(kSize) * kSize);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0, 1.5);
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        const double d = std::hypot(x - 520.0, y - 480.0);
        const double bg = 60 + 15 * std::sin(x * 0.05) * std::cos(y * 0.07);
        img[static_cast<size_t>(y) * kSize + x] = (d < 250 ? 200 - 0.3 * (x - 520) * 0.2 : bg) + noise(rng);
      }
    return img;
  }();
  return v;
}

void BM_ContourResponse(benchmark::State& state) {
  const auto& v = Image();
  std::vector<double> l19(v.size()), l20(v.size()), l21(v.size());
  const bool autocontrast = state.range(0) != 0;
  for (auto _ : state) {
    ps::ContourResponse(v.data(), kSize, kSize, autocontrast, l19.data(), l20.data(), l21.data());
    benchmark::DoNotOptimize(l19.data());
  }
}
BENCHMARK(BM_ContourResponse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ContourResponseReference(benchmark::State& state) {
  const auto& v = Image();
  std::vector<double> l19(v.size()), l20(v.size()), l21(v.size());
  const bool autocontrast = state.range(0) != 0;
  for (auto _ : state) {
    ps::ContourResponseReference(v.data(), kSize, kSize, autocontrast, l19.data(), l20.data(), l21.data());
    benchmark::DoNotOptimize(l19.data());
  }
}
BENCHMARK(BM_ContourResponseReference)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
