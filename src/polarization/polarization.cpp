#include "polarization/polarization.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ps {

int FirstLayer(Definition d) {
  switch (d) {
    case Definition::Mean: return 7;
    case Definition::Luma: return 13;
    default: return 1;
  }
}

Definition DefinitionForMode(int32_t mode) {
  if (mode == kModeMean) return Definition::Mean;
  if (mode == kModeLuma) return Definition::Luma;
  return Definition::Max;
}

int32_t ModeForDefinition(Definition d) {
  switch (d) {
    case Definition::Mean: return kModeMean;
    case Definition::Luma: return kModeLuma;
    default: return kModeMax;
  }
}

const char* DefinitionName(Definition d) {
  switch (d) {
    case Definition::Mean: return "mean";
    case Definition::Luma: return "luma";
    default: return "max";
  }
}

bool ParseDefinition(const std::string& name, Definition* out) {
  if (name == "max") *out = Definition::Max;
  else if (name == "mean") *out = Definition::Mean;
  else if (name == "luma") *out = Definition::Luma;
  else return false;
  return true;
}

double IntensityOf(Definition d, double r, double g, double b) {
  switch (d) {
    case Definition::Mean: return (g + r + b) / 3;
    case Definition::Luma: return 0.587 * g + 0.299 * r + 0.114 * b;
    default: return std::max(std::max(r, g), b);
  }
}

double Intensity(const AppState& s, Definition d, int x, int y, int slot) {
  if (s.Header.BitsPerPixel == 8) {
    const auto& p = s.PaletteTable[s.ImageStore.at(x, y, 0, slot)];
    return IntensityOf(d, p[0], p[1], p[2]);
  }
  return IntensityOf(d, s.ImageStore.at(x, y, 0, slot), s.ImageStore.at(x, y, 1, slot),
                     s.ImageStore.at(x, y, 2, slot));
}

PixelValues Вычисление_a0_a2_b2(const std::array<double, 4>& in) {
  const double i0 = in[0], i45 = in[1], i90 = in[2], i135 = in[3];
  PixelValues v;
  v.A0 = (i0 + i45 + i90 + i135) / 4;
  v.A2 = (i0 - i90) / 2;
  v.B2 = (i45 - i135) / 2;
  v.Amplitude = static_cast<float>(std::sqrt(v.B2 * v.B2 + v.A2 * v.A2));
  const double amp = v.Amplitude;

  // Ellipticity. The first test compares in single precision; a pixel whose
  // A0 - Amplitude is still negative in double precision is undefined as well.
  const float a = static_cast<float>(v.A0);
  if (a < v.Amplitude || amp + v.A0 == 0 || v.A0 - amp < 0) {
    v.UndefinedMarker = kUndefinedMarker;
    v.AxisRatio = 1.0;
    v.EllipticityAngle = kCircularAngle;
  } else {
    v.AxisRatio = std::sqrt((v.A0 - amp) / (amp + v.A0));
    v.EllipticityAngle = std::atan(v.AxisRatio);
    v.UndefinedMarker = 0;
  }

  // Azimuth: the first rule whose condition holds.
  auto atanRatio = [&] { return std::atan((i45 - i135) / (i0 - i90)); };
  if ((i0 > i90 && i135 > i45 && i0 >= i45 && i135 >= i90) || (i0 > i90 && i45 > i135 && i0 >= i135 && i45 >= i90)) {
    v.Azimuth = atanRatio() / 2;  // A
  } else if (i45 >= i0 && i45 > i135 && i90 > i0 && i90 >= i135) {
    v.Azimuth = (atanRatio() + kPi) / 2;  // B
  } else if (i90 > i0 && i90 >= i45 && i135 >= i0 && i135 > i45) {
    v.Azimuth = (atanRatio() - kPi) / 2;  // C
  } else if (i0 == i90 && i45 >= i0 && i45 > i135) {
    v.Azimuth = kPi / 4;  // D
  } else if (i0 == i90 && i135 > i45 && i135 >= i0) {
    v.Azimuth = -kPi / 4;  // E
  } else if (i45 == i135 && i0 > i90 && i0 >= i45) {
    v.Azimuth = 0;  // F
  } else if (i45 == i135 && i90 > i0 && i90 >= i45) {
    v.Azimuth = kPi / 2;  // G
  } else if (i0 == i45 && i45 == i90 && i90 == i135) {
    v.Azimuth = 0;  // H: unpolarized
    v.AxisRatio = 1.0;
    v.EllipticityAngle = kCircularAngle;
  } else if (i0 > i45) {
    v.Azimuth = 0;  // I
  } else {
    v.Azimuth = kPi / 4;  // J
  }
  return v;
}

PixelValues ОпределениеИнтенсивностей(const AppState& s, int x, int y) {
  const ResultLayers& m = s.ResultMap;
  if (m.empty()) throw std::out_of_range("layer lookup before the result map exists");
  const int g = FirstLayer(DefinitionForMode(s.IntensityMode));
  PixelValues v;
  v.A0 = m.at(x, y, g);
  v.AxisRatio = m.at(x, y, g + 1);
  v.EllipticityAngle = m.at(x, y, g + 2);
  v.Azimuth = m.at(x, y, g + 3);
  v.UndefinedMarker = m.at(x, y, g + 4);
  return v;
}

void ОпределениеИнтенсивностей(AppState& s, int x, int y) {
  const PixelValues v = ОпределениеИнтенсивностей(static_cast<const AppState&>(s), x, y);
  s.Current.A0 = v.A0;
  s.Current.AxisRatio = v.AxisRatio;
  s.Current.EllipticityAngle = v.EllipticityAngle;
  s.Current.Azimuth = v.Azimuth;
  s.Current.UndefinedMarker = v.UndefinedMarker;
}

namespace {

constexpr Definition kDefinitions[3] = {Definition::Max, Definition::Mean, Definition::Luma};

bool SetIsProcessable(const AppState& s) {
  return s.Header.FileSignature == "BM" && (s.Header.BitsPerPixel == 8 || s.Header.BitsPerPixel == 24) &&
         !s.ImageStore.empty() && s.ImageStore.width() == s.SetWidth && s.ImageStore.height() == s.SetHeight;
}

struct LayerPointers {
  double* p[3][5];
};

LayerPointers PointersOf(ResultLayers& m) {
  LayerPointers lp{};
  for (int d = 0; d < 3; ++d)
    for (int k = 0; k < 5; ++k) lp.p[d][k] = m.mutableLayer(FirstLayer(kDefinitions[d]) + k);
  return lp;
}

// Photographs repeat the same four intensities often: a grey pixel has the same
// intensities under the max and mean definitions, and flat, dark or saturated
// areas repeat them from one pixel to the next. The parameters are a pure
// function of the four intensities, so a repeated quadruple reuses the result
// just computed, which is bit-identical to a fresh computation. Only the
// previous pixel of each definition and the previous definition of the same
// pixel are compared: a larger table costs more in cache misses than it saves.
class RecentParameters {
 public:
  const PixelValues& get(int d, const std::array<double, 4>& in) {
    if (d > 0 && Same(in, last_[d - 1].in)) {
      last_[d] = last_[d - 1];
    } else if (!last_[d].valid || !Same(in, last_[d].in)) {
      last_[d].in = in;
      last_[d].out = Вычисление_a0_a2_b2(in);
      last_[d].valid = true;
    }
    return last_[d].out;
  }

 private:
  static bool Same(const std::array<double, 4>& a, const std::array<double, 4>& b) {
    return std::memcmp(a.data(), b.data(), sizeof(double) * 4) == 0;
  }
  struct Entry {
    std::array<double, 4> in{};
    PixelValues out;
    bool valid = false;
  };
  Entry last_[3];
};

// Processes rows [y0, y1) (1-based, exclusive end). Results are gathered for a
// strip of pixels in a small buffer and then copied layer by layer, so memory
// sees fifteen short sequential copies instead of fifteen interleaved streams.
void ProcessRows(const AppState& s, const LayerPointers& lp, int y0, int y1, RecentParameters& recent) {
  constexpr int kStrip = 64;
  const int w = s.SetWidth;
  const bool palette = s.Header.BitsPerPixel == 8;
  const uint8_t* rows[4];
  double strip[3][5][kStrip];
  for (int y = y0; y < y1; ++y) {
    for (int k = 0; k < 4; ++k) rows[k] = s.ImageStore.row(y, k + 1);
    const size_t rowStart = static_cast<size_t>(y - 1) * w;
    for (int x0 = 0; x0 < w; x0 += kStrip) {
      const int n = std::min(kStrip, w - x0);
      for (int j = 0; j < n; ++j) {
        const int x = x0 + j;
        double r[4], g[4], b[4];
        for (int k = 0; k < 4; ++k) {
          const uint8_t* px = rows[k] + 3 * x;
          if (palette) {
            const auto& c = s.PaletteTable[px[0]];
            r[k] = c[0], g[k] = c[1], b[k] = c[2];
          } else {
            r[k] = px[0], g[k] = px[1], b[k] = px[2];
          }
        }
        for (int d = 0; d < 3; ++d) {
          std::array<double, 4> in;
          for (int k = 0; k < 4; ++k) in[k] = IntensityOf(kDefinitions[d], r[k], g[k], b[k]);
          const PixelValues& v = recent.get(d, in);
          strip[d][0][j] = v.A0;
          strip[d][1][j] = v.AxisRatio;
          strip[d][2][j] = v.EllipticityAngle;
          strip[d][3][j] = v.Azimuth;
          strip[d][4][j] = v.UndefinedMarker;
        }
      }
      for (int d = 0; d < 3; ++d)
        for (int q = 0; q < 5; ++q) std::memcpy(lp.p[d][q] + rowStart + x0, strip[d][q], sizeof(double) * n);
    }
  }
}

}  // namespace

bool ЗаполнениеМассива(AppState& s, const Progress& progress, int threads) {
  if (!SetIsProcessable(s)) {
    s.createResultMap();
    return true;
  }
  // Every cell of the fifteen result layers is written below, so the buffers of
  // the previous processing are reused instead of being zeroed first.
  s.ResultMap.prepareForOverwrite(s.SetWidth, s.SetHeight);
  const LayerPointers lp = PointersOf(s.ResultMap);
  const int h = s.SetHeight;
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::min(threads, h);

  // Rows are handed out in small blocks; every pixel's values depend only on its
  // own inputs, so the map is the same whatever the order.
  constexpr int kBlock = 16;
  std::atomic<int> next{1};
  std::atomic<long long> done{0};
  std::atomic<bool> stopped{false};
  auto worker = [&](bool reports) {
    RecentParameters recent;
    for (;;) {
      if (progress.cancelled()) {
        stopped = true;
        return;
      }
      const int y0 = next.fetch_add(kBlock);
      if (y0 > h) return;
      const int y1 = std::min(h + 1, y0 + kBlock);
      ProcessRows(s, lp, y0, y1, recent);
      const long long d = done += (y1 - y0);
      if (reports) progress(d, h);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(worker, false);
  worker(true);
  for (auto& t : pool) t.join();
  progress(done.load(), h);
  return !stopped;
}

void ЗаполнениеМассиваReference(AppState& s) {
  s.createResultMap();
  for (int x = 1; x <= s.SetWidth; ++x) {
    for (int y = 1; y <= s.SetHeight; ++y) {
      if (!SetIsProcessable(s)) continue;
      for (Definition d : kDefinitions) {
        std::array<double, 4> in;
        for (int k = 1; k <= 4; ++k) in[k - 1] = Intensity(s, d, x, y, k);
        const PixelValues v = Вычисление_a0_a2_b2(in);
        const int g = FirstLayer(d);
        s.ResultMap.set(x, y, g, v.A0);
        s.ResultMap.set(x, y, g + 1, v.AxisRatio);
        s.ResultMap.set(x, y, g + 2, v.EllipticityAngle);
        s.ResultMap.set(x, y, g + 3, v.Azimuth);
        s.ResultMap.set(x, y, g + 4, v.UndefinedMarker);
      }
    }
  }
}

}  // namespace ps
