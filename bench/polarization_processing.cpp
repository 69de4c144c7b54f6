// Set processing of a 1000 x 1000 24-bit set: the parallel version beside the
// straightforward one-thread loop, and reading a 1000 x 1000 24-bit BMP into a slot.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "imageio/bmp.h"
#include "imageio/bmp_writer.h"
#include "polarization/polarization.h"
#include "polarization/sample_scene.h"

namespace {

ps::AppState RandomSet(int w, int h) {  // uniformly random bytes: the worst case, nothing repeats
  ps::AppState s;
  s.createImageSet(w, h);
  std::mt19937 rng(7);
  for (int k = 1; k <= 4; ++k)
    for (int y = 1; y <= h; ++y) {
      uint8_t* row = s.ImageStore.row(y, k);
      for (int i = 0; i < 3 * w; ++i) row[i] = static_cast<uint8_t>(rng());
    }
  s.Header.FileSignature = "BM";
  s.Header.BitsPerPixel = 24;
  return s;
}

// A photographed scene: the sample sphere rendered at 1000 x 1000.
ps::AppState SceneSet(int w, int h) {
  ps::SampleSceneOptions o;
  o.width = w;
  o.height = h;
  const ps::SampleScene scene = ps::RenderSampleScene(o);
  ps::AppState s;
  s.createImageSet(w, h);
  for (int k = 1; k <= 4; ++k)
    for (int y = 1; y <= h; ++y)
      std::copy(scene.images[k - 1].pixel(0, y - 1), scene.images[k - 1].pixel(0, y - 1) + 3 * w, s.ImageStore.row(y, k));
  s.Header.FileSignature = "BM";
  s.Header.BitsPerPixel = 24;
  return s;
}

// Arguments: input (0 random bytes, the worst case; 1 the rendered sphere scene)
// and threads (1, 2; 0 = the straightforward one-thread loop it is measured against).
void BM_ProcessSet(benchmark::State& st) {
  ps::AppState s = st.range(0) == 0 ? RandomSet(1000, 1000) : SceneSet(1000, 1000);
  const int threads = static_cast<int>(st.range(1));
  for (auto _ : st) {
    if (threads == 0)
      ps::ЗаполнениеМассиваReference(s);
    else
      ps::ЗаполнениеМассива(s, {}, threads);
    benchmark::DoNotOptimize(s.ResultMap.layer(1));
  }
}
BENCHMARK(BM_ProcessSet)
    ->ArgNames({"scene", "threads"})
    ->ArgsProduct({{0, 1}, {2, 1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ReadBmp1000x1000(benchmark::State& st) {
  ps::RgbImage img{1000, 1000, std::vector<uint8_t>(3000000)};
  std::mt19937 rng(3);
  for (auto& b : img.rgb) b = static_cast<uint8_t>(rng());
  const std::string path = (std::filesystem::temp_directory_path() / "polarsphere-bench-1000.bmp").string();
  ps::WriteFileBytes(path, ps::EncodeBmp24(img));
  ps::AppState s;
  ps::UseCheckedFile(s, ps::CheckFile(s, std::filesystem::path(path).parent_path().string(),
                                      std::filesystem::path(path).filename().string()).header.file);
  for (auto _ : st) {
    const auto out = ps::ReadBitmapPixels(s, path, 1);
    benchmark::DoNotOptimize(out.read);
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_ReadBmp1000x1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
