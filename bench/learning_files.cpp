// Cost of the files an accepted iteration writes: formatting the weights file
// and the log line in code page 1251 (done on the training thread), and the
// durable replacement of the weights file (done by the background writer).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

#include "learning/files.h"
#include "learning/text_encoding.h"

namespace {

ps::NetworkParameters Parameters() {
  ps::NetworkParameters p;
  double v = -1.1;
  for (int t = 1; t <= 4; ++t)
    for (auto& row : p.templ(t))
      for (double& x : row) x = (v += 0.0137);
  return p;
}

void BM_FormatWeightsAndLogLine(benchmark::State& st) {
  const ps::NetworkParameters p = Parameters();
  ps::RunFigures f;
  f.EnergyA = 0.02;
  f.EnergyB = 133977.16;
  f.Temperature = 0.3;
  for (auto _ : st) {
    benchmark::DoNotOptimize(ps::Utf8ToCp1251(ps::FormatWeightsFile(p, f, ",")));
    benchmark::DoNotOptimize(ps::Utf8ToCp1251(ps::FormatProgressLine(f, ",")));
  }
}

void BM_WriteWeightsFileDurably(benchmark::State& st) {
  const auto dir = std::filesystem::temp_directory_path() / ("ps-bench-learning-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / ps::kWeightsFileName).string();
  const ps::NetworkParameters p = Parameters();
  ps::RunFigures f;
  for (auto _ : st) ps::WriteWeightsFile(path, p, f, ",");
  std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_FormatWeightsAndLogLine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteWeightsFileDurably)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
