#include "display/surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace ps {

int RoundHalfEven(double v) {
  if (std::isnan(v)) return 0;
  if (v > 2e9) return 2000000000;
  if (v < -2e9) return -2000000000;
  return static_cast<int>(std::nearbyint(v));
}

namespace {
// Pixel coordinate of a drawing position, nearest with halves to even; false
// for NaN. Adding and taking away 1.5 * 2^52 rounds in the FPU's default mode
// (to nearest, halves to even) without a library call.
bool ToPixel(double v, long long* out) {
  if (std::isnan(v)) return false;
  constexpr double kMagic = 6755399441055744.0;
  const double shifted = std::clamp(v, -1e9, 1e9) + kMagic;
  *out = static_cast<long long>(shifted - kMagic);
  return true;
}

void CheckSize(int width, int height) {
  if (width < 0 || height < 0 || static_cast<long long>(width) * height > (1LL << 28))
    throw std::length_error("drawing surface size out of range");
}
}  // namespace

// ---- Recording surface ---------------------------------------------------------

void RecordingSurface::resize(int width, int height) {
  CheckSize(width, height);
  width_ = width;
  height_ = height;
  ops_.push_back({Kind::Clear, 0, 0, 0, 0, 0, background_});
}

void RecordingSurface::clear() { ops_.push_back({Kind::Clear, 0, 0, 0, 0, 0, background_}); }

void RecordingSurface::fillRect(int x1, int y1, int x2, int y2, Colour c) {
  ops_.push_back({Kind::FillRect, double(x1), double(y1), double(x2), double(y2), 0, c});
}

void RecordingSurface::point(double x, double y, Colour c) { ops_.push_back({Kind::Point, x, y, x, y, 0, c}); }

void RecordingSurface::line(double x1, double y1, double x2, double y2, Colour c) {
  ops_.push_back({Kind::Line, x1, y1, x2, y2, 0, c});
}

void RecordingSurface::circle(double cx, double cy, double radius, Colour c) {
  ops_.push_back({Kind::Circle, cx, cy, cx, cy, radius, c});
}

Colour RecordingSurface::pixel(int x, int y) const {
  for (auto it = ops_.rbegin(); it != ops_.rend(); ++it) {
    const Op& op = *it;
    if (op.kind == Kind::Clear) return background_;
    if (op.kind == Kind::FillRect) {
      if (x >= std::min(op.x1, op.x2) && x <= std::max(op.x1, op.x2) && y >= std::min(op.y1, op.y2) &&
          y <= std::max(op.y1, op.y2))
        return StripFlag(op.colour);
    } else if (op.kind == Kind::Point) {
      if (RoundHalfEven(op.x1) == x && RoundHalfEven(op.y1) == y) return StripFlag(op.colour);
    }
  }
  return background_;
}

size_t RecordingSurface::count(Kind k) const {
  return static_cast<size_t>(std::count_if(ops_.begin(), ops_.end(), [k](const Op& o) { return o.kind == k; }));
}

// ---- Raster surface ------------------------------------------------------------

RasterSurface::RasterSurface(int width, int height, Colour background)
    : width_(0), height_(0), background_(StripFlag(background)) {
  resize(width, height);
}

void RasterSurface::resize(int width, int height) {
  CheckSize(width, height);
  width_ = width;
  height_ = height;
  data_.assign(static_cast<size_t>(width) * height * 3, 0);
  clear();
}

void RasterSurface::clear() {
  if (data_.empty()) return;
  const uint8_t r = static_cast<uint8_t>(background_), g = static_cast<uint8_t>(background_ >> 8),
                b = static_cast<uint8_t>(background_ >> 16);
  if (r == g && g == b) {
    std::memset(data_.data(), r, data_.size());
    return;
  }
  for (size_t i = 0; i < data_.size(); i += 3) {
    data_[i] = r;
    data_[i + 1] = g;
    data_[i + 2] = b;
  }
}

void RasterSurface::fillRect(int x1, int y1, int x2, int y2, Colour c) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width_ - 1);
  y2 = std::min(y2, height_ - 1);
  if (x1 > x2 || y1 > y2) return;
  const uint8_t r = static_cast<uint8_t>(c), g = static_cast<uint8_t>(c >> 8), b = static_cast<uint8_t>(c >> 16);
  const size_t rowBytes = static_cast<size_t>(x2 - x1 + 1) * 3;
  uint8_t* first = &data_[static_cast<size_t>(y1) * stride() + static_cast<size_t>(x1) * 3];
  for (size_t i = 0; i < rowBytes; i += 3) {
    first[i] = r;
    first[i + 1] = g;
    first[i + 2] = b;
  }
  for (int y = y1 + 1; y <= y2; ++y)
    std::memcpy(&data_[static_cast<size_t>(y) * stride() + static_cast<size_t>(x1) * 3], first, rowBytes);
}

void RasterSurface::point(double x, double y, Colour c) {
  long long px, py;
  if (!ToPixel(x, &px) || !ToPixel(y, &py)) return;
  if (px < 0 || py < 0 || px >= width_ || py >= height_) return;
  set(static_cast<int>(px), static_cast<int>(py), c);
}

void RasterSurface::line(double x1, double y1, double x2, double y2, Colour c) {
  long long ax, ay, bx, by;
  if (!ToPixel(x1, &ax) || !ToPixel(y1, &ay) || !ToPixel(x2, &bx) || !ToPixel(y2, &by)) return;
  // Entirely outside on one side: nothing to draw.
  if ((ax < 0 && bx < 0) || (ay < 0 && by < 0) || (ax >= width_ && bx >= width_) || (ay >= height_ && by >= height_))
    return;
  // Bresenham, both ends included.
  const long long dx = std::llabs(bx - ax), dy = -std::llabs(by - ay);
  const long long sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
  long long err = dx + dy;
  if (std::min(ax, bx) >= 0 && std::min(ay, by) >= 0 && std::max(ax, bx) < width_ && std::max(ay, by) < height_) {
    // Wholly inside: step through the buffer without bounds checks.
    const uint8_t r = static_cast<uint8_t>(c), g = static_cast<uint8_t>(c >> 8), b = static_cast<uint8_t>(c >> 16);
    const long long stepX = 3 * sx, stepY = static_cast<long long>(stride()) * sy;
    uint8_t* p = &data_[static_cast<size_t>(ay) * stride() + static_cast<size_t>(ax) * 3];
    for (;;) {
      p[0] = r;
      p[1] = g;
      p[2] = b;
      if (ax == bx && ay == by) return;
      const long long e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        ax += sx;
        p += stepX;
      }
      if (e2 <= dx) {
        err += dx;
        ay += sy;
        p += stepY;
      }
    }
  }
  for (;;) {
    if (ax >= 0 && ay >= 0 && ax < width_ && ay < height_) set(static_cast<int>(ax), static_cast<int>(ay), c);
    if (ax == bx && ay == by) break;
    const long long e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      ax += sx;
    }
    if (e2 <= dx) {
      err += dx;
      ay += sy;
    }
  }
}

void RasterSurface::circle(double cx, double cy, double radius, Colour c) {
  long long x0, y0, r;
  if (!ToPixel(cx, &x0) || !ToPixel(cy, &y0) || !ToPixel(std::fabs(radius), &r)) return;
  if (r > 100000) return;
  auto plot = [&](long long x, long long y) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) set(static_cast<int>(x), static_cast<int>(y), c);
  };
  // Midpoint circle: eight symmetric octants.
  long long x = r, y = 0, err = 1 - r;
  while (x >= y) {
    plot(x0 + x, y0 + y);
    plot(x0 + y, y0 + x);
    plot(x0 - y, y0 + x);
    plot(x0 - x, y0 + y);
    plot(x0 - x, y0 - y);
    plot(x0 - y, y0 - x);
    plot(x0 + y, y0 - x);
    plot(x0 + x, y0 - y);
    ++y;
    if (err < 0) {
      err += 2 * y + 1;
    } else {
      --x;
      err += 2 * (y - x) + 1;
    }
  }
}

Colour RasterSurface::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return background_;
  const uint8_t* p = &data_[static_cast<size_t>(y) * stride() + static_cast<size_t>(x) * 3];
  return Colour(p[0]) | (Colour(p[1]) << 8) | (Colour(p[2]) << 16);
}

void CopyPicture(const Surface& from, Surface& to) {
  to.resize(from.width(), from.height());
  auto* src = dynamic_cast<const RasterSurface*>(&from);
  auto* dst = dynamic_cast<RasterSurface*>(&to);
  if (src && dst) {
    std::memcpy(dst->data(), src->data(), static_cast<size_t>(src->stride()) * src->height());
    return;
  }
  for (int x = 0; x < from.width(); ++x)
    for (int y = 0; y < from.height(); ++y) to.point(x, y, from.pixel(x, y));
}

}  // namespace ps
