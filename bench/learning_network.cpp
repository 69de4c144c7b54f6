// One evaluation of the cellular network plus its energies on a sphere of
// radius 40 (about 5000 inside cells): the fast evaluation on one and two
// threads, and the plain cell-by-cell version it must match bit for bit.
#include <benchmark/benchmark.h>

#include <random>

#include "learning/network.h"
#include "polarization/polarization.h"
#include "sphere/detection_settings.h"

namespace {

ps::AppState SphereState() {
  ps::AppState s;
  s.SetWidth = 100;
  s.SetHeight = 100;
  s.createResultMap();
  s.IntensityMode = ps::kModeMean;
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int first = ps::FirstLayer(ps::Definition::Mean);
  for (int x = 1; x <= 100; ++x)
    for (int y = 1; y <= 100; ++y) {
      s.ResultMap.set(x, y, first, 255 * u(gen));
      s.ResultMap.set(x, y, first + 1, u(gen));
      s.ResultMap.set(x, y, first + 3, ps::kPi * (u(gen) - 0.5));
    }
  s.Detection.WeightKernel = ps::PresetValues(ps::KernelPreset::GaussWithoutCentre).weight;
  s.Circle = ps::SphereCircle{50, 50, 40};
  return s;
}

ps::NetworkParameters Parameters() {
  std::mt19937 gen(2);
  std::uniform_real_distribution<double> u(-0.2, 0.2);
  ps::NetworkParameters p;
  for (int t = 1; t <= 4; ++t)
    for (auto& row : p.templ(t))
      for (double& v : row) v = u(gen);
  return p;
}

void Run(benchmark::State& st, int threads, bool plain) {
  const ps::AppState s = SphereState();
  ps::CellNetwork net = ps::PrepareCells(s, ps::DirectionConvention::FullTurn);
  net.setThreads(threads);
  const ps::NetworkParameters p = Parameters();
  for (auto _ : st) {
    if (plain) {
      ps::EvaluateNetworkReference(net, p);
    } else {
      ps::EvaluateNetwork(net, p);
    }
    benchmark::DoNotOptimize(ps::ComputeEnergies(net));
  }
  st.counters["inside_cells"] = net.insideCount();
  st.counters["threads"] = net.threads();
}

void BM_EvaluateFastTwoThreads(benchmark::State& st) { Run(st, 2, false); }
void BM_EvaluateFastOneThread(benchmark::State& st) { Run(st, 1, false); }
void BM_EvaluatePlain(benchmark::State& st) { Run(st, 1, true); }

}  // namespace

BENCHMARK(BM_EvaluateFastTwoThreads)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_EvaluateFastOneThread)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_EvaluatePlain)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
