// Result maps with chosen per-pixel values and synthetic image sets for the display and export tests.
#pragma once

#include <cmath>
#include <vector>

#include "display/surface.h"
#include "polarization/polarization.h"
#include "state/app_state.h"
#include "support/test_support.h"

namespace ps::test {

struct Px {
  double a0, ratio, azimuth, marker = 0;
};
inline Px Pixel(double a0, double ratio, double azimuth, double marker = 0) { return {a0, ratio, azimuth, marker}; }

// A W x H set whose result map (maximum definition) holds the values `fill` gives each cell.
template <class Fill>
AppState MapState(int W, int H, Fill fill) {
  AppState s;
  s.createImageSet(W, H);
  s.SlotLoaded = {true, true, true, true};
  s.Header.FileSignature = "BM";
  s.Header.BitsPerPixel = 24, s.Header.ImageWidth = W, s.Header.ImageHeight = H;
  s.IntensityMode = kModeMax;
  s.createResultMap();
  for (int y = 1; y <= H; ++y)
    for (int x = 1; x <= W; ++x) {
      const Px v = fill(x, y);
      const double layers[5] = {v.a0, v.ratio, std::atan(v.ratio), v.azimuth, v.marker};
      for (int l = 0; l < 5; ++l) s.ResultMap.set(x, y, l + 1, layers[l]);
    }
  return s;
}

// A sphere seen by the camera: each cell's azimuth is the direction from the centre (cx, cy) taken as
// an axis, jumping from +pi/2 to -pi/2 across the vertical through it; RadialAngle has no jump.
inline double RadialAngle(int x, int y, double cx, double cy) { return std::atan2(cy - y, x - cx); }
inline AppState SeamSphereState(int W, int H, double cx, double cy) {
  return MapState(W, H, [&](int x, int y) {
    const double a = RadialAngle(x, y, cx, cy);
    return Pixel(100 + x, 0.3, a > kPi / 2 ? a - kPi : a <= -kPi / 2 ? a + kPi : a);
  });
}
// The 5 x 5 weighted sum (percent) of the radial angle around a cell above the centre, in the azimuth range.
inline double UnwrappedSum(const DetectionSettings& d, bool subtract, int x, int y, double cx, double cy) {
  double sum = 0;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j)
      sum += (d.WeightKernel[i][j] - (subtract ? d.SubtractKernel[i][j] : 0.0f)) * RadialAngle(x + i - 2, y + j - 2, cx, cy) / 100;
  return sum > kPi / 2 ? sum - kPi : sum;
}

inline bool SamePixels(const RasterSurface& a, const RasterSurface& b) {
  return a.width() == b.width() && a.height() == b.height() &&
         std::equal(a.data(), a.data() + a.stride() * a.height(), b.data());
}

// Four 24-bit photographs of a gradient whose polarization turns across the image.
inline std::vector<RgbImage> SyntheticPhotographs(int W, int H) {
  std::vector<RgbImage> images(4, RgbImage{W, H, std::vector<uint8_t>(static_cast<size_t>(W) * H * 3)});
  for (int k = 0; k < 4; ++k)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double azimuth = 3.0 * x / W - 1.5, degree = 0.2 + 0.6 * y / H;
        const double i = (60 + 100.0 * (x + y) / (W + H)) * (1 + degree * std::cos(2 * (k * 3.14159 / 4 - azimuth)));
        const double factor[3] = {1, 0.9, 0.8};
        for (int c = 0; c < 3; ++c) images[k].pixel(x, y)[c] = static_cast<uint8_t>(std::lround(std::min(255.0, i * factor[c])));
      }
  return images;
}

}  // namespace ps::test
