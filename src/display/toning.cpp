#include "display/toning.h"

#include <algorithm>
#include <cmath>

#include "display/map_view.h"
#include "sphere/azimuth_smoothing.h"

namespace ps {

namespace {

struct Vec {
  double x, y, z;
};

// The view rotation: about x by α, then about y by β, then about z by γ, with
// the sines and cosines worked out once per picture.
struct Rotation {
  double ca, sa, cb, sb, cg, sg;
  explicit Rotation(const ToningView& view)
      : ca(std::cos(view.RotationX)),
        sa(std::sin(view.RotationX)),
        cb(std::cos(view.RotationY)),
        sb(std::sin(view.RotationY)),
        cg(std::cos(view.RotationZ)),
        sg(std::sin(view.RotationZ)) {}
  Vec operator()(Vec v) const {
    v = {v.x, v.y * ca - v.z * sa, v.y * sa + v.z * ca};
    v = {v.x * cb + v.z * sb, v.y, -v.x * sb + v.z * cb};
    v = {v.x * cg - v.y * sg, v.x * sg + v.y * cg, v.z};
    return v;
  }
};

SphereHit CastRay(const Rotation& rotate, double k, double x, double z);
void ToneOne(const AppState& state, const PixelLayers& px, const Rotation& rotate, const ToningView& view,
             int cellX, int cellY, Surface& left, Surface& right, EllipseColourMemory& memory);

// Grey of the integer part of an intensity, held within 0..255.
Colour Grey(double intensity) {
  const double g = std::floor(intensity);
  const long long n = std::isnan(g) ? 0 : static_cast<long long>(std::clamp(g, -1.0, 256.0));
  return Rgb(n, n, n) | kPaletteFlag;
}

}  // namespace

SphereHit CastToningRay(const ToningView& view, double x, double z) {
  return CastRay(Rotation(view), view.ToningScale, x, z);
}

namespace {

SphereHit CastRay(const Rotation& rotate, double k, double x, double z) {
  const Vec P = rotate({x * k, 10 * k, z * k});
  const Vec Q = rotate({x * k, -10 * k, z * k});
  const Vec d{Q.x - P.x, Q.y - P.y, Q.z - P.z};
  const double len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  SphereHit hit;
  if (std::fabs(d.y) >= 1e-3 * len && len > 0) {
    // The line parametrised by its y coordinate; the intersection with the larger y.
    const double a = d.x / d.y, b = d.z / d.y;
    const double p = P.x - P.y * a, q = P.z - P.y * b;
    const double A = a * a + b * b + 1, B = 2 * (q * b + p * a), C = p * p + q * q - 1;
    const double disc = B * B - 4 * A * C;
    if (disc < 0) return hit;
    hit.Y = (-B + std::sqrt(disc)) / 2 / A;
    hit.X = P.x + (hit.Y - P.y) * a;
    hit.Z = P.z + (hit.Y - P.y) * b;
  } else {
    // (Almost) no extent along y, where dividing by it loses the precision or
    // fails: the same intersection in the ray's own parameter t (P at 0, Q at 1).
    // The larger y is the smaller t when y falls along the ray; a ray level in y
    // takes the point nearer the viewer.
    const double dd = d.x * d.x + d.y * d.y + d.z * d.z;
    if (dd == 0) return hit;
    const double pd = P.x * d.x + P.y * d.y + P.z * d.z;
    const double pp = P.x * P.x + P.y * P.y + P.z * P.z;
    const double disc = pd * pd - dd * (pp - 1);
    if (disc < 0) return hit;
    const double root = std::sqrt(disc);
    const double t = d.y > 0 ? (-pd + root) / dd : (-pd - root) / dd;
    hit.X = P.x + t * d.x;
    hit.Y = P.y + t * d.y;
    hit.Z = P.z + t * d.z;
  }
  hit.Hit = hit.Z >= 0;
  return hit;
}

void ToneOne(const AppState& state, const PixelLayers& px, const Rotation& rotate, const ToningView& view,
             int cellX, int cellY, Surface& left, Surface& right, EllipseColourMemory& memory) {
  const double x = cellX - left.width() / 2.0;
  const double z = cellY - left.height() / 2.0;
  const SphereHit hit = CastRay(rotate, view.ToningScale, x, z);
  if (!hit.Hit) return;

  const SphereCircle& c = state.Circle;
  const double fu = std::floor(c.CircleRadius * hit.X + c.CircleCentreX);
  const double fv = std::floor(c.CircleRadius * hit.Y + c.CircleCentreY);
  const int W = std::min(state.SetWidth, px.Width), H = std::min(state.SetHeight, px.Height);
  // A centre outside the set has no values to show.
  if (!(fu >= 1 && fu <= W && fv >= 1 && fv <= H)) return;
  const int u = static_cast<int>(fu), v = static_cast<int>(fv);

  const size_t centre = px.index(u, v);
  const double k = px.AxisRatio[centre], phi = px.Azimuth[centre], a0 = px.A0[centre];
  const auto& wk = state.Detection.WeightKernel;
  double sumK = 0, sumA0 = 0;
  AzimuthSum azimuths(phi);
  for (int i = u - 2; i <= u + 2; ++i) {
    if (i < 1 || i > W) continue;
    for (int j = v - 2; j <= v + 2; ++j) {
      if (j < 1 || j > H) continue;
      const size_t n = px.index(i, j);
      const float w = wk[i - u + 2][j - v + 2];
      sumK += w * px.AxisRatio[n] / 100;
      azimuths.add(w, px.Azimuth[n]);
      sumA0 += w * px.A0[n] / 100;
    }
  }
  const double sumPhi = azimuths.value();

  const double sx = cellX, sy = left.height() - cellY;
  if (view.Ellipses) {
    left.point(sx, sy, ЦветДляЭллипса(k, phi, memory));
    right.point(sx, sy, ЦветДляЭллипса(sumK, sumPhi, memory));
  } else if (std::fabs(hit.X) <= 0.001 && std::fabs(hit.Y) <= 0.001) {
    left.point(sx, sy, Rgb(0, 200, 0) | kPaletteFlag);
    right.point(sx, sy, Rgb(0, 200, 0) | kPaletteFlag);
  } else {
    left.point(sx, sy, Grey(a0));
    right.point(sx, sy, Grey(sumA0));
  }
}

}  // namespace

void Тонирование(const AppState& state, const ToningView& view, int cellX, int cellY, Surface& left,
                 Surface& right, EllipseColourMemory& memory) {
  ToneOne(state, PixelLayers(state), Rotation(view), view, cellX, cellY, left, right, memory);
}

bool ToningSweep(const AppState& state, const ToningView& view, Surface& left, Surface& right,
                 const Progress& progress) {
  left.setBackground(kToningBackground);
  right.setBackground(kToningBackground);
  left.clear();
  right.clear();
  if (state.ResultMap.empty()) return true;
  EllipseColourMemory memory;
  const PixelLayers px(state);
  const Rotation rotate(view);
  const int w = left.width(), h = left.height();
  for (int cx = 0; cx <= w; ++cx) {
    if (progress.cancelled()) return false;
    for (int cy = 0; cy <= h; ++cy) ToneOne(state, px, rotate, view, cx, cy, left, right, memory);
    progress(cx + 1, w + 1);
  }
  return true;
}

WindowSize FullSizeWindow(int mapWidth, int mapHeight) { return {mapWidth + 18, mapHeight + 40}; }

FullSizeLayout FitFullSizeWindow(int mapWidth, int mapHeight, int availableWidth, int availableHeight,
                                 int scrollBar) {
  const WindowSize frame = FullSizeWindow(0, 0);
  const int maxW = std::max(1, availableWidth - frame.Width);
  const int maxH = std::max(1, availableHeight - frame.Height);
  FullSizeLayout l;
  l.HScroll = mapWidth > maxW;
  l.VScroll = mapHeight > maxH;
  // Each bar takes room from the other direction and may cut it in turn.
  for (int pass = 0; pass < 2; ++pass) {
    l.HScroll = l.HScroll || mapWidth + (l.VScroll ? scrollBar : 0) > maxW;
    l.VScroll = l.VScroll || mapHeight + (l.HScroll ? scrollBar : 0) > maxH;
  }
  l.Width = std::min(maxW, mapWidth + (l.VScroll ? scrollBar : 0));
  l.Height = std::min(maxH, mapHeight + (l.HScroll ? scrollBar : 0));
  return l;
}

void FullSizeCopy(const Surface& map, Surface& copy) { CopyPicture(map, copy); }

}  // namespace ps
