#include "learning/network.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cmath>
#include <stdexcept>
#include <thread>

#include "learning/network_impl.h"
#include "polarization/polarization.h"

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
  explicit PhaseTeam(CellNetwork::Impl* owner) : impl(owner), barrier(2), helper([this] { loop(); }) {}
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
    RunPhases(*impl, *params, 0, &barrier);
    // The helper arrives once more after its last phase, so the caller knows it is done.
    barrier.arrive_and_wait();
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
      RunPhases(*impl, *params, 1, &barrier);
      barrier.arrive_and_wait();
    }
  }

  CellNetwork::Impl* impl;
  const NetworkParameters* params = nullptr;
  std::barrier<> barrier;
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
  for (auto& p : parts) p.clear();
  const size_t n = cells.size();
  const size_t half = threadCount == 2 ? (n + 1) / 2 : n;
  // Segments in compact order: a run of regular cells, or one rim cell.
  for (const Segment& s : segments) {
    if (threadCount == 1 || static_cast<size_t>(s.cell) + s.len <= half) {
      parts[0].push_back(s);
    } else if (static_cast<size_t>(s.cell) >= half) {
      parts[1].push_back(s);
    } else {  // a regular run across the boundary: split it
      const int first = static_cast<int>(half) - s.cell;
      parts[0].push_back(Segment{s.grid, s.cell, first, s.rim});
      parts[1].push_back(Segment{s.grid + first, s.cell + first, s.len - first, s.rim});
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
      double smoothE = 0, smoothA = 0, neighbourA0 = 0;
      for (int i = x - 2; i <= x + 2; ++i) {
        for (int j = y - 2; j <= y + 2; ++j) {
          if (i < 1 || i > W || j < 1 || j > H) continue;
          const PixelValues v = ОпределениеИнтенсивностей(state, i, j);
          const double w = wk[i - x + 2][j - y + 2];
          smoothE = smoothE + w * v.AxisRatio / 100;
          smoothA = smoothA + w * v.Azimuth / 100;
          neighbourA0 = v.A0;
        }
      }
      const PixelValues own = ОпределениеИнтенсивностей(state, x, y);
      const double scale = divideIntensity ? 255.0 : 1.0;
      r.Intensity = own.A0 / scale;
      r.AxisRatio = own.AxisRatio;
      r.Azimuth = own.Azimuth;
      r.NeighbourIntensity = neighbourA0 / scale;
      r.SmoothedAxisRatio = smoothE;
      r.SmoothedAzimuth = smoothA;
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
  const size_t size = records.size();
  I.assign(size, 0);
  E.assign(size, 0);
  cosA.assign(size, 0);
  sinA.assign(size, 0);
  y0buf.assign(size, 0);
  y1buf.assign(size, 0);
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
  staticSum.assign(n, 0);
  totalSum.assign(n, 0);
  firstShare.assign(n, 0);
  absError.assign(n, 0);
  relError.assign(n, 0);
  energyNeighbours.assign(n, 0);
  for (int d = 0; d < 49; ++d) offset[d] = (d / 7 - 3) * gh + (d % 7 - 3);

  segments.clear();
  rimSources.clear();
  rimFeedback.clear();
  rimFeedbackStart.clear();
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
    s.rimIndex = static_cast<int32_t>(rimFeedbackStart.size());
    segments.push_back(s);
    rimFeedbackStart.push_back(static_cast<int32_t>(rimFeedback.size()));
    for (int a = 1; a <= 7; ++a) {
      for (int b = 1; b <= 7; ++b) {
        const int i = x + a - 4, j = y + b - 4;
        rimSources.push_back(gridIndex(SourceOf(x, y, i, j)));
        if (inside(i, j)) rimFeedback.push_back(RimNeighbour{static_cast<int16_t>((a - 1) * 7 + (b - 1)), gridIndex(i, j)});
      }
    }
  }
  rimFeedbackStart.push_back(static_cast<int32_t>(rimFeedback.size()));
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
// inner, exactly as the plain version does; runs of regular cells (all 49
// neighbours inside) are processed a block of cells at a time so that the
// compiler can vectorize across cells.

namespace {

constexpr int kBlock = 16;

struct Weights {
  double m[49], we[49], wi[49], wa[49], wos[49];
};

void FirstEvaluation(CellNetwork::Impl& m, const NetworkParameters& p, const Weights& w,
                     const std::vector<CellNetwork::Impl::Segment>& part) {
  const double start = p.НачальнаяСуммаСинапсов + p.Смещение;
  const double* I = m.I.data();
  const double* E = m.E.data();
  const double* cosA = m.cosA.data();
  const double* sinA = m.sinA.data();
  double* y = m.y0buf.data();
  for (const auto& seg : part) {
    if (seg.rim) {
      const int32_t* src = &m.rimSources[static_cast<size_t>(seg.rimIndex) * 49];
      double s = start, C = 0, S = 0;
      for (int d = 0; d < 49; ++d) {
        const int q = src[d];
        s = s + w.m[d] * (w.we[d] * E[q] + w.wi[d] * I[q]);
        C = C + cosA[q] * w.m[d] * w.wa[d];
        S = S + sinA[q] * w.m[d] * w.wa[d];
      }
      s = s + AzimuthTerm(C, S, p.ВесАзимутаОбщий);
      y[seg.grid] = Transfer(p.Крутизна, s);
      m.staticSum[seg.cell] = s - p.НачальнаяСуммаСинапсов;
      continue;
    }
    for (int k0 = 0; k0 < seg.len; k0 += kBlock) {
      const int cnt = std::min(kBlock, seg.len - k0);
      const int g0 = seg.grid + k0;
      double s[kBlock], C[kBlock], S[kBlock];
      for (int k = 0; k < kBlock; ++k) s[k] = start, C[k] = 0, S[k] = 0;
      for (int d = 0; d < 49; ++d) {
        const int base = g0 + m.offset[d];
        const double md = w.m[d], we = w.we[d], wi = w.wi[d], wa = w.wa[d];
        if (cnt == kBlock) {
          for (int k = 0; k < kBlock; ++k) {
            s[k] = s[k] + md * (we * E[base + k] + wi * I[base + k]);
            C[k] = C[k] + cosA[base + k] * md * wa;
            S[k] = S[k] + sinA[base + k] * md * wa;
          }
        } else {
          for (int k = 0; k < cnt; ++k) {
            s[k] = s[k] + md * (we * E[base + k] + wi * I[base + k]);
            C[k] = C[k] + cosA[base + k] * md * wa;
            S[k] = S[k] + sinA[base + k] * md * wa;
          }
        }
      }
      for (int k = 0; k < cnt; ++k) {
        const double sk = s[k] + AzimuthTerm(C[k], S[k], p.ВесАзимутаОбщий);
        y[g0 + k] = Transfer(p.Крутизна, sk);
        m.staticSum[seg.cell + k0 + k] = sk - p.НачальнаяСуммаСинапсов;
      }
    }
  }
}

void FeedbackIteration(CellNetwork::Impl& m, const NetworkParameters& p, const Weights& w, int t,
                       const std::vector<CellNetwork::Impl::Segment>& part) {
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
  for (const auto& seg : part) {
    if (seg.rim) {
      double s = m.staticSum[seg.cell];
      const int32_t from = m.rimFeedbackStart[seg.rimIndex], to = m.rimFeedbackStart[seg.rimIndex + 1];
      for (int32_t q = from; q < to; ++q) s = s + w.wos[m.rimFeedback[q].d] * prev[m.rimFeedback[q].grid];
      finish(seg.cell, seg.grid, s);
      continue;
    }
    for (int k0 = 0; k0 < seg.len; k0 += kBlock) {
      const int cnt = std::min(kBlock, seg.len - k0);
      const int g0 = seg.grid + k0;
      const int c0 = seg.cell + k0;
      double s[kBlock];
      for (int k = 0; k < cnt; ++k) s[k] = m.staticSum[c0 + k];
      for (int d = 0; d < 49; ++d) {
        const int base = g0 + m.offset[d];
        const double wd = w.wos[d];
        if (cnt == kBlock) {
          for (int k = 0; k < kBlock; ++k) s[k] = s[k] + wd * prev[base + k];
        } else {
          for (int k = 0; k < cnt; ++k) s[k] = s[k] + wd * prev[base + k];
        }
      }
      for (int k = 0; k < cnt; ++k) finish(c0 + k, g0 + k, s[k]);
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

void RunPhases(CellNetwork::Impl& m, const NetworkParameters& p, int part, std::barrier<>* barrier) {
  const Weights w = WeightsOf(p);
  const auto& segs = m.parts[part];
  FirstEvaluation(m, p, w, segs);
  for (int t = 1; t <= 4; ++t) {
    if (barrier) barrier->arrive_and_wait();
    FeedbackIteration(m, p, w, t, segs);
  }
}

void EvaluateNetwork(CellNetwork& network, const NetworkParameters& parameters) {
  CellNetwork::Impl& m = network.impl();
  if (m.cells.empty()) return;
  if (m.team) {
    m.team->evaluate(&parameters);
  } else {
    RunPhases(m, parameters, 0, nullptr);
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
