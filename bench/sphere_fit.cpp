// The two circle fits on a 1000 x 1000 set: the fast searches beside the plain
// exhaustive ones they must equal.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "sphere/circle_fit.h"

namespace {

constexpr int kSize = 1000;

// A 1200-point boundary round a circle of radius 191 (one point per cell of
// its circumference), with a little jitter as a traced outline has.
const std::vector<ps::BoundaryRow>& Boundary() {
  static const std::vector<ps::BoundaryRow> list = [] {
    std::vector<std::pair<int, int>> pts;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> jitter(-1, 1);
    for (int k = 0; k < 1200; ++k) {
      const double t = 2 * 3.14159 * k / 1200;
      pts.emplace_back(static_cast<int>(std::lround(530 + 191 * std::cos(t))) + (k % 7 == 0 ? jitter(rng) : 0),
                       static_cast<int>(std::lround(470 + 191 * std::sin(t))));
    }
    return ps::MakeBoundaryList(pts);
  }();
  return list;
}

void BM_FitCircleToBoundary(benchmark::State& state) {
  const auto& list = Boundary();
  ps::CircleFit fit;
  for (auto _ : state) fit = ps::FitCircleToBoundary(list, 1200, kSize, kSize, {}, static_cast<int>(state.range(0)));
  state.counters["centre_x"] = fit.centreX;
  state.counters["centre_y"] = fit.centreY;
  state.counters["radius"] = fit.radius;
}
BENCHMARK(BM_FitCircleToBoundary)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FitCircleToBoundaryReference(benchmark::State& state) {
  const auto& list = Boundary();
  ps::CircleFit fit;
  for (auto _ : state) fit = ps::FitCircleToBoundaryReference(list, 1200, kSize, kSize);
  state.counters["centre_x"] = fit.centreX;
  state.counters["centre_y"] = fit.centreY;
  state.counters["radius"] = fit.radius;
}
BENCHMARK(BM_FitCircleToBoundaryReference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

const std::array<std::pair<int, int>, 3> kRim = {{{721, 470}, {530, 661}, {339, 470}}};

void BM_CircleThroughThreePoints(benchmark::State& state) {
  ps::CircleFit fit;
  for (auto _ : state) fit = ps::CircleThroughThreePoints(kRim, kSize, kSize);
  state.counters["centre_x"] = fit.centreX;
  state.counters["radius"] = fit.radius;
}
BENCHMARK(BM_CircleThroughThreePoints)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CircleThroughThreePointsReference(benchmark::State& state) {
  ps::CircleFit fit;
  for (auto _ : state) fit = ps::CircleThroughThreePointsReference(kRim, kSize, kSize);
  state.counters["centre_x"] = fit.centreX;
  state.counters["radius"] = fit.radius;
}
BENCHMARK(BM_CircleThroughThreePointsReference)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
