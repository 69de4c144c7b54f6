// Cost of the eight-column export at sizes of real spheres: filling the sheet
// model from a sample table, and writing it as an .xlsx workbook.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "export/exports.h"
#include "export/xlsx_writer.h"

namespace {

ps::SampleTable MakeSamples(int n) {
  ps::SampleTable t(n);
  for (int k = 0; k < n; ++k)
    for (int c = 0; c < 10; ++c) t[k][c] = static_cast<float>((k * 31 + c * 7) % 1000) / 7.0f;
  return t;
}

double PeakRssMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

// Rows = inside cells of the circle: 31 000 is a radius of about 100 cells,
// 200 000 about 250, 1 000 000 about 565 (the sheet holds 1 048 574).
void BM_FillSphereCells(benchmark::State& state) {
  const ps::SampleTable samples = MakeSamples(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ps::Sheet sheet;
    ps::FillSphereCells(sheet, samples, 640, 480);
    benchmark::DoNotOptimize(sheet.CellCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 8);
  state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_FillSphereCells)->Arg(31000)->Arg(200000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_WriteXlsx(benchmark::State& state) {
  ps::Sheet sheet;
  ps::FillSphereCells(sheet, MakeSamples(static_cast<int>(state.range(0))), 640, 480);
  const std::string path = "/tmp/bench_export_" + std::to_string(::getpid()) + ".xlsx";
  for (auto _ : state) {
    std::string error;
    if (!ps::WriteXlsx(sheet, path, &error)) state.SkipWithError(error.c_str());
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) {
    std::fseek(f, 0, SEEK_END);
    state.counters["file_MiB"] = std::ftell(f) / 1048576.0;
    std::fclose(f);
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * state.range(0) * 8);
  state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_WriteXlsx)->Arg(31000)->Arg(200000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_LearningCoefficients(benchmark::State& state) {
  ps::NetworkParameters p;
  for (auto _ : state) {
    ps::Sheet sheet;
    ps::FillLearningCoefficients(sheet, p);
    benchmark::DoNotOptimize(sheet.CellCount());
  }
}
BENCHMARK(BM_LearningCoefficients)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
