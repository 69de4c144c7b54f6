#include "sphere/contour.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "polarization/polarization.h"

namespace ps {

namespace {

// Rows b = 1..8 of the disc mask.
constexpr int kDiscRows[8][17] = {
    {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 1, 1, 2, 2, 2, 2, 2, 1, 1, 0, 0, 0, 0},
    {0, 0, 0, 1, 2, 2, 2, 3, 3, 3, 2, 2, 2, 1, 0, 0, 0}, {0, 0, 1, 2, 2, 3, 3, 4, 4, 4, 3, 3, 2, 2, 1, 0, 0},
    {0, 1, 2, 2, 3, 4, 4, 5, 5, 5, 4, 4, 3, 2, 2, 1, 0}, {0, 1, 2, 3, 4, 4, 5, 6, 6, 6, 5, 4, 4, 3, 2, 1, 0},
    {1, 2, 2, 3, 4, 5, 6, 7, 7, 7, 6, 5, 4, 3, 2, 2, 1}, {1, 2, 3, 4, 5, 6, 7, 7, 7, 7, 7, 6, 5, 4, 3, 2, 1},
};

constexpr int kDiscCells = 221;
constexpr int kCoreCells = 21;
constexpr int kCore = 7;
constexpr int kPad = 8;  // masks reach 8 cells either way

// A mask cell in summation order (a outer, b inner) with its weight.
struct MaskCell {
  int a;
  int b;
  int value;
};

std::vector<MaskCell> NonZero(const std::array<std::array<int16_t, 17>, 17>& m) {
  std::vector<MaskCell> cells;
  for (int a = 1; a <= 17; ++a)
    for (int b = 1; b <= 17; ++b)
      if (m[a - 1][b - 1] != 0) cells.push_back({a, b, m[a - 1][b - 1]});
  return cells;
}

// The image with a margin of kPad cells on every side holding the nearest
// border value, so the masks read it without clamping.
struct Padded {
  int pw = 0;
  std::vector<double> data;
  const double* at(int row, int col) const { return data.data() + static_cast<size_t>(row) * pw + col; }
};

Padded Pad(const double* src, int w, int h) {
  Padded p;
  p.pw = w + 2 * kPad;
  const int ph = h + 2 * kPad;
  p.data.resize(static_cast<size_t>(p.pw) * ph);
  for (int r = 0; r < ph; ++r) {
    const int sy = std::clamp(r - kPad, 0, h - 1);
    const double* srow = src + static_cast<size_t>(sy) * w;
    double* drow = p.data.data() + static_cast<size_t>(r) * p.pw;
    for (int c = 0; c < kPad; ++c) drow[c] = srow[0];
    std::copy(srow, srow + w, drow + kPad);
    for (int c = 0; c < kPad; ++c) drow[kPad + w + c] = srow[w - 1];
  }
  return p;
}

// Sums, for each pixel of an output row, the source rows `src[0..count)` at that
// pixel, in that order: acc = ((0 + src0) + src1) + ... The pixels are taken in
// strips of eight kept in registers, so each pixel gets exactly the additions
// of the plain loop in the same order. Subtracting a value is done by adding it
// from the negated image, which is the same operation bit for bit.
template <int kStrip>
inline void SumStrip(const double* const* src, int count, int i0, double* out) {
  double acc[kStrip] = {};
  for (int c = 0; c < count; ++c) {
    const double* s = src[c] + i0;
    for (int k = 0; k < kStrip; ++k) acc[k] += s[k];
  }
  for (int k = 0; k < kStrip; ++k) out[k] = acc[k];
}

void SumRows(const double* const* src, int count, int n, double* out) {
  int i = 0;
  for (; i + 8 <= n; i += 8) SumStrip<8>(src, count, i, out + i);
  for (; i < n; ++i) SumStrip<1>(src, count, i, out + i);
}

// Runs fn(y) for rows 1..h on `threads` threads in interleaved blocks; stops
// early (returns false) when cancelled.
template <typename Fn>
bool ForRows(int h, int threads, const Progress& progress, long long& done, long long total, Fn fn) {
  std::atomic<int> next{1};
  std::atomic<bool> stop{false};
  std::atomic<long long> rowsDone{0};
  constexpr int kBlock = 8;
  auto worker = [&](bool reporter) {
    for (;;) {
      if (stop.load(std::memory_order_relaxed)) return;
      const int y0 = next.fetch_add(kBlock);
      if (y0 > h) return;
      const int y1 = std::min(h, y0 + kBlock - 1);
      for (int y = y0; y <= y1; ++y) fn(y);
      rowsDone.fetch_add(y1 - y0 + 1);
      if (progress.cancelled()) stop = true;
      if (reporter) progress(done + rowsDone.load(), total);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(worker, false);
  worker(true);
  for (auto& t : pool) t.join();
  done += h;
  return !stop.load();
}

int ThreadCount(int threads, int rows) {
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return std::max(1, std::min(threads, rows / 8 + 1));
}

}  // namespace

ContourMasks BuildContourMasks() {
  ContourMasks m;
  // Template 1: +1 half disc above the centre row, -1 below it.
  auto plus = [&](int b, int a0, int a1) {
    for (int a = a0; a <= a1; ++a) m.Edge1[a - 1][b - 1] = 1;
  };
  auto minus = [&](int b, int a0, int a1) {
    for (int a = a0; a <= a1; ++a) m.Edge1[a - 1][b - 1] = -1;
  };
  plus(6, 8, 10);
  plus(7, 7, 11);
  plus(8, 6, 12);
  minus(10, 6, 12);
  minus(11, 7, 11);
  minus(12, 8, 10);
  // Template 2 is template 1 turned by a quarter: the same with a and b swapped.
  for (int a = 0; a < 17; ++a)
    for (int b = 0; b < 17; ++b) m.Edge2[a][b] = m.Edge1[b][a];
  // Rows 9 and 10 repeat row 8; rows 11..17 mirror rows 7..1.
  for (int b = 1; b <= 17; ++b) {
    const int row = b <= 8 ? b : b <= 10 ? 8 : 18 - b;
    for (int a = 1; a <= 17; ++a) m.Disc[a - 1][b - 1] = static_cast<int16_t>(kDiscRows[row - 1][a - 1]);
  }
  return m;
}

void ContourResponseReference(const double* V, int IW, int IH, bool autocontrast, double* layer19, double* layer20,
                              double* layer21) {
  if (IW <= 0 || IH <= 0) return;
  const ContourMasks m = BuildContourMasks();
  auto idx = [&](int x, int y) { return static_cast<size_t>(y - 1) * IW + (x - 1); };
  auto at = [&](const double* L, int x, int y) {
    return L[idx(std::clamp(x, 1, IW), std::clamp(y, 1, IH))];
  };
  if (autocontrast) {
    double T = 0;
    for (int x = 1; x <= IW; ++x)
      for (int y = 1; y <= IH; ++y) {
        T = T + V[idx(x, y)];
        double s = 0;
        for (int a = 1; a <= 17; ++a)
          for (int b = 1; b <= 17; ++b)
            if (m.Disc[a - 1][b - 1] != 0) s = s + at(V, x + a - 9, y + b - 9);
        layer20[idx(x, y)] = s / kDiscCells;
      }
    const double M = T / IW / IH;
    for (int x = 1; x <= IW; ++x)
      for (int y = 1; y <= IH; ++y) layer20[idx(x, y)] = V[idx(x, y)] - layer20[idx(x, y)] + M;
  }
  for (int x = 1; x <= IW; ++x)
    for (int y = 1; y <= IH; ++y) {
      double g1 = 0, g2 = 0;
      for (int a = 1; a <= 17; ++a)
        for (int b = 1; b <= 17; ++b) {
          const double v = at(V, x + a - 9, y + b - 9);
          g1 = g1 + m.Edge1[a - 1][b - 1] * v;
          g2 = g2 + m.Edge2[a - 1][b - 1] * v;
        }
      layer21[idx(x, y)] = std::fabs(g1) + std::fabs(g2);
    }
  for (int x = 1; x <= IW; ++x)
    for (int y = 1; y <= IH; ++y) {
      double S = 0, C = 0;
      for (int a = 1; a <= 17; ++a)
        for (int b = 1; b <= 17; ++b) {
          const int d = m.Disc[a - 1][b - 1];
          if (d == 0) continue;
          const double v = at(layer21, x + a - 9, y + b - 9);
          S = S + v;
          if (d == kCore) C = C + v;
        }
      layer19[idx(x, y)] = S / kDiscCells - C / kCoreCells;
    }
}

bool ContourResponse(const double* V, int IW, int IH, bool autocontrast, double* layer19, double* layer20,
                     double* layer21, const Progress& progress, int threads) {
  if (IW <= 0 || IH <= 0) return true;
  const ContourMasks m = BuildContourMasks();
  const std::vector<MaskCell> edge1 = NonZero(m.Edge1);
  const std::vector<MaskCell> edge2 = NonZero(m.Edge2);
  const std::vector<MaskCell> disc = NonZero(m.Disc);
  threads = ThreadCount(threads, IH);
  const long long total = static_cast<long long>(IH) * (autocontrast ? 3 : 2);
  long long done = 0;
  const size_t W = static_cast<size_t>(IW);
  // Source row of output row y (1-based) for mask row b, and the column offset
  // of mask column a, in the padded image.
  auto srcRow = [](int y, int b) { return y + b - 2; };

  // Row pointers of the mask cells for output row y, in summation order.
  auto pointers = [&](const std::vector<MaskCell>& cells, const Padded& plus, const Padded* minus, int y,
                      std::vector<const double*>& out) {
    out.clear();
    for (const MaskCell& c : cells)
      out.push_back((c.value < 0 && minus ? *minus : plus).at(srcRow(y, c.b), c.a - 1));
  };

  // The padded image and its negation live only for the first two passes: they
  // are released before the last pass pads the gradient layer, so at most two
  // padded copies exist at a time.
  bool ok = true;
  {
    const Padded pv = Pad(V, IW, IH);
    if (autocontrast) {
      // The image total in the order of the plain loop (column by column).
      double T = 0;
      for (int x = 0; x < IW; ++x)
        for (int y = 0; y < IH; ++y) T = T + V[static_cast<size_t>(y) * W + x];
      const double M = T / IW / IH;
      const bool averaged = ForRows(IH, threads, progress, done, total, [&](int y) {
        thread_local std::vector<const double*> src;
        thread_local std::vector<double> acc;
        acc.resize(W);
        pointers(disc, pv, nullptr, y, src);
        SumRows(src.data(), static_cast<int>(src.size()), IW, acc.data());
        double* out = layer20 + static_cast<size_t>(y - 1) * W;
        const double* v = V + static_cast<size_t>(y - 1) * W;
        for (size_t i = 0; i < W; ++i) out[i] = v[i] - acc[i] / kDiscCells + M;
      });
      if (!averaged) return false;
    }

    // The negated image serves the -1 cells of the templates.
    Padded nv = pv;
    for (double& x : nv.data) x = -x;
    ok = ForRows(IH, threads, progress, done, total, [&](int y) {
      thread_local std::vector<const double*> src;
      thread_local std::vector<double> g1, g2;
      g1.resize(W);
      g2.resize(W);
      pointers(edge1, pv, &nv, y, src);
      SumRows(src.data(), static_cast<int>(src.size()), IW, g1.data());
      pointers(edge2, pv, &nv, y, src);
      SumRows(src.data(), static_cast<int>(src.size()), IW, g2.data());
      double* out = layer21 + static_cast<size_t>(y - 1) * W;
      for (size_t i = 0; i < W; ++i) out[i] = std::fabs(g1[i]) + std::fabs(g2[i]);
    });
  }
  if (!ok) return false;

  const Padded pe = Pad(layer21, IW, IH);
  std::vector<MaskCell> core;
  for (const MaskCell& c : disc)
    if (c.value == kCore) core.push_back(c);
  ok = ForRows(IH, threads, progress, done, total, [&](int y) {
    thread_local std::vector<const double*> src;
    thread_local std::vector<double> s, c;
    s.resize(W);
    c.resize(W);
    pointers(disc, pe, nullptr, y, src);
    SumRows(src.data(), static_cast<int>(src.size()), IW, s.data());
    pointers(core, pe, nullptr, y, src);
    SumRows(src.data(), static_cast<int>(src.size()), IW, c.data());
    double* out = layer19 + static_cast<size_t>(y - 1) * W;
    for (size_t i = 0; i < W; ++i) out[i] = s[i] / kDiscCells - c[i] / kCoreCells;
  });
  return ok;
}

bool ContourResponse(AppState& state, bool autocontrast, const Progress& progress) {
  ResultLayers& map = state.ResultMap;
  if (map.empty()) return false;
  const int layer = FirstLayer(DefinitionForMode(state.IntensityMode));
  const double* V = map.layer(layer);
  if (!V) return false;
  // The map's own size bounds every read and write, whatever file was opened last.
  const int w = map.width();
  const int h = map.height();
  double* l19 = map.mutableLayer(19);
  double* l21 = map.mutableLayer(21);
  double* l20 = autocontrast ? map.mutableLayer(20) : nullptr;
  return ContourResponse(V, w, h, autocontrast, l19, l20, l21, progress);
}

ContourPointStyle ContourPointColour(const ResultLayers& map, int x, int y, bool autocontrast, bool withImage) {
  ContourPointStyle style;
  const int W = map.width();
  const int H = map.height();
  const double* r19 = map.empty() ? nullptr : map.layer(19);
  if (!r19 || x < 1 || x > W || y < 1 || y > H) return style;
  auto at = [&](int i, int j) { return r19[static_cast<size_t>(j - 1) * W + (i - 1)]; };
  const double r = at(x, y);
  if (r > 0) return style;
  const double mag = std::fabs(r);
  if (x > 1 && x < W && y > 1 && y < H) {
    int smaller = 0;
    for (int i = x - 1; i <= x + 1; ++i)
      for (int j = y - 1; j <= y + 1; ++j)
        if (std::fabs(at(i, j)) < mag) ++smaller;
    style.contourPoint = smaller > 5 && !autocontrast;
  }
  auto level = [](double v) { return static_cast<int>(std::clamp(v, 0.0, 255.0)); };
  const double* l1 = map.layer(1);
  const double intensity = l1 ? l1[static_cast<size_t>(y - 1) * W + (x - 1)] : 0.0;
  if (style.contourPoint) {
    style.drawn = true;
    if (withImage) {
      const int v = level(std::trunc(mag));
      const int g = v < 220 ? v + 36 : 255;
      style.colour = SphereRgb(255 - g, 255 - g, 255 - v);
    } else {
      // Strong crests come out dark red over any background, weak ones light.
      const double v = std::trunc(mag + intensity);
      const double g = std::floor(v / 4) + std::floor(std::trunc(3 * intensity) / 4);
      style.colour = SphereRgb(level(255 - g), level(255 - v), level(255 - v));
    }
  } else if (withImage) {
    // Other cells: the intensity image, darkened by the response.
    style.drawn = true;
    const int grey = level(std::trunc(intensity) - std::trunc(mag));
    style.colour = SphereRgb(grey, grey, grey);
  }
  return style;
}

}  // namespace ps
