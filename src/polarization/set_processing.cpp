// Processing of a whole image set into the result map.
//
// Every stored value must equal, bit for bit, what the per-pixel function
// Вычисление_a0_a2_b2 gives for the pixel's four intensities. The work is done a
// block of pixels of one row at a time: the intensities of the four slots are
// formed once per definition, then everything except the two arctangents is
// computed by a loop without branches that the compiler turns into vector code
// (square roots, divisions and comparisons are exact in vector registers too),
// and finally the arctangents, the one part that has to go through the same libm
// call as the per-pixel function, are taken only for the pixels that need them.
//
// Fused multiply-adds would round differently from the per-pixel function, so
// they are off for this file. The build compiles it with -fno-math-errno: a
// negative argument of a square root only arises in lanes whose result is
// discarded, and square roots that need not set errno vectorize.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("fp-contract=off")
#else
#pragma STDC FP_CONTRACT OFF
#endif

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "polarization/polarization.h"

// Vector width is chosen at run time: the same loops compiled for AVX-512, AVX2
// and the baseline.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define PS_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define PS_VECTOR_CLONES
#endif

namespace ps {

unsigned DefinitionBit(Definition d) { return 1u << (FirstLayer(d) / 6); }

unsigned ProcessedDefinitions(const ResultLayers& map) {
  unsigned bits = 0;
  for (int g = 0; g < 3; ++g)
    if (map.hasStorage(6 * g + 1)) bits |= 1u << g;
  return bits;
}

uint64_t AvailableMemoryBytes() {
  std::ifstream f("/proc/meminfo");
  std::string key;
  unsigned long long kb = 0;
  std::string unit;
  while (f >> key >> kb >> unit)
    if (key == "MemAvailable:") return static_cast<uint64_t>(kb) * 1024;
  return 0;
}

Message NotEnoughMemoryMessage(int width, int height, uint64_t needed, uint64_t available) {
  auto mb = [](uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20); };
  return {"Недостаточно памяти для обработки изображений " + std::to_string(width) + " x " + std::to_string(height) +
              ":" + kCrLf + "нужно " + mb(needed) + " МБ, а доступно " + mb(available) + " МБ.",
          "Недостаточно памяти", MessageIcon::Critical};
}

namespace {

constexpr Definition kDefinitions[3] = {Definition::Max, Definition::Mean, Definition::Luma};
constexpr int kBlock = 256;  // pixels of a row processed together

// One definition's working values for a block.
struct DefinitionBlock {
  alignas(64) double in[4][kBlock];  // intensities of slots 1..4
  alignas(64) double azArg[kBlock];  // (I45 - I135) / (I0 - I90)
  alignas(64) double azAtan[kBlock]; // its arctangent where azRule != 0
  // 64-bit like the doubles, so the vector loop handles the same number of
  // lanes of every array.
  alignas(64) int64_t azRule[kBlock];   // 1, 2, 3: rules A, B, C (need the arctangent); 0 otherwise
  alignas(64) int64_t needEll[kBlock];  // the ellipticity angle needs the arctangent
};

// Destination of one definition's five values for a block: layer rows from x0.
struct Out {
  double* a0;
  double* ratio;
  double* ell;
  double* az;
  double* und;
};

// Intensities of `n` pixels of a 24-bit row (R, G, B bytes) under the
// definitions whose outputs are not null, reading the bytes once. Working in
// integers gives the same doubles as the per-pixel function: the largest byte
// converts exactly, and sums of bytes are exact in double precision.
void RowIntensities24(const uint8_t* __restrict p, int n, double* __restrict max, double* __restrict mean,
                      double* __restrict luma) {
  for (int j = 0; j < n; ++j) {
    const int r = p[3 * j], g = p[3 * j + 1], b = p[3 * j + 2];
    if (max) max[j] = std::max(std::max(r, g), b);
    if (mean) mean[j] = static_cast<double>(g + r + b) / 3;
    if (luma) luma[j] = IntensityOf(Definition::Luma, r, g, b);
  }
}

// Everything but the arctangents, for `n` pixels. Rules A to G of the azimuth
// exclude one another and rule H (four equal intensities) excludes them all, so
// only the fall-back rules I and J depend on the order of the tests.
PS_VECTOR_CLONES void Parameters(DefinitionBlock& b, int n, const Out& out) {
  // Local restrict pointers, so that the loop vectorizes without overlap checks.
  const double* __restrict in0 = b.in[0];
  const double* __restrict in45 = b.in[1];
  const double* __restrict in90 = b.in[2];
  const double* __restrict in135 = b.in[3];
  double* __restrict outA0 = out.a0;
  double* __restrict outRatio = out.ratio;
  double* __restrict outEll = out.ell;
  double* __restrict outAz = out.az;
  double* __restrict outUnd = out.und;
  int64_t* __restrict needEll = b.needEll;
  int64_t* __restrict azRule = b.azRule;
  double* __restrict azArg = b.azArg;
  for (int j = 0; j < n; ++j) {
    const double i0 = in0[j], i45 = in45[j], i90 = in90[j], i135 = in135[j];
    const double a0 = (i0 + i45 + i90 + i135) / 4;
    const double a2 = (i0 - i90) / 2;
    const double b2 = (i45 - i135) / 2;
    const float ampf = static_cast<float>(std::sqrt(b2 * b2 + a2 * a2));
    const double amp = ampf;
    // Conditions are combined with & and | rather than && and ||: every operand
    // is a plain comparison, and without short cuts the loop has no branches.
    const bool undefined = (static_cast<float>(a0) < ampf) | (amp + a0 == 0) | (a0 - amp < 0);
    const bool flat = (i0 == i45) & (i45 == i90) & (i90 == i135);  // rule H
    const bool fixed = undefined | flat;
    outA0[j] = a0;
    outUnd[j] = undefined ? kUndefinedMarker : 0.0;
    // Computed for every pixel and kept where defined: a conditional division
    // would be a branch.
    const double ratio = std::sqrt((a0 - amp) / (amp + a0));
    outRatio[j] = fixed ? 1.0 : ratio;
    outEll[j] = kCircularAngle;
    needEll[j] = !fixed;

    const bool gt0_90 = i0 > i90, gt90_0 = i90 > i0, eq0_90 = i0 == i90;
    const bool gt45_135 = i45 > i135, gt135_45 = i135 > i45, eq45_135 = i45 == i135;
    const bool ruleA = (gt0_90 & gt135_45 & (i0 >= i45) & (i135 >= i90)) | (gt0_90 & gt45_135 & (i0 >= i135) & (i45 >= i90));
    const bool ruleB = (i45 >= i0) & gt45_135 & gt90_0 & (i90 >= i135);
    const bool ruleC = gt90_0 & (i90 >= i45) & (i135 >= i0) & gt135_45;
    const bool ruleD = eq0_90 & (i45 >= i0) & gt45_135;
    const bool ruleE = eq0_90 & gt135_45 & (i135 >= i0);
    const bool ruleF = eq45_135 & gt0_90 & (i0 >= i45);
    const bool ruleG = eq45_135 & gt90_0 & (i90 >= i45);
    const bool zero = ruleF | flat | (i0 > i45);  // rules F, H, I
    double az = zero ? 0.0 : kPi / 4;             // J
    az = ruleG ? kPi / 2 : az;
    az = ruleE ? -kPi / 4 : az;
    az = ruleD ? kPi / 4 : az;
    outAz[j] = az;
    azRule[j] = static_cast<int64_t>(ruleA) | static_cast<int64_t>(ruleB) << 1 | static_cast<int64_t>(ruleC) * 3;
    azArg[j] = (i45 - i135) / (i0 - i90);
  }
}

inline uint64_t Bits(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

// Arctangent with memory of the last argument: flat areas of a photograph repeat it.
struct RecentAtan {
  uint64_t arg = Bits(std::nan(""));  // no ratio or quotient is ever NaN
  double value = 0;
  double operator()(double x) {
    if (Bits(x) != arg) {
      arg = Bits(x);
      value = std::atan(x);
    }
    return value;
  }
};

// The arctangents of one definition. `prev` is the definition computed just
// before for the same pixels (or null): a grey pixel has the same intensities
// under several definitions, and then its arctangents are taken over.
void Arctangents(DefinitionBlock& b, int n, const Out& o, const DefinitionBlock* prev, const Out* prevOut,
                 RecentAtan& ellAtan, RecentAtan& azAtan) {
  for (int j = 0; j < n; ++j) {
    if (b.needEll[j]) {
      if (prev && prev->needEll[j] && Bits(prevOut->ratio[j]) == Bits(o.ratio[j]))
        o.ell[j] = prevOut->ell[j];
      else
        o.ell[j] = ellAtan(o.ratio[j]);
    }
    if (const int rule = b.azRule[j]) {
      const double t = prev && prev->azRule[j] && Bits(prev->azArg[j]) == Bits(b.azArg[j]) ? prev->azAtan[j]
                                                                                            : azAtan(b.azArg[j]);
      b.azAtan[j] = t;
      o.az[j] = rule == 1 ? t / 2 : rule == 2 ? (t + kPi) / 2 : (t - kPi) / 2;
    }
  }
}

struct Job {
  const AppState* s = nullptr;
  unsigned definitions = 0;
  bool keepLayers = true;
  std::array<DefinitionSums, 3>* rowSums = nullptr;  // one entry per row, or null
  bool palette = false;
  double paletteIntensity[3][256] = {};  // intensity of each palette index per definition
  double* layer[3][5] = {};
};

struct Worker {
  DefinitionBlock block[3];
  alignas(64) double scratch[3][5][kBlock];  // a block's values when the layers are not kept
  RecentAtan ellAtan[3], azAtan[3];
};

void Intensities(const Job& job, const uint8_t* const rows[4], int x0, int n, DefinitionBlock* blocks) {
  const unsigned defs = job.definitions;
  for (int k = 0; k < 4; ++k) {
    const uint8_t* p = rows[k] + 3 * static_cast<size_t>(x0);
    if (job.palette) {
      for (int d = 0; d < 3; ++d) {
        if (!(defs >> d & 1)) continue;
        const double* t = job.paletteIntensity[d];
        double* out = blocks[d].in[k];
        for (int j = 0; j < n; ++j) out[j] = t[p[3 * j]];
      }
    } else {
      RowIntensities24(p, n, defs & 1 ? blocks[0].in[k] : nullptr, defs & 2 ? blocks[1].in[k] : nullptr,
                       defs & 4 ? blocks[2].in[k] : nullptr);
    }
  }
}

// Asks the kernel for the pages of rows [y0, y1) of every layer written in one
// call per layer instead of one page fault per 4 KiB.
void Populate(const Job& job, int y0, int y1) {
#ifdef MADV_POPULATE_WRITE
  const size_t w = static_cast<size_t>(job.s->SetWidth);
  for (int d = 0; d < 3; ++d) {
    if (!(job.definitions >> d & 1)) continue;
    for (int q = 0; q < 5; ++q) {
      const uintptr_t begin = reinterpret_cast<uintptr_t>(job.layer[d][q] + (y0 - 1) * w) & ~uintptr_t{4095};
      const uintptr_t end = reinterpret_cast<uintptr_t>(job.layer[d][q] + (y1 - 1) * w);
      if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
    }
  }
#else
  (void)job, (void)y0, (void)y1;
#endif
}

// Adds a block's values to its row's totals, in pixel order.
void AddToSums(DefinitionSums& sums, const Out& o, int n) {
  double a0 = sums.a0, ratio = sums.axisRatio, az = sums.azimuth;
  uint64_t undefined = sums.undefinedPixels;
  for (int j = 0; j < n; ++j) {
    a0 += o.a0[j];
    ratio += o.ratio[j];
    az += o.az[j];
    undefined += o.und[j] != 0;
  }
  sums = {a0, ratio, az, undefined};
}

// Rows [y0, y1) (1-based).
void ProcessRows(const Job& job, Worker& w, int y0, int y1) {
  const AppState& s = *job.s;
  const int width = s.SetWidth;
  const uint8_t* rows[4];
  for (int y = y0; y < y1; ++y) {
    for (int k = 0; k < 4; ++k) rows[k] = s.ImageStore.row(y, k + 1);
    const size_t rowStart = static_cast<size_t>(y - 1) * width;
    for (int x0 = 0; x0 < width; x0 += kBlock) {
      const int n = std::min(kBlock, width - x0);
      const size_t at = rowStart + x0;
      Intensities(job, rows, x0, n, w.block);
      int prevD = -1;
      Out prevOut{};
      for (int d = 0; d < 3; ++d) {
        if (!(job.definitions >> d & 1)) continue;
        double* const* l = job.layer[d];
        double(*t)[kBlock] = w.scratch[d];
        const Out o = job.keepLayers ? Out{l[0] + at, l[1] + at, l[2] + at, l[3] + at, l[4] + at}
                                     : Out{t[0], t[1], t[2], t[3], t[4]};
        DefinitionBlock& b = w.block[d];
        Parameters(b, n, o);
        Arctangents(b, n, o, prevD >= 0 ? &w.block[prevD] : nullptr, prevD >= 0 ? &prevOut : nullptr,
                    w.ellAtan[d], w.azAtan[d]);
        if (job.rowSums) AddToSums(job.rowSums[y - 1][d], o, n);
        prevD = d;
        prevOut = o;
      }
    }
  }
}

}  // namespace

ProcessOutcome ProcessSet(AppState& s, const ProcessOptions& options, const Progress& progress) {
  ProcessOutcome out;
  const unsigned defs = options.definitions & kAllDefinitions;
  ResultLayers& map = s.ResultMap;
  const bool keep = options.keepLayers;
  const bool add =
      keep && options.addToMap && !map.empty() && map.width() == s.SetWidth && map.height() == s.SetHeight;
  const unsigned toCompute = add ? defs & ~ProcessedDefinitions(map) : defs;

  // The map of a set of another size goes first, so that its memory counts as available.
  if (!keep || (!add && (map.width() != s.SetWidth || map.height() != s.SetHeight))) map = ResultLayers();
  out.neededBytes = keep ? map.bytesToAllocate(s.SetWidth, s.SetHeight, toCompute) : 0;
  if (out.neededBytes > 0) {
    out.availableBytes = options.availableMemory ? *options.availableMemory : AvailableMemoryBytes();
    if (out.availableBytes != 0 && out.neededBytes > out.availableBytes) {
      if (!add) map = ResultLayers();
      out.messages.push_back(NotEnoughMemoryMessage(s.SetWidth, s.SetHeight, out.neededBytes, out.availableBytes));
      return out;
    }
  }

  if (!SetIsProcessable(s)) {
    // Nothing to compute: the layers read 0.
    if (!keep) {
    } else if (add) {
      map.addGroups(toCompute);
    } else {
      map = ResultLayers();
      map.prepareForOverwrite(s.SetWidth, s.SetHeight, defs);
    }
    out.complete = true;
    return out;
  }
  // Every cell of the layers computed below is written, so reused blocks are not cleared first.
  if (add) map.addGroups(toCompute);
  else if (keep) map.prepareForOverwrite(s.SetWidth, s.SetHeight, defs);

  auto job = std::make_unique<Job>();
  job->s = &s;
  job->definitions = toCompute;
  job->palette = s.Header.BitsPerPixel == 8;
  job->keepLayers = keep;
  std::vector<std::array<DefinitionSums, 3>> rowSums;
  if (options.sumLayers || !keep) {
    rowSums.resize(static_cast<size_t>(s.SetHeight));
    job->rowSums = rowSums.data();
  }
  for (int d = 0; d < 3; ++d) {
    for (int i = 0; i < 256; ++i) {
      const auto& c = s.PaletteTable[i];
      job->paletteIntensity[d][i] = IntensityOf(kDefinitions[d], c[0], c[1], c[2]);
    }
    if (keep && toCompute >> d & 1)
      for (int q = 0; q < 5; ++q) job->layer[d][q] = map.mutableLayer(FirstLayer(kDefinitions[d]) + q);
  }

  const int h = s.SetHeight;
  int threads = options.threads;
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::min(threads, h);

  // Rows are handed out in small blocks; every pixel's values depend only on its
  // own inputs, so the map is the same whatever the order.
  constexpr int kRows = 16;
  std::atomic<int> next{1};
  std::atomic<long long> done{0};
  std::atomic<bool> stopped{false};
  auto work = [&](bool reports) {
    auto w = std::make_unique<Worker>();
    for (;;) {
      if (progress.cancelled()) {
        stopped = true;
        return;
      }
      const int y0 = next.fetch_add(kRows);
      if (y0 > h) return;
      const int y1 = std::min(h + 1, y0 + kRows);
      if (keep) Populate(*job, y0, y1);
      ProcessRows(*job, *w, y0, y1);
      const long long d = done += (y1 - y0);
      if (reports) progress(d, h);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work, false);
  work(true);
  for (auto& t : pool) t.join();
  progress(done.load(), h);
  out.complete = !stopped;
  if (out.complete)
    for (const auto& row : rowSums)
      for (int d = 0; d < 3; ++d) {
        DefinitionSums& t = out.sums[d];
        t.a0 += row[d].a0;
        t.axisRatio += row[d].axisRatio;
        t.azimuth += row[d].azimuth;
        t.undefinedPixels += row[d].undefinedPixels;
      }
  return out;
}

bool ЗаполнениеМассива(AppState& s, const Progress& progress, int threads) {
  ProcessOptions options;
  options.threads = threads;
  return ProcessSet(s, options, progress).complete;
}

}  // namespace ps
