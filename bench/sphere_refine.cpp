// Refinement of the sphere circle on the real fruit frame (the orange, 1224 x
// 1024 sub-images, pattern 0,45,135,90, mean definition): from presses on the
// orange's contour crest and from three rim clicks. The set is demosaicked,
// read, processed and its contour computed once; only the refinement is timed.
// The refined circle is reported as counters.
//
//   bench_sphere_refine --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <QImage>
#include <QImageReader>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "imageio/bmp.h"
#include "imageio/bmp_writer.h"
#include "imageio/demosaic.h"
#include "polarization/polarization.h"
#include "sphere/contour.h"
#include "sphere/refine.h"

namespace {

// The frames' folder is taken at run time: PS_REALDATA_DIR, else ../shared/realdata
// (relative to the folder the benchmark is started from).
const std::string kFrame = [] {
  const char* env = std::getenv("PS_REALDATA_DIR");
  return std::string(env && *env ? env : "../shared/realdata") + "/fruits_IMX250MZR.png";
}();

// The processed fruit set with its contour response; null when the frame is absent.
const ps::AppState* FruitState() {
  static const std::unique_ptr<ps::AppState> state = []() -> std::unique_ptr<ps::AppState> {
    if (!std::filesystem::exists(kFrame)) return nullptr;
    const QImage image = QImageReader(QString::fromStdString(kFrame)).read();
    if (image.isNull() || image.format() != QImage::Format_Grayscale8) return nullptr;
    ps::MosaicPattern pattern;
    std::string error;
    if (!ps::ParseMosaicPattern("0,45,135,90", &pattern, &error)) return nullptr;
    const ps::PolarizationSet set = ps::SplitMosaic(image.constBits(), image.width(), image.height(),
                                                    static_cast<size_t>(image.bytesPerLine()), pattern);
    const auto dir = std::filesystem::temp_directory_path() / ("polarsphere-bench-refine-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<std::string> files;
    for (int slot = 1; slot <= 4; ++slot) {
      files.push_back((dir / ps::SubImageFileName(slot)).string());
      if (!ps::WriteFileBytes(files.back(), ps::EncodeGreyBmp(set[slot - 1], 8))) return nullptr;
    }
    auto s = std::make_unique<ps::AppState>();
    const bool ok = ps::LoadSet(*s, files).ok;
    std::filesystem::remove_all(dir);
    if (!ok || !ps::ЗаполнениеМассива(*s)) return nullptr;
    s->IntensityMode = ps::kModeMean;
    if (!ps::ContourResponse(*s, false)) return nullptr;
    return s;
  }();
  return state.get();
}

void Run(benchmark::State& st, const ps::RefineSeed& seed) {
  const ps::AppState* state = FruitState();
  if (!state) {
    st.SkipWithError("real data not found");
    return;
  }
  ps::RefinedCircle r;
  for (auto _ : st) {
    r = ps::RefineSphereCircle(*state, seed);
    benchmark::DoNotOptimize(r);
  }
  st.counters["refined"] = r.refined;
  st.counters["x"] = r.circle.x;
  st.counters["y"] = r.circle.y;
  st.counters["r"] = r.circle.r;
  st.counters["points"] = r.points;
  st.counters["passes"] = r.passes;
}

// Presses on the crest of the orange's contour: the top right (where the trace
// stops after 6 cells), the right (where the fit gives radius 90), the left rim.
constexpr int kPresses[][2] = {{978, 86}, {1089, 345}, {701, 268}};

void BM_RefineFromPress(benchmark::State& st) {
  const auto& p = kPresses[st.range(0)];
  Run(st, ps::RefineSeed::Press(p[0], p[1]));
}
BENCHMARK(BM_RefineFromPress)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_RefineFromThreeClicks(benchmark::State& st) {
  Run(st, ps::RefineSeed::ThreeClicks({{{701, 268}, {903, 66}, {1105, 268}}}));
}
BENCHMARK(BM_RefineFromThreeClicks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
