// What a user waits for: the whole `polarsphere-cli process` command on sets of
// 1, 5 and 20 megapixels (four 24-bit BMP files written by the benchmark), each
// run a fresh process (it computes every value of the fifteen layers and sums
// them for its summary without keeping them), beside
//   - the same command with --out (the layers kept and written as .npy),
//   - `sphere` with three rim points, a command that works on one definition,
//   - a straightforward one-thread port reading the same files and filling the
//     fifteen layers pixel by pixel (this program run with --port),
//   - a vectorised NumPy script computing linear Stokes parameters, DoLP and
//     AoLP from the same files (bench/stokes_numpy.py, /usr/bin/python3).
// Each run's wall time is the benchmark time; the child's CPU time and peak
// resident memory (getrusage) are counters. After the runs a table gives the
// medians and the ratios to `process`.
//
//   bench_process_command --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//   bench_process_command --write-set DIR WIDTH HEIGHT   (only writes a set)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "imageio/bmp_writer.h"
#include "polarization/polarization.h"

namespace fs = std::filesystem;

namespace {

struct Size {
  int width, height;
};
const Size kSizes[] = {{1000, 1000}, {2448, 2048}, {4896, 4096}};

std::string g_self;  // this program, for the one-thread port
std::string g_root;  // folder of the generated sets

// ---------------------------------------------------------------- the sets ---

// A sphere with radially polarized light on a textured, weakly polarized
// background, with sensor noise: smooth areas, edges and noise as in a photograph.
void WriteSet(const Size& size, const std::string& dir) {
  const int w = size.width, h = size.height;
  const double cx = 0.5 * w, cy = 0.5 * h, radius = 0.35 * std::min(w, h);
  std::vector<ps::RgbImage> images(4, ps::RgbImage{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3)});
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto noise = [&] {  // roughly -2..2 grey levels
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    return static_cast<double>(state % 5) - 2.0;
  };
  const double sign[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};  // cos 2t, sin 2t of 0, 45, 90, 135 degrees
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double dx = x - cx, dy = y - cy, r2 = dx * dx + dy * dy;
      double base[3], degree, c2, s2;
      if (r2 < radius * radius) {
        const double rho2 = r2 / (radius * radius);
        const double shade = 0.35 + 0.65 * std::sqrt(1 - rho2);
        base[0] = 200 * shade, base[1] = 120 * shade, base[2] = 60 * shade;
        degree = 0.4 * rho2;
        c2 = r2 > 0 ? (dx * dx - dy * dy) / r2 : 1;
        s2 = r2 > 0 ? 2 * dx * dy / r2 : 0;
      } else {
        const double t = 0.5 + 0.25 * std::sin(x * 0.05) * std::cos(y * 0.03);
        base[0] = 70 * t + 30, base[1] = 90 * t + 30, base[2] = 110 * t + 30;
        degree = 0.05, c2 = 1, s2 = 0;
      }
      for (int k = 0; k < 4; ++k) {
        const double factor = 0.5 * (1 + degree * (sign[k][0] * c2 + sign[k][1] * s2));
        uint8_t* px = &images[k].rgb[(static_cast<size_t>(y) * w + x) * 3];
        for (int c = 0; c < 3; ++c) px[c] = static_cast<uint8_t>(std::clamp(2 * base[c] * factor + noise(), 0.0, 255.0));
      }
    }
  }
  fs::create_directories(dir);
  const char* names[4] = {"0.bmp", "45.bmp", "90.bmp", "135.bmp"};
  for (int k = 0; k < 4; ++k)
    if (!ps::WriteFileBytes(dir + "/" + names[k], ps::EncodeBmp24(images[k]))) {
      std::fprintf(stderr, "cannot write the benchmark set into %s\n", dir.c_str());
      std::exit(1);
    }
}

// The four files of a size, written on first use.
std::vector<std::string> SetFiles(int index) {
  const Size& s = kSizes[index];
  const std::string dir = g_root + "/" + std::to_string(s.width) + "x" + std::to_string(s.height);
  if (!fs::exists(dir + "/135.bmp")) WriteSet(s, dir);
  return {dir + "/0.bmp", dir + "/45.bmp", dir + "/90.bmp", dir + "/135.bmp"};
}

// ------------------------------------------------------------- child runs ---

struct ChildRun {
  bool ok = false;
  double wall = 0;  // seconds
  double cpu = 0;   // user + system seconds
  double peakBytes = 0;
};

ChildRun Run(const std::vector<std::string>& argv, bool withoutOpenblasHints = false) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    if (withoutOpenblasHints) {
      unsetenv("OPENBLAS_CORETYPE");
      unsetenv("OPENBLAS_L2_SIZE");
    }
    execv(args[0], args.data());
    _exit(127);
  }
  ChildRun r;
  int status = 0;
  rusage ru{};
  if (pid < 0 || wait4(pid, &status, 0, &ru) != pid) return r;
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + 1e-6 * (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
  r.peakBytes = 1024.0 * ru.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

std::map<std::string, std::map<int, std::vector<double>>> g_walls;  // kind -> size -> wall times

void Measure(benchmark::State& st, const char* kind, const std::vector<std::string>& argv, bool numpy = false,
             const std::string& cleanUp = "") {
  const int index = static_cast<int>(st.range(0));
  const double pixels = static_cast<double>(kSizes[index].width) * kSizes[index].height;
  ChildRun last;
  for (auto _ : st) {
    last = Run(argv, numpy);
    if (!last.ok) {
      st.SkipWithError((std::string(kind) + " failed: " + argv[0]).c_str());
      break;
    }
    st.SetIterationTime(last.wall);
    g_walls[kind][index].push_back(last.wall);
    if (!cleanUp.empty()) fs::remove_all(cleanUp);
  }
  st.counters["cpu_s"] = last.cpu;
  st.counters["peak_MiB"] = last.peakBytes / (1 << 20);
  st.counters["B_per_px"] = last.peakBytes / pixels;
}

std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

void BM_Process(benchmark::State& st) {
  Measure(st, "process", With({PS_CLI_PATH, "process"}, SetFiles(static_cast<int>(st.range(0)))));
}

void BM_ProcessWritingNpy(benchmark::State& st) {
  const std::string out = g_root + "/npy";
  Measure(st, "process --out", With({PS_CLI_PATH, "process"}, With(SetFiles(static_cast<int>(st.range(0))), {"--out", out})),
          false, out);
}

// `sphere` with three points on the rim of the generated sphere: processing of
// the mean definition, contour response and the circle through the points.
void BM_SphereOneDefinition(benchmark::State& st) {
  const Size& s = kSizes[st.range(0)];
  const int cx = s.width / 2 + 1, cy = s.height / 2 + 1, r = static_cast<int>(0.35 * std::min(s.width, s.height));
  const std::vector<std::string> points = {"--points", std::to_string(cx - r), std::to_string(cy),
                                           std::to_string(cx), std::to_string(cy - r),
                                           std::to_string(cx + r), std::to_string(cy)};
  Measure(st, "sphere (one definition)",
          With({PS_CLI_PATH, "sphere"}, With(SetFiles(static_cast<int>(st.range(0))), points)));
}

void BM_StraightforwardPort(benchmark::State& st) {
  Measure(st, "one-thread port", With({g_self, "--port"}, SetFiles(static_cast<int>(st.range(0)))));
}

void BM_NumpyStokes(benchmark::State& st) {
  Measure(st, "numpy stokes", With({"/usr/bin/python3", PS_BENCH_DIR "/stokes_numpy.py"},
                                   SetFiles(static_cast<int>(st.range(0)))),
          true);
}

#define PS_CHILD_BENCHMARK(f) \
  BENCHMARK(f)->ArgName("set")->DenseRange(0, 2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)
PS_CHILD_BENCHMARK(BM_Process);
PS_CHILD_BENCHMARK(BM_StraightforwardPort);
PS_CHILD_BENCHMARK(BM_NumpyStokes);
PS_CHILD_BENCHMARK(BM_SphereOneDefinition);
PS_CHILD_BENCHMARK(BM_ProcessWritingNpy);

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

void PrintRatios() {
  if (!g_walls.count("process")) return;
  std::printf("\nMedian wall time in seconds (ratio to `process` of the same set):\n");
  for (const auto& [kind, bySize] : g_walls) {
    std::printf("  %-26s", kind.c_str());
    for (int i = 0; i < 3; ++i) {
      const auto it = bySize.find(i);
      const auto base = g_walls["process"].find(i);
      if (it == bySize.end()) {
        std::printf("  %-22s", "-");
        continue;
      }
      char cell[64];
      const double m = Median(it->second);
      if (base != g_walls["process"].end())
        std::snprintf(cell, sizeof cell, "%dx%d %.3f (%.2fx)", kSizes[i].width, kSizes[i].height, m,
                      m / Median(base->second));
      else
        std::snprintf(cell, sizeof cell, "%dx%d %.3f", kSizes[i].width, kSizes[i].height, m);
      std::printf("  %-22s", cell);
    }
    std::printf("\n");
  }
}

// ------------------------------------------------- the one-thread port ---

struct Bmp24 {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // top row first
};

bool ReadBmp24(const char* path, Bmp24& out) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  auto i32 = [&](size_t at) { return static_cast<int>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24); };
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || (b[28] | b[29] << 8) != 24) return false;
  const int offset = i32(10), w = i32(18), h = i32(22);
  const size_t stride = (3 * static_cast<size_t>(w) + 3) & ~size_t{3};
  if (w <= 0 || h <= 0 || offset + stride * h > b.size()) return false;
  out = {w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3)};
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = &b[offset + stride * (h - 1 - y)];
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) out.rgb[(static_cast<size_t>(y) * w + x) * 3 + c] = row[3 * x + 2 - c];
  }
  return true;
}

// Reads the four files and fills fifteen layers pixel by pixel on one thread,
// as a direct port of the processing loop would; prints the mean a0 of each
// definition so the work cannot be skipped.
int RunPort(char** paths) {
  Bmp24 img[4];
  for (int k = 0; k < 4; ++k)
    if (!ReadBmp24(paths[k], img[k]) || img[k].width != img[0].width || img[k].height != img[0].height) {
      std::fprintf(stderr, "port: cannot read %s\n", paths[k]);
      return 1;
    }
  const size_t n = static_cast<size_t>(img[0].width) * img[0].height;
  std::vector<std::vector<double>> layers(15, std::vector<double>(n));
  const ps::Definition defs[3] = {ps::Definition::Max, ps::Definition::Mean, ps::Definition::Luma};
  for (size_t i = 0; i < n; ++i) {
    for (int d = 0; d < 3; ++d) {
      std::array<double, 4> in;
      for (int k = 0; k < 4; ++k) {
        const uint8_t* p = &img[k].rgb[3 * i];
        in[k] = ps::IntensityOf(defs[d], p[0], p[1], p[2]);
      }
      const ps::PixelValues v = ps::Вычисление_a0_a2_b2(in);
      layers[5 * d][i] = v.A0;
      layers[5 * d + 1][i] = v.AxisRatio;
      layers[5 * d + 2][i] = v.EllipticityAngle;
      layers[5 * d + 3][i] = v.Azimuth;
      layers[5 * d + 4][i] = v.UndefinedMarker;
    }
  }
  for (int d = 0; d < 3; ++d) {
    double sum = 0;
    for (double v : layers[5 * d]) sum += v;
    std::printf("%s mean a0 %.3f\n", ps::DefinitionName(defs[d]), sum / n);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--port") == 0) return RunPort(argv + 2);
  if (argc == 5 && std::strcmp(argv[1], "--write-set") == 0) {  // the generated set, for runs by hand
    WriteSet({std::atoi(argv[3]), std::atoi(argv[4])}, argv[2]);
    return 0;
  }
  g_self = fs::canonical("/proc/self/exe").string();
  g_root = (fs::temp_directory_path() / ("polarsphere-bench-sets-" + std::to_string(getpid()))).string();
  // Three runs of each unless the command line asks for another count.
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=3";
  if (std::none_of(args.begin(), args.end(), [](const char* a) { return std::strstr(a, "repetitions"); }))
    args.push_back(repetitions.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintRatios();
  fs::remove_all(g_root);
  return 0;
}
