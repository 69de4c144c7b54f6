#include "learning/network.h"

// The fast and the plain evaluation must round every product before it is
// added (no fused multiply-add), whatever target flags the build uses, so that
// they agree bit for bit.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <thread>

#include "learning/network_impl.h"
#include "polarization/polarization.h"
#include "sphere/azimuth_smoothing.h"

namespace ps {

namespace {

const Mask7 kApertureMask = {{
    {0.105f, 0.197f, 0.287f, 0.325f, 0.287f, 0.197f, 0.105f},
    {0.197f, 0.368f, 1.0f, 1.0f, 1.0f, 0.368f, 0.197f},
    {0.287f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.287f},
    {0.325f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.325f},
    {0.287f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.287f},
    {0.197f, 0.368f, 1.0f, 1.0f, 1.0f, 0.368f, 0.197f},
    {0.105f, 0.197f, 0.287f, 0.325f, 0.287f, 0.197f, 0.105f},
}};

// Floor, as the bounding-square loops use it.
int IntOf(double v) { return static_cast<int>(std::floor(v)); }

// The transfer function; every evaluation path calls this one so that they agree bit for bit.
inline double Transfer(double steepness, double s) { return 1.0 / (1.0 + std::exp(-2.0 * steepness * s)); }

inline double AzimuthTerm(double c, double s, double overall) {
  return c == 0 ? overall * kPi / 2 : std::atan(s / c) * overall;
}

}  // namespace

const Mask7& ApertureMask() { return kApertureMask; }

Template7& NetworkParameters::templ(int t) {
  switch (t) {
    case 1: return ВесИнтен;
    case 2: return ВесЭллип;
    case 3: return ВесАзим;
    case 4: return ВесОС;
  }
  throw std::out_of_range("template index");
}
const Template7& NetworkParameters::templ(int t) const { return const_cast<NetworkParameters*>(this)->templ(t); }

std::optional<Message> CheckTrainingCircle(const SphereCircle& c, int width, int height) {
  if (!(c.CircleRadius > 0) || !std::isfinite(c.CircleRadius) || !std::isfinite(c.CircleCentreX) ||
      !std::isfinite(c.CircleCentreY)) {
    return Message{std::string("Окружность шара не найдена.") + kCrLf +
                       "Обведите шар (щелчок по его контуру или три щелчка по краю)," + kCrLf +
                       "а потом запускайте обучение.",
                   "Нет окружности шара", MessageIcon::Exclamation};
  }
  const double cx = c.CircleCentreX, cy = c.CircleCentreY, r = c.CircleRadius;
  if (cx - r - 4 < 1 || cx + r + 4 > width || cy - r - 4 < 1 || cy + r + 4 > height) {
    return Message{std::string("Шар слишком близко к краю изображения:") + kCrLf +
                       "окрестность 7 x 7 точек у края шара выходит за изображение " + std::to_string(width) +
                       " x " + std::to_string(height) + "." + kCrLf +
                       "Между окружностью и краем нужно не меньше 4 точек.",
                   "Обучение невозможно", MessageIcon::Exclamation};
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Two-thread phase runner: the helper thread sleeps between evaluations and
// joins the caller for the five phases of one evaluation, with a barrier after
// each phase (every phase reads the outputs of the previous one).

struct PhaseTeam {
  explicit PhaseTeam(CellNetwork::Impl* owner) : impl(owner), helper([this] { loop(); }) {}
  ~PhaseTeam() {
    stop.store(true);
    generation.fetch_add(1);
    generation.notify_all();
    helper.join();
  }
  void evaluate(const NetworkParameters* p) {
    params = p;
    generation.fetch_add(1, std::memory_order_release);
    generation.notify_one();
    RunPhases(*impl, *params, 0, &barrier, &mainSense);
    // The helper arrives once more after its last phase, so the caller knows it is done.
    barrier.wait(mainSense);
  }
  void loop() {
    uint32_t seen = 0;
    for (;;) {
      uint32_t g;
      int spins = 0;
      while ((g = generation.load(std::memory_order_acquire)) == seen) {
        if (++spins < 2000) {
          std::this_thread::yield();
        } else {
          generation.wait(seen, std::memory_order_acquire);
        }
      }
      seen = g;
      if (stop.load()) return;
      RunPhases(*impl, *params, 1, &barrier, &helperSense);
      barrier.wait(helperSense);
    }
  }

  CellNetwork::Impl* impl;
  const NetworkParameters* params = nullptr;
  TwoThreadBarrier barrier;
  int mainSense = 0, helperSense = 0;
  std::atomic<uint32_t> generation{0};
  std::atomic<bool> stop{false};
  std::thread helper;
};

CellNetwork::Impl::~Impl() = default;

// ---------------------------------------------------------------------------

CellNetwork::CellNetwork() : impl_(std::make_unique<Impl>()) {}
CellNetwork::~CellNetwork() = default;
CellNetwork::CellNetwork(CellNetwork&&) noexcept = default;
CellNetwork& CellNetwork::operator=(CellNetwork&&) noexcept = default;

int CellNetwork::width() const { return impl_->W; }
int CellNetwork::height() const { return impl_->H; }
int CellNetwork::insideCount() const { return static_cast<int>(impl_->cells.size()); }
const SphereCircle& CellNetwork::circle() const { return impl_->circle; }
const SampleTable& CellNetwork::samples() const { return impl_->samples; }

const CellRecord& CellNetwork::cell(int x, int y) const {
  static const CellRecord kEmpty{};
  const Impl& m = *impl_;
  const int g = m.gridIndex(x, y);
  if (g < 0) return kEmpty;
  m.syncRecords();
  return m.records[g];
}

double CellNetwork::output(int x, int y) const {
  const int g = impl_->gridIndex(x, y);
  return g < 0 ? 0.0 : impl_->outputs()[g];
}

void CellNetwork::setThreads(int threads) {
  Impl& m = *impl_;
  if (threads <= 0) threads = std::min(2u, std::max(1u, std::thread::hardware_concurrency()));
  threads = std::min(threads, 2);
  if (m.cells.size() < 64) threads = 1;  // not worth a second thread
  m.threadCount = threads;
  m.team.reset();
  if (threads == 2) m.team = std::make_unique<PhaseTeam>(impl_.get());
  m.partition();
}

int CellNetwork::threads() const { return impl_->threadCount; }

// ---------------------------------------------------------------------------

void CellNetwork::Impl::syncRecords() const {
  if (!recordsDirty) return;
  for (size_t c = 0; c < cells.size(); ++c) {
    CellRecord& r = records[cells[c]];
    r.TotalSum = totalSum[c];
    r.StaticSum = staticSum[c];
    r.FirstFeedbackShare = firstShare[c];
    r.AbsoluteError = absError[c];
    r.RelativeError = relError[c];
  }
  recordsDirty = false;
}

void CellNetwork::Impl::partition() {
  for (int t = 0; t < 2; ++t) {
    parts[t].clear();
    rimGroups[t].clear();
  }
  const size_t n = cells.size();
  const size_t half = threadCount == 2 ? (n + 1) / 2 : n;
  auto addRim = [&](int t, const Segment& s) {
    auto& groups = rimGroups[t];
    if (groups.empty() || groups.back().count == kLanes) groups.emplace_back();
    RimGroup& g = groups.back();
    const int k = g.count++;
    g.cell[k] = s.cell;
    g.grid[k] = s.grid;
    for (int d = 0; d < 49; ++d) {
      g.src[d][k] = rimSources[static_cast<size_t>(s.rimIndex) * 49 + d];
      const int32_t q = rimNeighbours[static_cast<size_t>(s.rimIndex) * 49 + d];
      g.nb[d][k] = q >= 0 ? q : s.grid;
      g.mask[d][k] = q >= 0 ? -1 : 0;
    }
  };
  // Segments in compact order: a run of regular cells, or one rim cell.
  for (const Segment& s : segments) {
    const int t = static_cast<size_t>(s.cell) < half ? 0 : 1;
    if (s.rim) {
      addRim(t, s);
    } else if (threadCount == 1 || static_cast<size_t>(s.cell) + s.len <= half ||
               static_cast<size_t>(s.cell) >= half) {
      parts[t].push_back(s);
    } else {  // a regular run across the boundary: split it
      const int first = static_cast<int>(half) - s.cell;
      parts[0].push_back(Segment{s.grid, s.cell, first, false});
      parts[1].push_back(Segment{s.grid + first, s.cell + first, s.len - first, false});
    }
  }
  // Unused lanes repeat lane 0, so every lane reads valid cells.
  for (auto& groups : rimGroups)
    for (RimGroup& g : groups)
      for (int k = g.count; k < kLanes; ++k) {
        g.cell[k] = g.cell[0];
        g.grid[k] = g.grid[0];
        for (int d = 0; d < 49; ++d) {
          g.src[d][k] = g.src[d][0];
          g.nb[d][k] = g.nb[d][0];
          g.mask[d][k] = g.mask[d][0];
        }
      }
}

// ---------------------------------------------------------------------------

namespace {

// Reads the inputs of every inside cell into `m` (records, sample rows), with
// the lookups and summation order of the preparation.
void FillInputs(const AppState& state, DirectionConvention convention, CellNetwork::Impl& m, bool divideIntensity) {
  const SphereCircle& c = state.Circle;
  const int W = m.W, H = m.H;
  const auto& wk = state.Detection.WeightKernel;
  for (int x = 1; x <= W; ++x) {
    for (int y = 1; y <= H; ++y) {
      const int g = m.gridIndex(x, y);
      if (g < 0 || !m.insideFlag[g]) continue;
      CellRecord& r = m.records[g];
      const PixelValues own = ОпределениеИнтенсивностей(state, x, y);
      double smoothE = 0, neighbourA0 = 0;
      AzimuthSum smoothA(own.Azimuth);  // across the azimuth's wrap by pi
      for (int i = x - 2; i <= x + 2; ++i) {
        for (int j = y - 2; j <= y + 2; ++j) {
          if (i < 1 || i > W || j < 1 || j > H) continue;
          const PixelValues v = ОпределениеИнтенсивностей(state, i, j);
          const double w = wk[i - x + 2][j - y + 2];
          smoothE = smoothE + w * v.AxisRatio / 100;
          smoothA.add(w, v.Azimuth);
          neighbourA0 = v.A0;
        }
      }
      const double scale = divideIntensity ? 255.0 : 1.0;
      r.Intensity = own.A0 / scale;
      r.AxisRatio = own.AxisRatio;
      r.Azimuth = own.Azimuth;
      r.NeighbourIntensity = neighbourA0 / scale;
      r.SmoothedAxisRatio = smoothE;
      r.SmoothedAzimuth = smoothA.value();
      r.Inside = 1;
      r.SinAzimuth = std::sin(r.Azimuth);
      r.CosAzimuth = std::cos(r.Azimuth);

      // Geometry and target.
      const double rho = std::sqrt((x - c.CircleCentreX) * (x - c.CircleCentreX) +
                                   (y - c.CircleCentreY) * (y - c.CircleCentreY)) /
                         c.CircleRadius;
      const double theta = std::fabs(rho) < 1 ? std::atan(rho / std::sqrt(1 - rho * rho)) : kPi / 2;
      const float thetaSingle = static_cast<float>(theta);
      r.Inclination = thetaSingle;
      r.Target = 1 - std::cos(static_cast<double>(thetaSingle));

      // Direction from the cell to the centre.
      const double dx = c.CircleCentreX - x, dy = c.CircleCentreY - y;
      double phi;
      if (convention == DirectionConvention::FullTurn) {
        if (dx > 0) {
          phi = dy >= 0 ? std::atan(dy / dx) : std::atan(dy / dx) + kTwoPi;
        } else if (dx < 0) {
          phi = std::atan(dy / dx) + kPi;
        } else {
          phi = dy > 0 ? kPi / 2 : kUndefinedMarker / 2;
        }
      } else {
        phi = dx != 0 ? std::atan(dy / dx) : kPi / 2;
      }
      const float phiSingle = static_cast<float>(phi);
      r.Direction = phiSingle;

      SampleRow row{};
      row[0] = static_cast<float>(r.Intensity);
      row[1] = static_cast<float>(r.AxisRatio);
      row[2] = static_cast<float>(r.Azimuth);
      row[3] = static_cast<float>(r.NeighbourIntensity);
      row[4] = static_cast<float>(r.SmoothedAxisRatio);
      row[5] = static_cast<float>(r.SmoothedAzimuth);
      row[6] = thetaSingle;
      row[7] = phiSingle;
      row[8] = static_cast<float>(x);
      row[9] = static_cast<float>(y);
      m.samples.push_back(row);
    }
  }
}

// Sizes the grid (the circle's bounding square plus the 3 cells the templates
// reach, clipped to the image) and sets the inside flags.
void LayOutGrid(const AppState& state, CellNetwork::Impl& m) {
  const SphereCircle& c = state.Circle;
  m.W = state.ResultMap.width();
  m.H = state.ResultMap.height();
  m.circle = c;
  int x0 = 1, x1 = 0, y0 = 1, y1 = 0;
  if (std::isfinite(c.CircleCentreX) && std::isfinite(c.CircleCentreY) && std::isfinite(c.CircleRadius) &&
      c.CircleRadius >= 0 && m.W > 0 && m.H > 0) {
    const double r = c.CircleRadius;
    x0 = std::max(1.0, std::floor(c.CircleCentreX - r - 1) - 3) ;
    x1 = std::min<double>(m.W, std::floor(c.CircleCentreX + r + 1) + 3);
    y0 = std::max(1.0, std::floor(c.CircleCentreY - r - 1) - 3);
    y1 = std::min<double>(m.H, std::floor(c.CircleCentreY + r + 1) + 3);
  }
  m.gx0 = x0;
  m.gy0 = y0;
  m.gw = std::max(0, x1 - x0 + 1);
  m.gh = std::max(0, y1 - y0 + 1);
  const size_t size = static_cast<size_t>(m.gw) * m.gh;
  m.records.assign(size, CellRecord{});
  m.insideFlag.assign(size, 0);
  for (int x = x0; x <= x1; ++x) {
    for (int y = y0; y <= y1; ++y) {
      const double d = std::sqrt((c.CircleCentreX - x) * (c.CircleCentreX - x) +
                                 (c.CircleCentreY - y) * (c.CircleCentreY - y));
      if (d <= c.CircleRadius) m.insideFlag[m.gridIndex(x, y)] = 1;
    }
  }
}

}  // namespace

// Builds the evaluation arrays from the records: compact cell list, regular
// runs, rim cells with their substitute sources and feedback neighbours.
void CellNetwork::Impl::buildArrays() {
  // The grid arrays get kPad extra zeros at the end, since a run's last block
  // reads up to a block's width (plus the template's reach) past the run.
  const size_t size = records.size();
  const size_t padded = size + kPad;
  I.assign(padded, 0);
  E.assign(padded, 0);
  cosA.assign(padded, 0);
  sinA.assign(padded, 0);
  y0buf.assign(padded, 0);
  y1buf.assign(padded, 0);
  compactOf.assign(size, -1);
  cells.clear();
  for (int x = gx0; x < gx0 + gw; ++x) {
    for (int y = gy0; y < gy0 + gh; ++y) {
      const int g = gridIndex(x, y);
      if (!insideFlag[g]) continue;
      compactOf[g] = static_cast<int32_t>(cells.size());
      cells.push_back(g);
      const CellRecord& r = records[g];
      I[g] = r.Intensity;
      E[g] = r.AxisRatio;
      cosA[g] = r.CosAzimuth;
      sinA[g] = r.SinAzimuth;
    }
  }
  const size_t n = cells.size();
  target.resize(n);
  staticSum.assign(n + kPad, 0);
  totalSum.assign(n, 0);
  firstShare.assign(n, 0);
  absError.assign(n, 0);
  relError.assign(n, 0);
  energyNeighbours.assign(n, 0);
  for (int d = 0; d < 49; ++d) offset[d] = (d / 7 - 3) * gh + (d % 7 - 3);

  segments.clear();
  rimSources.clear();
  rimNeighbours.clear();
  int rimCount = 0;
  for (size_t c = 0; c < n; ++c) {
    const int g = cells[c];
    const int x = gx0 + g / gh, y = gy0 + g % gh;
    target[c] = records[g].Target;
    // Energy A needs the four direct neighbours inside and in the image.
    if (x - 1 >= 1 && x + 1 <= W && y - 1 >= 1 && y + 1 <= H && inside(x - 1, y) && inside(x + 1, y) &&
        inside(x, y - 1) && inside(x, y + 1))
      energyNeighbours[c] = 1;
    bool regular = true;
    for (int d = 0; d < 49 && regular; ++d) regular = inside(x + d / 7 - 3, y + d % 7 - 3);
    if (regular) {
      if (!segments.empty() && !segments.back().rim && segments.back().grid + segments.back().len == g) {
        ++segments.back().len;
      } else {
        segments.push_back(Segment{g, static_cast<int32_t>(c), 1, false});
      }
      continue;
    }
    Segment s{g, static_cast<int32_t>(c), 1, true};
    s.rimIndex = rimCount++;
    segments.push_back(s);
    for (int a = 1; a <= 7; ++a) {
      for (int b = 1; b <= 7; ++b) {
        const int i = x + a - 4, j = y + b - 4;
        rimSources.push_back(gridIndex(SourceOf(x, y, i, j)));
        rimNeighbours.push_back(inside(i, j) ? gridIndex(i, j) : -1);
      }
    }
  }
  recordsDirty = true;
}

std::pair<int, int> CellNetwork::Impl::SourceOf(int x, int y, int i, int j) const {
  if (inside(i, j)) return {i, j};
  int best = 100000;
  std::pair<int, int> p{x, y};
  for (int u = x - 3; u <= x + 3; ++u) {
    for (int v = y - 3; v <= y + 3; ++v) {
      if (!inside(u, v)) continue;
      const int d = std::abs(v - j) + std::abs(u - i);
      if (d < best) {
        best = d;
        p = {u, v};
      }
    }
  }
  return p;
}

CellNetwork PrepareCells(const AppState& state, DirectionConvention convention) {
  CellNetwork net;
  CellNetwork::Impl& m = net.impl();
  LayOutGrid(state, m);
  m.samples.clear();
  FillInputs(state, convention, m, true);
  m.buildArrays();
  net.setThreads(0);
  return net;
}

SampleTable BuildSampleTable(const AppState& state, DirectionConvention convention, bool divideIntensity) {
  CellNetwork::Impl m;
  LayOutGrid(state, m);
  FillInputs(state, convention, m, divideIntensity);
  return std::move(m.samples);
}

// ---------------------------------------------------------------------------
// The fast evaluation. Every cell sums its 49 terms in the order a outer, b
// inner, exactly as the plain version does. Runs of regular cells (all 49
// neighbours inside) go a block of consecutive cells at a time, one cell per
// vector lane; rim cells go eight at a time with gathered sources.

namespace {

struct Weights {
  double m[49], we[49], wi[49], wa[49], wos[49];
};

// Kernels on four-lane vectors of doubles: every lane is one cell and does
// exactly the operations of the plain loop, in the same order (multiplications
// rounded before the additions; no fused multiply-add is generated for either
// target). They are compiled for AVX2 and for the baseline, chosen at start-up.
#pragma GCC diagnostic ignored "-Wpsabi"  // the helpers below are always inlined
typedef double V4 __attribute__((vector_size(32)));
typedef double V4u __attribute__((vector_size(32), aligned(8)));
typedef long long M4 __attribute__((vector_size(32)));
typedef long long M4u __attribute__((vector_size(32), aligned(8)));

[[gnu::always_inline]] inline V4 Load(const double* p) { return *reinterpret_cast<const V4u*>(p); }
[[gnu::always_inline]] inline void Store(double* p, V4 v) { *reinterpret_cast<V4u*>(p) = v; }
[[gnu::always_inline]] inline V4 Splat(double v) { return V4{v, v, v, v}; }

constexpr int kFirstBlock = 8;      // two vectors per sum
constexpr int kFeedbackBlock = 16;  // four vectors

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PS_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PS_CLONES
#endif

// Eight consecutive regular cells of a column, starting at grid index g0.
PS_CLONES void FirstBlock8(const double* I, const double* E, const double* cosA, const double* sinA,
                           const int* offset, int g0, const Weights& w, double start, double* sOut, double* COut,
                           double* SOut) {
  V4 s0 = Splat(start), s1 = s0, C0 = Splat(0), C1 = C0, S0 = C0, S1 = C0;
  for (int d = 0; d < 49; ++d) {
    const int base = g0 + offset[d];
    const V4 md = Splat(w.m[d]), we = Splat(w.we[d]), wi = Splat(w.wi[d]), wa = Splat(w.wa[d]);
    s0 = s0 + md * (we * Load(E + base) + wi * Load(I + base));
    s1 = s1 + md * (we * Load(E + base + 4) + wi * Load(I + base + 4));
    C0 = C0 + Load(cosA + base) * md * wa;
    C1 = C1 + Load(cosA + base + 4) * md * wa;
    S0 = S0 + Load(sinA + base) * md * wa;
    S1 = S1 + Load(sinA + base + 4) * md * wa;
  }
  Store(sOut, s0), Store(sOut + 4, s1), Store(COut, C0), Store(COut + 4, C1), Store(SOut, S0), Store(SOut + 4, S1);
}

// Sixteen consecutive regular cells: static sums plus the feedback terms.
PS_CLONES void FeedbackBlock16(const double* prev, const int* offset, int g0, const double* wos, const double* start,
                               double* out) {
  V4 s0 = Load(start), s1 = Load(start + 4), s2 = Load(start + 8), s3 = Load(start + 12);
  for (int d = 0; d < 49; ++d) {
    const double* y = prev + g0 + offset[d];
    const V4 wd = Splat(wos[d]);
    s0 = s0 + wd * Load(y);
    s1 = s1 + wd * Load(y + 4);
    s2 = s2 + wd * Load(y + 8);
    s3 = s3 + wd * Load(y + 12);
  }
  Store(out, s0), Store(out + 4, s1), Store(out + 8, s2), Store(out + 12, s3);
}

using RimGroup = CellNetwork::Impl::RimGroup;
constexpr int kLanes = CellNetwork::Impl::kLanes;
static_assert(kLanes == 8, "rim kernels work on two vectors");

[[gnu::always_inline]] inline V4 Gather(const double* a, const int32_t* q) { return V4{a[q[0]], a[q[1]], a[q[2]], a[q[3]]}; }

// Eight rim cells side by side, each reading its own (substitute) sources.
PS_CLONES void FirstRimGroup(const double* I, const double* E, const double* cosA, const double* sinA,
                             const RimGroup& g, const Weights& w, double start, double* sOut, double* COut,
                             double* SOut) {
  V4 s0 = Splat(start), s1 = s0, C0 = Splat(0), C1 = C0, S0 = C0, S1 = C0;
  for (int d = 0; d < 49; ++d) {
    const V4 md = Splat(w.m[d]), we = Splat(w.we[d]), wi = Splat(w.wi[d]), wa = Splat(w.wa[d]);
    const int32_t* q = g.src[d];
    s0 = s0 + md * (we * Gather(E, q) + wi * Gather(I, q));
    s1 = s1 + md * (we * Gather(E, q + 4) + wi * Gather(I, q + 4));
    C0 = C0 + Gather(cosA, q) * md * wa;
    C1 = C1 + Gather(cosA, q + 4) * md * wa;
    S0 = S0 + Gather(sinA, q) * md * wa;
    S1 = S1 + Gather(sinA, q + 4) * md * wa;
  }
  Store(sOut, s0), Store(sOut + 4, s1), Store(COut, C0), Store(COut + 4, C1), Store(SOut, S0), Store(SOut + 4, S1);
}

// Feedback of eight rim cells: a neighbour outside the circle is skipped (the
// lane keeps its sum), exactly as the plain loop does.
PS_CLONES void FeedbackRimGroup(const double* prev, const RimGroup& g, const double* wos, const double* staticSum,
                                double* out) {
  V4 s0 = Gather(staticSum, g.cell), s1 = Gather(staticSum, g.cell + 4);
  for (int d = 0; d < 49; ++d) {
    const V4 wd = Splat(wos[d]);
    const V4 t0 = s0 + wd * Gather(prev, g.nb[d]);
    const V4 t1 = s1 + wd * Gather(prev, g.nb[d] + 4);
    M4 m0, m1;
    __builtin_memcpy(&m0, g.mask[d], sizeof m0);
    __builtin_memcpy(&m1, g.mask[d] + 4, sizeof m1);
    s0 = reinterpret_cast<V4>((reinterpret_cast<M4>(t0) & m0) | (reinterpret_cast<M4>(s0) & ~m0));
    s1 = reinterpret_cast<V4>((reinterpret_cast<M4>(t1) & m1) | (reinterpret_cast<M4>(s1) & ~m1));
  }
  Store(out, s0), Store(out + 4, s1);
}

void FirstEvaluation(CellNetwork::Impl& m, const NetworkParameters& p, const Weights& w,
                     const std::vector<CellNetwork::Impl::Segment>& part, const std::vector<RimGroup>& rims) {
  const double start = p.НачальнаяСуммаСинапсов + p.Смещение;
  const double* I = m.I.data();
  const double* E = m.E.data();
  const double* cosA = m.cosA.data();
  const double* sinA = m.sinA.data();
  double* y = m.y0buf.data();
  for (const auto& g : rims) {
    double s[kLanes], C[kLanes], S[kLanes];
    FirstRimGroup(I, E, cosA, sinA, g, w, start, s, C, S);
    for (int k = 0; k < g.count; ++k) {
      const double sk = s[k] + AzimuthTerm(C[k], S[k], p.ВесАзимутаОбщий);
      y[g.grid[k]] = Transfer(p.Крутизна, sk);
      m.staticSum[g.cell[k]] = sk - p.НачальнаяСуммаСинапсов;
    }
  }
  for (const auto& seg : part) {
    double s[kFirstBlock], C[kFirstBlock], S[kFirstBlock];
    // A run's last block may reach past the run: the arrays are padded, and
    // the lanes beyond the run are computed and thrown away.
    for (int k0 = 0; k0 < seg.len;) {
      const int cnt = std::min(kFirstBlock, seg.len - k0);
      const int g0 = seg.grid + k0;
      FirstBlock8(I, E, cosA, sinA, m.offset, g0, w, start, s, C, S);
      for (int k = 0; k < cnt; ++k) {
        const double sk = s[k] + AzimuthTerm(C[k], S[k], p.ВесАзимутаОбщий);
        y[g0 + k] = Transfer(p.Крутизна, sk);
        m.staticSum[seg.cell + k0 + k] = sk - p.НачальнаяСуммаСинапсов;
      }
      k0 += cnt;
    }
  }
}

void FeedbackIteration(CellNetwork::Impl& m, const NetworkParameters& p, const Weights& w, int t,
                       const std::vector<CellNetwork::Impl::Segment>& part, const std::vector<RimGroup>& rims) {
  const double* prev = (t % 2 == 1) ? m.y0buf.data() : m.y1buf.data();
  double* next = (t % 2 == 1) ? m.y1buf.data() : m.y0buf.data();
  const bool last = t == 4;
  auto finish = [&](int c, int g, double s) {
    m.totalSum[c] = s;
    if (t == 1) m.firstShare[c] = s - m.staticSum[c];
    const double out = Transfer(p.Крутизна, s);
    next[g] = out;
    if (last) {
      const double h = m.target[c];
      m.absError[c] = std::fabs(out - h);
      if (h != 0) m.relError[c] = std::fabs((out - h) / h);
    }
  };
  for (const auto& g : rims) {
    double s[kLanes];
    FeedbackRimGroup(prev, g, w.wos, m.staticSum.data(), s);
    for (int k = 0; k < g.count; ++k) finish(g.cell[k], g.grid[k], s[k]);
  }
  for (const auto& seg : part) {
    double s[kFeedbackBlock];
    for (int k0 = 0; k0 < seg.len;) {
      const int cnt = std::min(kFeedbackBlock, seg.len - k0);
      const int g0 = seg.grid + k0;
      const int c0 = seg.cell + k0;
      FeedbackBlock16(prev, m.offset, g0, w.wos, &m.staticSum[c0], s);
      for (int k = 0; k < cnt; ++k) finish(c0 + k, g0 + k, s[k]);
      k0 += cnt;
    }
  }
}

Weights WeightsOf(const NetworkParameters& p) {
  Weights w;
  const Mask7& mask = ApertureMask();
  for (int d = 0; d < 49; ++d) {
    const int a = d / 7, b = d % 7;
    w.m[d] = mask[a][b];
    w.we[d] = p.ВесЭллип[a][b];
    w.wi[d] = p.ВесИнтен[a][b];
    w.wa[d] = p.ВесАзим[a][b];
    w.wos[d] = p.ВесОС[a][b];
  }
  return w;
}

}  // namespace

void RunPhases(CellNetwork::Impl& m, const NetworkParameters& p, int part, TwoThreadBarrier* barrier, int* sense) {
  const Weights w = WeightsOf(p);
  const auto& segs = m.parts[part];
  const auto& rims = m.rimGroups[part];
  FirstEvaluation(m, p, w, segs, rims);
  for (int t = 1; t <= 4; ++t) {
    if (barrier) barrier->wait(*sense);
    FeedbackIteration(m, p, w, t, segs, rims);
  }
}

void EvaluateNetwork(CellNetwork& network, const NetworkParameters& parameters) {
  CellNetwork::Impl& m = network.impl();
  if (m.cells.empty()) return;
  if (m.team) {
    m.team->evaluate(&parameters);
  } else {
    RunPhases(m, parameters, 0, nullptr, nullptr);
  }
  m.outputIsY1 = false;
  m.recordsDirty = true;
}

// ---------------------------------------------------------------------------
// The plain evaluation, cell by cell from the records.

void EvaluateNetworkReference(CellNetwork& network, const NetworkParameters& p) {
  CellNetwork::Impl& m = network.impl();
  m.syncRecords();
  const Mask7& mask = ApertureMask();
  std::vector<double> out(m.records.size(), 0.0);
  const int x0 = IntOf(m.circle.CircleCentreX - m.circle.CircleRadius - 1);
  const int x1 = IntOf(m.circle.CircleCentreX + m.circle.CircleRadius + 1);
  const int y0 = IntOf(m.circle.CircleCentreY - m.circle.CircleRadius - 1);
  const int y1 = IntOf(m.circle.CircleCentreY + m.circle.CircleRadius + 1);
  auto isInside = [&](int x, int y) { return m.inside(x, y); };
  auto rec = [&](int x, int y) -> CellRecord& { return m.records[m.gridIndex(x, y)]; };

  for (int x = x0; x <= x1; ++x) {
    for (int y = y0; y <= y1; ++y) {
      if (!isInside(x, y)) continue;
      double s = p.НачальнаяСуммаСинапсов + p.Смещение, C = 0, S = 0;
      for (int a = 1; a <= 7; ++a) {
        for (int b = 1; b <= 7; ++b) {
          const int i = x + a - 4, j = y + b - 4;
          std::pair<int, int> src{i, j};
          if (!isInside(i, j)) {
            int best = 100000;
            for (int u = x - 3; u <= x + 3; ++u)
              for (int v = y - 3; v <= y + 3; ++v)
                if (isInside(u, v) && std::abs(v - j) + std::abs(u - i) < best) {
                  best = std::abs(v - j) + std::abs(u - i);
                  src = {u, v};
                }
          }
          const CellRecord& q = rec(src.first, src.second);
          const double mk = mask[a - 1][b - 1];
          s = s + mk * (p.ВесЭллип[a - 1][b - 1] * q.AxisRatio + p.ВесИнтен[a - 1][b - 1] * q.Intensity);
          C = C + q.CosAzimuth * mk * p.ВесАзим[a - 1][b - 1];
          S = S + q.SinAzimuth * mk * p.ВесАзим[a - 1][b - 1];
        }
      }
      s = s + AzimuthTerm(C, S, p.ВесАзимутаОбщий);
      out[m.gridIndex(x, y)] = Transfer(p.Крутизна, s);
      rec(x, y).StaticSum = s - p.НачальнаяСуммаСинапсов;
    }
  }
  for (int t = 1; t <= 4; ++t) {
    std::vector<double> next = out;
    for (int x = x0; x <= x1; ++x) {
      for (int y = y0; y <= y1; ++y) {
        if (!isInside(x, y)) continue;
        CellRecord& r = rec(x, y);
        double s = r.StaticSum;
        for (int a = 1; a <= 7; ++a)
          for (int b = 1; b <= 7; ++b)
            if (isInside(x + a - 4, y + b - 4))
              s = s + p.ВесОС[a - 1][b - 1] * out[m.gridIndex(x + a - 4, y + b - 4)];
        r.TotalSum = s;
        if (t == 1) r.FirstFeedbackShare = s - r.StaticSum;
      }
    }
    for (int x = x0; x <= x1; ++x) {
      for (int y = y0; y <= y1; ++y) {
        if (!isInside(x, y)) continue;
        CellRecord& r = rec(x, y);
        const double yv = Transfer(p.Крутизна, r.TotalSum);
        next[m.gridIndex(x, y)] = yv;
        r.AbsoluteError = std::fabs(yv - r.Target);
        if (r.Target != 0) r.RelativeError = std::fabs((yv - r.Target) / r.Target);
      }
    }
    out.swap(next);
  }
  // Store into the arrays the energies read.
  for (size_t c = 0; c < m.cells.size(); ++c) {
    const CellRecord& r = m.records[m.cells[c]];
    m.staticSum[c] = r.StaticSum;
    m.totalSum[c] = r.TotalSum;
    m.firstShare[c] = r.FirstFeedbackShare;
    m.absError[c] = r.AbsoluteError;
    m.relError[c] = r.RelativeError;
  }
  m.y0buf = out;
  m.outputIsY1 = false;
  m.recordsDirty = false;
}

// ---------------------------------------------------------------------------

Energies ComputeEnergies(const CellNetwork& network) {
  const CellNetwork::Impl& m = network.impl();
  Energies e;
  const double* y = m.outputs();
  const int gh = m.gh;
  for (size_t c = 0; c < m.cells.size(); ++c) {
    if (m.energyNeighbours[c]) {
      const int g = m.cells[c];
      const double v = y[g];
      const double d1 = v - y[g - gh], d2 = v - y[g + gh], d3 = v - y[g - 1], d4 = v - y[g + 1];
      e.EnergyA = e.EnergyA + d1 * d1 + d2 * d2 + d3 * d3 + d4 * d4;
    }
    e.FeedbackSum += m.firstShare[c];
    e.AbsoluteSum += m.absError[c];
    e.EnergyB = e.EnergyB + m.relError[c];
  }
  return e;
}

double EnergyGain(double energyAOld, double energyBOld, double energyA, double energyB, double ka, double kb) {
  return (energyAOld - energyA) * ka + (energyBOld - energyB) * kb;
}

}  // namespace ps
