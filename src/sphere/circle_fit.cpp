#include "sphere/circle_fit.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace ps {

namespace {

constexpr int32_t kStartBest = 10000;

// Nearest integer, halves to even, held to the 32-bit range.
int32_t RoundToInt32(double v) {
  const double r = std::nearbyint(v);
  if (!(r < 2147483647.0)) return std::numeric_limits<int32_t>::max();
  if (r < -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

// Distance between two cells in single precision: the double square root of the
// exact squared distance, rounded to single.
inline float Distance(double cx, double cy, double x, double y) {
  const double dx = cx - x, dy = cy - y;
  return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

// When every coordinate is an integer and every squared distance stays below
// 2^24, the squared distance is exact in single precision and the single square
// root of it equals the double square root rounded to single. The fast paths
// rely on that; other inputs take the plain path.
bool ExactInSingle(const std::vector<std::pair<double, double>>& pts, int W, int H) {
  double maxD2 = 0;
  for (const auto& [x, y] : pts) {
    if (x != std::floor(x) || y != std::floor(y)) return false;
    const double dx = std::max(std::fabs(x - 1), std::fabs(W - x));
    const double dy = std::max(std::fabs(y - 1), std::fabs(H - y));
    maxD2 = std::max(maxD2, dx * dx + dy * dy);
  }
  return maxD2 < 16777216.0;
}

// A cell that got below the bound of its own sequence, with its sums.
struct Candidate {
  int cx;
  int cy;
  float S;
  float R;
};

#if defined(__SSE2__)
inline __m128 AbsPs(__m128 v) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), v); }
#endif

// One column of the fit on single-precision coordinates: eight cells at a time,
// abandoned together once all eight sums have reached `bound`. Appends every
// cell whose full sum is below the running bound of this thread's sequence.
void FitColumn(int cx, int H, int n, int m, const float* px, const float* py, int32_t& bound,
               std::vector<Candidate>& out) {
  const float fx = static_cast<float>(cx);
  for (int cy0 = 1; cy0 <= H; cy0 += 8) {
    alignas(16) float S[8];
    alignas(16) float R[8];
    int k = 0;
    bool abandoned = false;
#if defined(__SSE2__)
    const __m128 ya = _mm_setr_ps(float(cy0), float(cy0 + 1), float(cy0 + 2), float(cy0 + 3));
    const __m128 yb = _mm_add_ps(ya, _mm_set1_ps(4.0f));
    // Lanes past the last row start at infinity so they never keep a batch alive.
    const float inf = std::numeric_limits<float>::infinity();
    auto start = [&](int l) { return cy0 + l <= H ? 0.0f : inf; };
    __m128 sa = _mm_setr_ps(start(0), start(1), start(2), start(3));
    __m128 sb = _mm_setr_ps(start(4), start(5), start(6), start(7));
    __m128 ra = _mm_setzero_ps(), rb = _mm_setzero_ps();
    const __m128 lim = _mm_set1_ps(static_cast<float>(bound));
    while (k < n) {
      const int kEnd = std::min(n, k + 8);
      for (; k < kEnd; ++k) {
        const float ddx1 = fx - px[k], ddx2 = fx - px[k + m];
        const __m128 dx1 = _mm_set1_ps(ddx1 * ddx1);
        const __m128 dx2 = _mm_set1_ps(ddx2 * ddx2);
        const __m128 y1 = _mm_set1_ps(py[k]), y2 = _mm_set1_ps(py[k + m]);
        __m128 t;
        t = _mm_sub_ps(ya, y1);
        const __m128 d1a = _mm_sqrt_ps(_mm_add_ps(dx1, _mm_mul_ps(t, t)));
        t = _mm_sub_ps(yb, y1);
        const __m128 d1b = _mm_sqrt_ps(_mm_add_ps(dx1, _mm_mul_ps(t, t)));
        t = _mm_sub_ps(ya, y2);
        const __m128 d2a = _mm_sqrt_ps(_mm_add_ps(dx2, _mm_mul_ps(t, t)));
        t = _mm_sub_ps(yb, y2);
        const __m128 d2b = _mm_sqrt_ps(_mm_add_ps(dx2, _mm_mul_ps(t, t)));
        sa = _mm_add_ps(sa, AbsPs(_mm_sub_ps(d1a, d2a)));
        sb = _mm_add_ps(sb, AbsPs(_mm_sub_ps(d1b, d2b)));
        ra = _mm_add_ps(ra, d1a);
        rb = _mm_add_ps(rb, d1b);
      }
      // The sums only grow: once every lane has reached the bound, none of the
      // eight cells can be taken.
      const int below = _mm_movemask_ps(_mm_cmplt_ps(sa, lim)) | _mm_movemask_ps(_mm_cmplt_ps(sb, lim));
      if (below == 0 && k < n) {
        abandoned = true;
        break;
      }
    }
    _mm_store_ps(S, sa);
    _mm_store_ps(S + 4, sb);
    _mm_store_ps(R, ra);
    _mm_store_ps(R + 4, rb);
#else
    std::fill(S, S + 8, 0.0f);
    std::fill(R, R + 8, 0.0f);
    while (k < n) {
      const int kEnd = std::min(n, k + 8);
      for (; k < kEnd; ++k)
        for (int l = 0; l < 8; ++l) {
          const float y = float(cy0 + l);
          const float a = fx - px[k], b = y - py[k], c = fx - px[k + m], d = y - py[k + m];
          const float d1 = std::sqrt(a * a + b * b), d2 = std::sqrt(c * c + d * d);
          S[l] = S[l] + std::fabs(d1 - d2);
          R[l] = R[l] + d1;
        }
      bool any = false;
      for (int l = 0; l < 8; ++l) any = any || S[l] < bound;
      if (!any && k < n) {
        abandoned = true;
        break;
      }
    }
#endif
    if (abandoned) continue;
    const int lanes = std::min(8, H - cy0 + 1);
    for (int l = 0; l < lanes; ++l) {
      if (S[l] < bound) {
        bound = RoundToInt32(S[l]);
        out.push_back({cx, cy0 + l, S[l], R[l]});
      }
    }
  }
}

}  // namespace

std::vector<BoundaryRow> MakeBoundaryList(const std::vector<std::pair<int, int>>& points) {
  const size_t n = points.size();
  std::vector<BoundaryRow> list(2 * n, BoundaryRow{});
  for (size_t k = 0; k < n; ++k) {
    list[k][0] = list[k + n][0] = points[k].first;
    list[k][1] = list[k + n][1] = points[k].second;
  }
  return list;
}

CircleFit FitCircleToBoundaryReference(const std::vector<BoundaryRow>& list, int n, int W, int H) {
  CircleFit fit;
  if (n <= 0 || list.size() < static_cast<size_t>(2 * n)) return fit;
  const int m = n / 2;
  int32_t best = kStartBest;
  for (int cx = 1; cx <= W; ++cx)
    for (int cy = 1; cy <= H; ++cy) {
      float S = 0, R = 0;
      for (int k = 1; k <= n; ++k) {
        const float d1 = Distance(cx, cy, list[k - 1][0], list[k - 1][1]);
        const float d2 = Distance(cx, cy, list[k + m - 1][0], list[k + m - 1][1]);
        S = S + std::fabs(d1 - d2);
        R = R + d1;
      }
      if (S < best) {
        best = RoundToInt32(S);
        fit.found = true;
        fit.centreX = cx;
        fit.centreY = cy;
        fit.radius = static_cast<double>(R) / n + 1;
      }
    }
  return fit;
}

CircleFit FitCircleToBoundary(const std::vector<BoundaryRow>& list, int n, int W, int H, const Progress& progress,
                              int threads) {
  CircleFit fit;
  if (n <= 0 || list.size() < static_cast<size_t>(2 * n) || W <= 0 || H <= 0) return fit;
  const int m = n / 2;
  std::vector<std::pair<double, double>> used;
  for (int k = 0; k < n + m; ++k) used.emplace_back(list[k][0], list[k][1]);
  if (!ExactInSingle(used, W, H)) {
    // Unusual coordinates: the plain search, with the same early abandon.
    int32_t best = kStartBest;
    for (int cx = 1; cx <= W; ++cx) {
      if (progress.cancelled()) return CircleFit{};
      for (int cy = 1; cy <= H; ++cy) {
        float S = 0, R = 0;
        int k = 1;
        for (; k <= n && S < best; ++k) {
          const float d1 = Distance(cx, cy, list[k - 1][0], list[k - 1][1]);
          const float d2 = Distance(cx, cy, list[k + m - 1][0], list[k + m - 1][1]);
          S = S + std::fabs(d1 - d2);
          R = R + d1;
        }
        if (k > n && S < best) {
          best = RoundToInt32(S);
          fit = {true, double(cx), double(cy), static_cast<double>(R) / n + 1};
        }
      }
      progress(cx, W);
    }
    return fit;
  }
  std::vector<float> px(n + m), py(n + m);
  for (int k = 0; k < n + m; ++k) {
    px[k] = static_cast<float>(list[k][0]);
    py[k] = static_cast<float>(list[k][1]);
  }

  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::max(1, std::min(threads, W));
  // Each thread runs the search over an increasing subsequence of the columns
  // with its own bound. A subsequence never ends with a lower bound than the
  // whole sequence, so every cell the whole search would take is among the
  // threads' candidates; replaying the candidates in order gives its result.
  // Thread t takes the columns t + 1, t + 1 + threads, ..., so every thread
  // reaches the middle of the set, where the sphere usually is, at the same time.
  std::atomic<int> columnsDone{0};
  std::atomic<bool> stop{false};
  std::vector<std::vector<Candidate>> found(threads);
  auto worker = [&](int t) {
    int32_t bound = kStartBest;
    for (int cx = t + 1; cx <= W; cx += threads) {
      if (stop.load(std::memory_order_relaxed)) return;
      FitColumn(cx, H, n, m, px.data(), py.data(), bound, found[t]);
      const int done = columnsDone.fetch_add(1) + 1;
      if (progress.cancelled()) stop = true;
      if (t == 0) progress(done, W);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(worker, t);
  worker(0);
  for (auto& th : pool) th.join();
  if (stop.load()) return CircleFit{};

  std::vector<Candidate> all;
  for (const auto& f : found) all.insert(all.end(), f.begin(), f.end());
  std::sort(all.begin(), all.end(),
            [](const Candidate& a, const Candidate& b) { return a.cx != b.cx ? a.cx < b.cx : a.cy < b.cy; });
  int32_t best = kStartBest;
  for (const Candidate& c : all) {
    if (c.S < best) {
      best = RoundToInt32(c.S);
      fit = {true, double(c.cx), double(c.cy), static_cast<double>(c.R) / n + 1};
    }
  }
  return fit;
}

CircleFit CircleThroughThreePointsReference(const std::array<std::pair<int, int>, 3>& p, int W, int H) {
  CircleFit fit;
  int32_t best = kStartBest;
  for (int cx = 1; cx <= W; ++cx)
    for (int cy = 1; cy <= H; ++cy) {
      const float d1 = Distance(cx, cy, p[0].first, p[0].second);
      const float d2 = Distance(cx, cy, p[1].first, p[1].second);
      const float d3 = Distance(cx, cy, p[2].first, p[2].second);
      const float v = std::fabs(d3 - d2) + std::fabs(d1 - d2) + std::fabs(d1 - d3);
      if (v < best) {
        best = RoundToInt32(v);
        fit = {true, double(cx), double(cy), static_cast<double>((d1 + d2 + d3) / 3.0f)};
      }
    }
  return fit;
}

CircleFit CircleThroughThreePoints(const std::array<std::pair<int, int>, 3>& p, int W, int H) {
  if (W <= 0 || H <= 0) return CircleFit{};
  std::vector<std::pair<double, double>> pts;
  for (const auto& q : p) pts.emplace_back(q.first, q.second);
  if (!ExactInSingle(pts, W, H)) return CircleThroughThreePointsReference(p, W, H);
  CircleFit fit;
  int32_t best = kStartBest;
  std::vector<float> v(H), rsum(H);
  const float x1 = float(p[0].first), y1 = float(p[0].second);
  const float x2 = float(p[1].first), y2 = float(p[1].second);
  const float x3 = float(p[2].first), y3 = float(p[2].second);
  for (int cx = 1; cx <= W; ++cx) {
    const float fx = float(cx);
    const float a1 = (fx - x1) * (fx - x1), a2 = (fx - x2) * (fx - x2), a3 = (fx - x3) * (fx - x3);
    int cy = 1;
#if defined(__SSE2__)
    const __m128 va1 = _mm_set1_ps(a1), va2 = _mm_set1_ps(a2), va3 = _mm_set1_ps(a3);
    const __m128 vy1 = _mm_set1_ps(y1), vy2 = _mm_set1_ps(y2), vy3 = _mm_set1_ps(y3);
    for (; cy + 3 <= H; cy += 4) {
      const __m128 y = _mm_setr_ps(float(cy), float(cy + 1), float(cy + 2), float(cy + 3));
      __m128 t = _mm_sub_ps(y, vy1);
      const __m128 d1 = _mm_sqrt_ps(_mm_add_ps(va1, _mm_mul_ps(t, t)));
      t = _mm_sub_ps(y, vy2);
      const __m128 d2 = _mm_sqrt_ps(_mm_add_ps(va2, _mm_mul_ps(t, t)));
      t = _mm_sub_ps(y, vy3);
      const __m128 d3 = _mm_sqrt_ps(_mm_add_ps(va3, _mm_mul_ps(t, t)));
      const __m128 s = _mm_add_ps(_mm_add_ps(AbsPs(_mm_sub_ps(d3, d2)), AbsPs(_mm_sub_ps(d1, d2))),
                                  AbsPs(_mm_sub_ps(d1, d3)));
      _mm_storeu_ps(&v[cy - 1], s);
      _mm_storeu_ps(&rsum[cy - 1], _mm_div_ps(_mm_add_ps(_mm_add_ps(d1, d2), d3), _mm_set1_ps(3.0f)));
    }
#endif
    for (; cy <= H; ++cy) {
      const float fy = float(cy);
      const float d1 = std::sqrt(a1 + (fy - y1) * (fy - y1));
      const float d2 = std::sqrt(a2 + (fy - y2) * (fy - y2));
      const float d3 = std::sqrt(a3 + (fy - y3) * (fy - y3));
      v[cy - 1] = std::fabs(d3 - d2) + std::fabs(d1 - d2) + std::fabs(d1 - d3);
      rsum[cy - 1] = (d1 + d2 + d3) / 3.0f;
    }
    for (int y = 1; y <= H; ++y) {
      if (v[y - 1] < best) {
        best = RoundToInt32(v[y - 1]);
        fit = {true, double(cx), double(y), static_cast<double>(rsum[y - 1])};
      }
    }
  }
  return fit;
}

CircleRefusal CheckFitPoints(const std::vector<std::pair<int, int>>& points, int minPoints) {
  if (static_cast<int>(points.size()) < minPoints) return CircleRefusal::TooFewPoints;
  if (points.empty()) return CircleRefusal::OnOneLine;
  // Collinear when every point's cross product with the first direction is 0;
  // exact on integer cells.
  const auto [x0, y0] = points.front();
  long long dx = 0, dy = 0;
  for (const auto& [x, y] : points) {
    const long long ex = x - x0, ey = y - y0;
    if (dx == 0 && dy == 0) {
      dx = ex;
      dy = ey;
    } else if (dx * ey - dy * ex != 0) {
      return CircleRefusal::None;
    }
  }
  return CircleRefusal::OnOneLine;
}

CircleRefusal CheckFittedCircle(const CircleFit& fit, int width, int height) {
  if (!fit.found) return CircleRefusal::NoCentre;
  const double r = fit.radius;
  if (!(fit.centreX - r >= 0.5 && fit.centreX + r <= width + 0.5 && fit.centreY - r >= 0.5 &&
        fit.centreY + r <= height + 0.5))
    return CircleRefusal::OutsideImage;
  return CircleRefusal::None;
}

}  // namespace ps
