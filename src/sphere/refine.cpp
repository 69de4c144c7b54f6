#include "sphere/refine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "polarization/polarization.h"

namespace ps {

namespace {

constexpr double kTau = 6.283185307179586;  // geometry here is not the system's 3.14159 circle constant

using Points = std::vector<std::pair<double, double>>;

// Median (upper one of an even count); reorders `v`.
double MedianInPlace(std::vector<double>& v) {
  if (v.empty()) return 0;
  const size_t m = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(m), v.end());
  return v[m];
}

double Median(std::vector<double> v) { return MedianInPlace(v); }

// sqrt(x^2 + y^2) without hypot's care for overflow, which costs several times
// as much and is not needed for distances in cells.
inline double Len(double x, double y) { return std::sqrt(x * x + y * y); }

bool Finite(const Circle2& c) { return std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.r) && c.r > 0; }

// Solves the 3 x 3 system a * x = b by elimination with partial pivoting.
bool Solve3(double a[3][3], double b[3], double x[3]) {
  int p[3] = {0, 1, 2};
  for (int c = 0; c < 3; ++c) {
    int best = c;
    for (int r = c + 1; r < 3; ++r)
      if (std::fabs(a[p[r]][c]) > std::fabs(a[p[best]][c])) best = r;
    std::swap(p[c], p[best]);
    if (std::fabs(a[p[c]][c]) < 1e-300) return false;
    for (int r = c + 1; r < 3; ++r) {
      const double f = a[p[r]][c] / a[p[c]][c];
      for (int k = c; k < 3; ++k) a[p[r]][k] -= f * a[p[c]][k];
      b[p[r]] -= f * b[p[c]];
    }
  }
  for (int c = 2; c >= 0; --c) {
    double s = b[p[c]];
    for (int k = c + 1; k < 3; ++k) s -= a[p[c]][k] * x[k];
    x[c] = s / a[p[c]][c];
  }
  return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
}

// A read-only view of a row-major layer with 1-based cells.
struct Layer {
  const double* v;
  int w, h;
  double at(int x, int y) const { return v[static_cast<size_t>(y - 1) * w + (x - 1)]; }
  // Whether a point in cells lies within the hull of the cell centres.
  bool inside(double x, double y) const { return x >= 1 && y >= 1 && x <= w && y <= h; }
  // Bilinear value at a point inside that hull.
  double sampleInside(double x, double y) const {
    const double fx = x - 1, fy = y - 1;
    const int ix = std::min(static_cast<int>(fx), w - 2), iy = std::min(static_cast<int>(fy), h - 2);
    const double tx = fx - ix, ty = fy - iy;
    const double* r0 = v + static_cast<size_t>(iy) * w + ix;
    const double* r1 = r0 + w;
    return (r0[0] + (r0[1] - r0[0]) * tx) * (1 - ty) + (r1[0] + (r1[1] - r1[0]) * tx) * ty;
  }
};

// ---- Seed from a press ------------------------------------------------------
//
// The pressed cell is moved to the most negative contour response within 3
// cells (the crest of the outline). Every crest cell Q of the response at least
// a fifth as strong as the press's (on every other cell of every other row, in
// a staggered pattern, which quarters the work and still meets every circle of
// more than a few cells) votes for the centre
// of the circle through the press P and Q whose radius at Q runs along Q's
// intensity gradient: the point where Q's gradient line meets the
// perpendicular bisector of PQ. Cells of one circle through P all vote for its
// centre; other edges scatter. The votes are binned in 2 x 2 cells; the
// densest 3 x 3 bins (at least 6 votes) give the centre as the mean of
// their votes, the distance to P the radius. The next two densest places, 10
// cells or more apart, are kept as further seeds, tried when the first leads
// to no circle (a weak or cluttered rim can put the true centre second).
bool SeedsFromPress(const Layer& v, const Layer& resp, int px, int py, std::vector<Circle2>* seeds, int* snapX,
                    int* snapY) {
  const int W = v.w, H = v.h;
  int bx = px, by = py;
  double best = 0;
  for (int y = std::max(1, py - 3); y <= std::min(H, py + 3); ++y)
    for (int x = std::max(1, px - 3); x <= std::min(W, px + 3); ++x)
      if (resp.at(x, y) < best) best = resp.at(x, y), bx = x, by = y;
  if (!(best < 0)) return false;

  const double threshold = 0.2 * best;  // negative
  constexpr int kBin = 2;
  const int BW = (W + kBin - 1) / kBin + 2, BH = (H + kBin - 1) / kBin + 2;
  std::vector<int> acc(static_cast<size_t>(BW) * BH, 0);
  std::vector<std::pair<float, float>> votes;
  for (int y = 3; y <= H - 2; y += 2) {
    const double* row = resp.v + static_cast<size_t>(y - 1) * W;
    for (int x = 3 + (y / 2) % 2; x <= W - 2; x += 2) {
      const double r = row[x - 1];
      if (!(r < threshold)) continue;
      // Crest: more than five of the eight neighbours respond less strongly.
      int weaker = 0;
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i)
          if ((i || j) && std::fabs(row[x - 1 + i + static_cast<ptrdiff_t>(j) * W]) < std::fabs(r)) ++weaker;
      if (weaker <= 5) continue;
      const double dx = x - bx, dy = y - by;
      const double d = Len(dx, dy);
      if (d < 6) continue;
      // Intensity gradient over the 5 x 5 square (all inside: 3 <= x, y <= size - 2).
      double gx = 0, gy = 0;
      for (int j = -2; j <= 2; ++j) {
        const double* vr = v.v + static_cast<size_t>(y - 1 + j) * W + (x - 1);
        gx += vr[1] + vr[2] - vr[-1] - vr[-2];
      }
      for (int i = -2; i <= 2; ++i) {
        const double* vc = v.v + static_cast<size_t>(y - 1) * W + (x - 1 + i);
        gy += vc[W] + vc[2 * W] - vc[-W] - vc[-2 * W];
      }
      const double gn = Len(gx, gy);
      if (!(gn > 0)) continue;
      gx /= gn, gy /= gn;
      const double gd = gx * dx + gy * dy;
      if (std::fabs(gd) < 0.25 * d) continue;  // gradient nearly along the bisector: ill-conditioned
      // Q + t g on the bisector: (Q + t g - M) . d = 0 with M = (P + Q) / 2.
      const double t = -0.5 * d * d / gd;
      const double cx = x + t * gx, cy = y + t * gy;
      if (Len(cx - bx, cy - by) < 3) continue;
      if (!(cx >= 1 && cy >= 1 && cx <= W && cy <= H)) continue;
      ++acc[static_cast<size_t>(static_cast<int>(cy) / kBin + 1) * BW + static_cast<int>(cx) / kBin + 1];
      votes.emplace_back(static_cast<float>(cx), static_cast<float>(cy));
    }
  }
  // Box sums of 3 x 3 bins; up to three peaks, each at least 5 bins from the
  // ones before it.
  std::vector<int> box(acc.size(), 0);
  for (int y = 1; y < BH - 1; ++y)
    for (int x = 1; x < BW - 1; ++x) {
      int s = 0;
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) s += acc[static_cast<size_t>(y + j) * BW + x + i];
      box[static_cast<size_t>(y) * BW + x] = s;
    }
  seeds->clear();
  *snapX = bx, *snapY = by;
  for (int k = 0; k < 3; ++k) {
    const auto top = std::max_element(box.begin(), box.end());
    if (*top < 6) break;
    const int pbx = static_cast<int>((top - box.begin()) % BW), pby = static_cast<int>((top - box.begin()) / BW);
    // Mean of the votes in the peak's 3 x 3 bins.
    double sx = 0, sy = 0;
    int n = 0;
    for (const auto& [cx, cy] : votes) {
      const int ix = static_cast<int>(cx) / kBin + 1, iy = static_cast<int>(cy) / kBin + 1;
      if (std::abs(ix - pbx) <= 1 && std::abs(iy - pby) <= 1) sx += cx, sy += cy, ++n;
    }
    for (int y = std::max(0, pby - 5); y <= std::min(BH - 1, pby + 5); ++y)
      for (int x = std::max(0, pbx - 5); x <= std::min(BW - 1, pbx + 5); ++x) box[static_cast<size_t>(y) * BW + x] = 0;
    if (n == 0) continue;
    const Circle2 c{sx / n, sy / n, Len(sx / n - bx, sy / n - by)};
    if (c.r >= 3) seeds->push_back(c);
  }
  return !seeds->empty();
}

// ---- Edge points along rays -------------------------------------------------
//
// N rays leave the centre, about one per cell of circumference, at least 32
// and at most the caller's limit. Along each, the intensity is sampled every
// half cell from r - band to r + band, each sample the mean of five points on
// the arc through it (one cell apart, wider when the rays are sparse, so that
// together they cover the rim; along the arc the averaging does not bend the
// edge), smoothed with a 1 4 6 4 1 kernel; the edge is where the difference
// across one cell is largest in magnitude (either sign: the rim may be darker
// or brighter than what lies behind it), placed between samples by a
// parabola. A ray whose largest change lies at either end of its band, or that
// leaves the image, gives no point. The ray's typical change is the median
// over at least 6 cells either side.
struct RayEdge {
  double x, y;
  double strength;  // |change| per cell at the edge
  double noise;     // median |change| along the sampled stretch
};

constexpr double kStep = 0.5;

int CastRays(const Layer& v, const Circle2& c, double band, int maxRays, int arcPoints, std::vector<RayEdge>* out) {
  const int n = std::clamp(arcPoints, 1, 5);
  out->clear();
  const int rays = std::clamp(static_cast<int>(std::lround(kTau * c.r)), 32, std::max(32, maxRays));
  // Samples cover at least 6 cells either side, so that the typical change is
  // measured mostly away from the edge even when the band is narrow.
  const int half = static_cast<int>(std::ceil(std::max(band, 6.0) / kStep));
  const int inner = static_cast<int>(std::ceil(band / kStep));  // the band the edge is looked for in
  const int S = 2 * half + 9;  // four extra samples each side for the smoothing and the difference
  const int lo = half + 4 - inner, hi = half + 4 + inner;
  const double rho0 = c.r - (half + 4) * kStep;
  const double dAngle = std::max(1.0, kTau * c.r / rays / n) / std::max(c.r, 2.0);
  double cosOff[5], sinOff[5];
  for (int t = 0; t < n; ++t) {
    const double a = (t - 0.5 * (n - 1)) * dAngle;
    cosOff[t] = std::cos(a), sinOff[t] = std::sin(a);
  }
  std::vector<double> p(S), q(S), d(S);
  std::vector<double> mags;
  int inside = 0;
  for (int k = 0; k < rays; ++k) {
    const double theta = kTau * k / rays;
    const double ct = std::cos(theta), st = std::sin(theta);
    double cs[5], sn[5];
    for (int t = 0; t < n; ++t) cs[t] = ct * cosOff[t] - st * sinOff[t], sn[t] = st * cosOff[t] + ct * sinOff[t];
    // Each of the five lines of samples is straight, so it lies inside the
    // image when both its ends do.
    bool ok = rho0 >= 0;
    const double rho1 = rho0 + (S - 1) * kStep;
    for (int t = 0; t < n && ok; ++t)
      ok = v.inside(c.x + rho0 * cs[t], c.y + rho0 * sn[t]) && v.inside(c.x + rho1 * cs[t], c.y + rho1 * sn[t]);
    if (!ok) continue;
    std::fill(p.begin(), p.end(), 0.0);
    for (int t = 0; t < n; ++t) {
      const double x0 = c.x + rho0 * cs[t], y0 = c.y + rho0 * sn[t], dx = kStep * cs[t], dy = kStep * sn[t];
      for (int s = 0; s < S; ++s) p[s] += v.sampleInside(x0 + s * dx, y0 + s * dy);
    }
    ++inside;
    for (int s = 2; s < S - 2; ++s) q[s] = (p[s - 2] + 4 * (p[s - 1] + p[s + 1]) + 6 * p[s] + p[s + 2]) / (16.0 * n);
    int best = -1;
    mags.clear();
    for (int s = 4; s < S - 4; ++s) {
      d[s] = std::fabs(q[s + 2] - q[s - 2]);
      mags.push_back(d[s]);
      if (s >= lo && s <= hi && (best < 0 || d[s] > d[best])) best = s;
    }
    if (best <= lo || best >= hi) continue;
    const double a = d[best - 1], b = d[best], e = d[best + 1];
    const double den = a - 2 * b + e;
    const double off = den < 0 ? std::clamp(0.5 * (a - e) / den, -0.5, 0.5) : 0.0;
    const double rho = rho0 + (best + off) * kStep;
    out->push_back({c.x + rho * ct, c.y + rho * st, b, MedianInPlace(mags)});
  }
  return inside;
}

// ---- Robust fit -------------------------------------------------------------
//
// Outlier rule: with e the points' signed distances from the circle and s =
// 1.4826 * median |e - median e| (the normal-equivalent spread), a point is
// kept when |e| <= max(3 s, 1 cell) (on the first round |e - median e|, as the
// algebraic start may be off in radius). Taubin's fit on all points starts,
// geometric least squares on the kept points finishes, and the rule is applied
// again to all points from each new circle until the kept set stops changing.
struct RobustFit {
  Circle2 c;
  int used = 0;
  double rms = 0;
};

bool FitRobust(const Points& pts, RobustFit* out) {
  Circle2 c;
  if (!FitCircleTaubin(pts, &c)) return false;
  std::vector<char> keep(pts.size(), 1), prev;
  std::vector<double> e(pts.size());
  for (int round = 0; round < 8; ++round) {
    for (size_t i = 0; i < pts.size(); ++i) e[i] = Len(pts[i].first - c.x, pts[i].second - c.y) - c.r;
    const double med = Median(e);
    std::vector<double> dev(e.size());
    for (size_t i = 0; i < e.size(); ++i) dev[i] = std::fabs(e[i] - med);
    const double limit = std::max(3 * 1.4826 * Median(dev), 1.0);
    Points kept;
    for (size_t i = 0; i < pts.size(); ++i) {
      keep[i] = (round == 0 ? dev[i] : std::fabs(e[i])) <= limit;
      if (keep[i]) kept.push_back(pts[i]);
    }
    if (keep == prev) break;
    prev = keep;
    Circle2 start = c;
    if (!FitCircleTaubin(kept, &start)) return false;
    if (!FitCircleGeometric(kept, start, &c)) return false;
  }
  double ss = 0;
  int n = 0;
  for (size_t i = 0; i < pts.size(); ++i)
    if (keep[i]) {
      const double r = Len(pts[i].first - c.x, pts[i].second - c.y) - c.r;
      ss += r * r, ++n;
    }
  out->c = c;
  out->used = n;
  out->rms = n ? std::sqrt(ss / n) : 0;
  return n >= 3;
}

std::string Failed(const char* why) { return std::string("Окружность не уточнена: ") + why; }

}  // namespace

bool FitCircleTaubin(const Points& points, Circle2* out) {
  const size_t n = points.size();
  if (n < 3) return false;
  double mx = 0, my = 0;
  for (const auto& [x, y] : points) mx += x, my += y;
  mx /= n, my /= n;
  double Mxx = 0, Myy = 0, Mxy = 0, Mxz = 0, Myz = 0, Mzz = 0;
  for (const auto& [px, py] : points) {
    const double x = px - mx, y = py - my, z = x * x + y * y;
    Mxx += x * x, Myy += y * y, Mxy += x * y, Mxz += x * z, Myz += y * z, Mzz += z * z;
  }
  Mxx /= n, Myy /= n, Mxy /= n, Mxz /= n, Myz /= n, Mzz /= n;
  // Newton's method on the characteristic polynomial of Taubin's generalised
  // eigenproblem, from 0 (its smallest positive root).
  const double Mz = Mxx + Myy, covXY = Mxx * Myy - Mxy * Mxy, varZ = Mzz - Mz * Mz;
  const double A3 = 4 * Mz, A2 = -3 * Mz * Mz - Mzz;
  const double A1 = varZ * Mz + 4 * covXY * Mz - Mxz * Mxz - Myz * Myz;
  const double A0 = Mxz * (Mxz * Myy - Myz * Mxy) + Myz * (Myz * Mxx - Mxz * Mxy) - varZ * covXY;
  double x = 0, y = A0;
  for (int it = 0; it < 99; ++it) {
    const double dy = A1 + x * (2 * A2 + 3 * A3 * x);
    const double xn = x - y / dy;
    if (xn == x || !std::isfinite(xn)) break;
    const double yn = A0 + xn * (A1 + xn * (A2 + xn * A3));
    if (std::fabs(yn) >= std::fabs(y)) break;
    x = xn, y = yn;
  }
  const double det = x * x - x * Mz + covXY;
  if (!(std::fabs(det) > 1e-12 * std::max(1.0, Mz * Mz))) return false;
  const double cx = (Mxz * (Myy - x) - Myz * Mxy) / det / 2;
  const double cy = (Myz * (Mxx - x) - Mxz * Mxy) / det / 2;
  const Circle2 c{cx + mx, cy + my, std::sqrt(cx * cx + cy * cy + Mz)};
  if (!Finite(c)) return false;
  *out = c;
  return true;
}

bool FitCircleGeometric(const Points& points, const Circle2& start, Circle2* out) {
  if (points.size() < 3 || !Finite(start)) return false;
  auto cost = [&](const Circle2& c) {
    double s = 0;
    for (const auto& [x, y] : points) {
      const double e = Len(x - c.x, y - c.y) - c.r;
      s += e * e;
    }
    return s;
  };
  Circle2 c = start;
  double f = cost(c), lambda = 1e-3;
  for (int it = 0; it < 100; ++it) {
    double a[3][3] = {}, b[3] = {};
    for (const auto& [x, y] : points) {
      const double dx = x - c.x, dy = y - c.y, d = Len(dx, dy);
      if (d == 0) continue;
      const double J[3] = {-dx / d, -dy / d, -1};
      const double e = d - c.r;
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) a[i][j] += J[i] * J[j];
        b[i] -= J[i] * e;
      }
    }
    bool improved = false;
    while (lambda < 1e12) {
      double m[3][3], rhs[3] = {b[0], b[1], b[2]}, step[3];
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] = a[i][j] + (i == j ? lambda * a[i][i] : 0);
      if (!Solve3(m, rhs, step)) {
        lambda *= 10;
        continue;
      }
      const Circle2 n{c.x + step[0], c.y + step[1], c.r + step[2]};
      const double fn = cost(n);
      if (std::isfinite(fn) && fn <= f) {
        const bool tiny = std::fabs(step[0]) + std::fabs(step[1]) + std::fabs(step[2]) < 1e-10 * (1 + c.r);
        c = n, f = fn, lambda = std::max(lambda / 10, 1e-12), improved = !tiny;
        break;
      }
      lambda *= 10;
    }
    if (!improved) break;
  }
  if (!Finite(c)) return false;
  *out = c;
  return true;
}

bool CircleThrough(const std::array<std::pair<double, double>, 3>& p, Circle2* out) {
  const double ax = p[0].first, ay = p[0].second;
  const double bx = p[1].first - ax, by = p[1].second - ay, cx = p[2].first - ax, cy = p[2].second - ay;
  const double d = 2 * (bx * cy - by * cx);
  const double scale = (bx * bx + by * by) * (cx * cx + cy * cy);
  if (!(std::fabs(d) > 1e-9 * std::sqrt(scale))) return false;
  const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
  const double ux = (cy * b2 - by * c2) / d, uy = (bx * c2 - cx * b2) / d;
  const Circle2 c{ax + ux, ay + uy, Len(ux, uy)};
  if (!Finite(c)) return false;
  *out = c;
  return true;
}

namespace {

// Passes from one seed: rays from the current circle, robust fit, a narrower
// band. `press` (cells, or null) is the pressed crest the circle must pass.
RefinedCircle RefineFrom(const Layer& v, const Circle2& seed, const std::pair<int, int>* press) {
  RefinedCircle res;
  res.seed = seed;
  auto fail = [&](RefineFailure f, std::string message) {
    res.refined = false;
    res.failure = f;
    res.message = std::move(message);
    return res;
  };
  if (seed.r < 3) return fail(RefineFailure::NoSeed, Failed("слишком малый радиус"));
  // Nearly collinear clicks give a circle far larger than any sphere in the picture.
  if (seed.r > 2.0 * std::max(v.w, v.h)) return fail(RefineFailure::NoSeed, Failed("слишком большой радиус"));
  Circle2 c = seed;
  double band = std::max(4.0, 0.12 * c.r);
  std::vector<RayEdge> edges;
  RobustFit fit;
  int inside = 0;
  // Coarse passes (at most 180 rays) while the circle still moves by more than
  // a twentieth of a cell, then passes with up to 360 rays until it moves by
  // less than a hundredth.
  bool fine = false;
  for (int pass = 1; pass <= 20; ++pass) {
    res.passes = pass;
    inside = CastRays(v, c, band, fine ? 360 : 180, fine ? 5 : 3, &edges);
    // Edges that stand out: at least four times the ray's typical change.
    Points pts;
    for (const RayEdge& e : edges)
      if (e.strength > 4 * e.noise && e.strength > 0) pts.emplace_back(e.x, e.y);
    res.rays = inside;
    if (pts.size() < 16 || !FitRobust(pts, &fit))
      return fail(RefineFailure::TooFewPoints,
                  Failed(("найдено только " + std::to_string(pts.size()) + " точек края").c_str()));
    if (fit.c.r < 3 || fit.c.r > 2.0 * std::max(v.w, v.h))
      return fail(RefineFailure::MovedTooFar, Failed("окружность ушла слишком далеко от начальной"));
    const double move = std::max(Len(fit.c.x - c.x, fit.c.y - c.y), std::fabs(fit.c.r - c.r));
    c = fit.c;
    band = std::clamp(3 * fit.rms + 2, 3.0, band);
    // A move below half the centre's standard error (rms * sqrt(2 / points))
    // is the fit's own noise, the kept set swapping a few points: not a move.
    const double noise = 0.5 * fit.rms * std::sqrt(2.0 / fit.used);
    if (fine && move < std::max(0.01, noise)) break;
    if (!fine && move < std::max(0.05, noise)) fine = true;
  }
  res.points = fit.used;
  res.rms = fit.rms;
  if (fit.used < std::max(16, static_cast<int>(0.4 * inside)))
    return fail(RefineFailure::TooFewPoints,
                Failed(("на окружности только " + std::to_string(fit.used) + " точек края из " +
                        std::to_string(inside))
                           .c_str()));
  // A sphere's outline lies within a few cells of its circle even when the
  // object is not quite round (the orange of the fruit frame: rms 1.8 at
  // radius 202); edges of unrelated things scatter far wider.
  if (fit.rms > std::max(1.5, 0.02 * c.r))
    return fail(RefineFailure::NotACircle, Failed("точки края не ложатся на окружность"));
  const double limit = std::max(5.0, 0.3 * seed.r);
  if (Len(c.x - seed.x, c.y - seed.y) > limit || std::fabs(c.r - seed.r) > limit)
    return fail(RefineFailure::MovedTooFar, Failed("окружность ушла слишком далеко от начальной"));
  if (press && std::fabs(Len(press->first - c.x, press->second - c.y) - c.r) > std::max(4.0, 0.05 * c.r))
    return fail(RefineFailure::MovedTooFar, Failed("окружность не проходит через точку нажатия"));
  res.refined = true;
  res.circle = c;
  return res;
}

}  // namespace

RefinedCircle RefineCircle(const double* intensity, const double* response, int width, int height,
                           const RefineSeed& seed, const Circle2& unrefined) {
  RefinedCircle res;
  auto fail = [&](RefineFailure f, std::string message) {
    res.refined = false;
    res.circle = unrefined;
    res.failure = f;
    res.message = std::move(message);
    return res;
  };
  if (!intensity || width < 8 || height < 8) return fail(RefineFailure::NoImage, Failed("нет изображения интенсивности"));
  const Layer v{intensity, width, height};

  if (seed.kind == RefineSeed::Kind::Press) {
    if (!response) return fail(RefineFailure::NoContour, Failed("контур не вычислен"));
    std::vector<Circle2> seeds;
    std::pair<int, int> crest;
    if (seed.pressX < 1 || seed.pressY < 1 || seed.pressX > width || seed.pressY > height ||
        !SeedsFromPress(v, Layer{response, width, height}, seed.pressX, seed.pressY, &seeds, &crest.first,
                        &crest.second))
      return fail(RefineFailure::NoSeed, Failed("у точки нажатия не найден край шара"));
    // The first seed that leads to a circle; else the first seed's failure.
    for (const Circle2& s : seeds) {
      RefinedCircle r = RefineFrom(v, s, &crest);
      if (r.refined) return r;
      if (&s == &seeds.front()) res = std::move(r);
    }
    res.circle = unrefined;
    return res;
  }
  std::array<std::pair<double, double>, 3> p;
  for (int i = 0; i < 3; ++i) p[i] = {seed.clicks[i].first, seed.clicks[i].second};
  Circle2 through;
  if (!CircleThrough(p, &through)) return fail(RefineFailure::NoSeed, Failed("три точки лежат на одной прямой"));
  res = RefineFrom(v, through, nullptr);
  if (!res.refined) res.circle = unrefined;
  return res;
}

RefinedCircle RefineSphereCircle(const AppState& state, const RefineSeed& seed) {
  const Circle2 unrefined{state.Circle.CircleCentreX, state.Circle.CircleCentreY, state.Circle.CircleRadius};
  const ResultLayers& map = state.ResultMap;
  const bool sized = !map.empty() && map.width() == state.SetWidth && map.height() == state.SetHeight;
  const double* v = sized ? map.layer(FirstLayer(DefinitionForMode(state.IntensityMode))) : nullptr;
  const double* r = sized ? map.layer(19) : nullptr;
  return RefineCircle(v, r, state.SetWidth, state.SetHeight, seed, unrefined);
}

RefinedCircle RefineAfterPress(const AppState& state, const SphereSession& session, const PressResult& press) {
  // A fit that was refused (a trace that stopped after a few cells, a circle
  // off the image) still leaves the user's press: the refinement starts from
  // it and may find the sphere where the specified fit could not.
  const bool fitted = press.circleChanged || press.refusal != CircleRefusal::None;
  if (fitted && press.traced) return RefineSphereCircle(state, RefineSeed::Press(press.cellX, press.cellY));
  if (fitted && session.ManualPointCount >= 3) {
    std::array<std::pair<int, int>, 3> clicks;
    for (int i = 0; i < 3; ++i) clicks[i] = {session.ManualPoints[i][0], session.ManualPoints[i][1]};
    return RefineSphereCircle(state, RefineSeed::ThreeClicks(clicks));
  }
  RefinedCircle none;
  none.circle = {state.Circle.CircleCentreX, state.Circle.CircleCentreY, state.Circle.CircleRadius};
  none.failure = RefineFailure::NoSeed;
  none.message = Failed("нет новой окружности");
  return none;
}

bool StoreRefinedCircle(AppState& state, const RefinedCircle& refined) {
  if (!refined.refined) return false;
  state.Circle.CircleCentreX = refined.circle.x;
  state.Circle.CircleCentreY = refined.circle.y;
  state.Circle.CircleRadius = refined.circle.r;
  return true;
}

const char* RefineFailureName(RefineFailure failure) {
  switch (failure) {
    case RefineFailure::None: return "none";
    case RefineFailure::NoImage: return "no_image";
    case RefineFailure::NoContour: return "no_contour";
    case RefineFailure::NoSeed: return "no_seed";
    case RefineFailure::TooFewPoints: return "too_few_points";
    case RefineFailure::MovedTooFar: return "moved_too_far";
    case RefineFailure::NotACircle: return "not_a_circle";
  }
  return "none";
}

}  // namespace ps
