// Result maps with chosen per-pixel values and small synthetic image sets for
// the display tests.
#pragma once

#include <cmath>
#include <vector>

#include "display/surface.h"
#include "polarization/polarization.h"
#include "state/app_state.h"
#include "support/test_support.h"

namespace ps::test {

// A set of W x H cells whose result map (maximum definition, the lookup's
// choice for IntensityMode 5) holds the values `fill` gives for each cell.
template <class Fill>
AppState MapState(int W, int H, Fill fill) {
  AppState s;
  s.createImageSet(W, H);
  s.SlotLoaded = {true, true, true, true};
  s.Header.FileSignature = "BM";
  s.Header.BitsPerPixel = 24;
  s.Header.ImageWidth = W;
  s.Header.ImageHeight = H;
  s.IntensityMode = kModeMax;
  s.createResultMap();
  for (int y = 1; y <= H; ++y)
    for (int x = 1; x <= W; ++x) {
      const PixelValues v = fill(x, y);
      const double layers[5] = {v.A0, v.AxisRatio, v.EllipticityAngle, v.Azimuth, v.UndefinedMarker};
      for (int l = 0; l < 5; ++l) s.ResultMap.set(x, y, l + 1, layers[l]);
    }
  return s;
}

inline PixelValues Pixel(double a0, double ratio, double azimuth, double marker = 0) {
  PixelValues v;
  v.A0 = a0;
  v.AxisRatio = ratio;
  v.EllipticityAngle = std::atan(ratio);
  v.Azimuth = azimuth;
  v.UndefinedMarker = marker;
  return v;
}

// A sphere seen by the camera: every cell's azimuth is the direction from the
// centre (cx, cy) to the cell taken as an axis, so it jumps from +pi/2 to
// -pi/2 across the vertical through the centre. Axis ratio 0.3, intensity
// 100 + x. RadialAngle is the same direction without the jump: in (0, pi) for
// every cell above the centre.
inline double RadialAngle(int x, int y, double cx, double cy) { return std::atan2(cy - y, x - cx); }
inline AppState SeamSphereState(int W, int H, double cx, double cy) {
  return MapState(W, H, [&](int x, int y) {
    double a = RadialAngle(x, y, cx, cy);
    if (a > kPi / 2) a -= kPi;
    else if (a <= -kPi / 2) a += kPi;
    return Pixel(100 + x, 0.3, a);
  });
}
// The weighted 5 x 5 sum (kernel minus subtracted kernel, percent) of the
// radial angle around cell (x, y) above the centre: the smoothed azimuth with
// no wrap in the way, brought into the azimuth range.
inline double UnwrappedSum(const DetectionSettings& d, bool subtract, int x, int y, double cx, double cy) {
  double sum = 0;
  for (int i = x - 2; i <= x + 2; ++i)
    for (int j = y - 2; j <= y + 2; ++j) {
      const float w = d.WeightKernel[i - x + 2][j - y + 2] - (subtract ? d.SubtractKernel[i - x + 2][j - y + 2] : 0.0f);
      sum += w * RadialAngle(i, j, cx, cy) / 100;
    }
  return sum > kPi / 2 ? sum - kPi : sum;
}

inline std::vector<RecordingSurface::Op> OpsOf(const RecordingSurface& s, RecordingSurface::Kind k) {
  std::vector<RecordingSurface::Op> out;
  for (const auto& op : s.ops())
    if (op.kind == k) out.push_back(op);
  return out;
}

inline bool SamePixels(const RasterSurface& a, const RasterSurface& b) {
  return a.width() == b.width() && a.height() == b.height() &&
         std::equal(a.data(), a.data() + a.stride() * a.height(), b.data());
}

// Four 24-bit photographs of a gradient whose polarization turns across the
// image: enough structure for every drawing path.
inline std::vector<RgbImage> SyntheticPhotographs(int W, int H) {
  std::vector<RgbImage> images(4);
  for (int k = 0; k < 4; ++k) {
    RgbImage& im = images[k];
    im.width = W;
    im.height = H;
    im.rgb.resize(static_cast<size_t>(W) * H * 3);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double azimuth = 3.0 * x / W - 1.5;
        const double degree = 0.2 + 0.6 * y / H;
        const double i0 = 60 + 100.0 * (x + y) / (W + H);
        const double i = i0 * (1 + degree * std::cos(2 * (k * 3.14159 / 4 - azimuth)));
        uint8_t* p = im.pixel(x, y);
        const double factor[3] = {1, 0.9, 0.8};
        for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::lround(std::min(255.0, i * factor[c])));
      }
  }
  return images;
}

// The photographs above loaded as a processed set.
inline AppState SyntheticSet(int W, int H) {
  AppState s;
  std::vector<std::vector<uint8_t>> slots;
  for (const RgbImage& im : SyntheticPhotographs(W, H)) slots.push_back(im.rgb);
  FillSet24(s, W, H, slots);
  s.ColouredPixelCount = {W * H, W * H, W * H, W * H};
  ЗаполнениеМассива(s);
  return s;
}

}  // namespace ps::test
