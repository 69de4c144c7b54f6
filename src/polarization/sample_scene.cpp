#include "polarization/sample_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "state/atomic_file.h"

namespace ps {

namespace {

constexpr double kTruePi = 3.14159265358979323846;

// Deterministic normal noise (Box-Muller on a Mersenne Twister), independent of
// the standard library's distribution implementation.
class Noise {
 public:
  explicit Noise(uint32_t seed) : rng_(seed) {}
  double uniform() { return (rng_() + 0.5) / 4294967296.0; }
  double normal() {
    const double u1 = uniform(), u2 = uniform();
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * kTruePi * u2);
  }

 private:
  std::mt19937 rng_;
};

// Smooth texture in [0, 1] from a few random sinusoids.
struct Texture {
  double fx[6], fy[6], ph[6];
  explicit Texture(Noise& n) {
    for (int i = 0; i < 6; ++i) {
      fx[i] = (n.uniform() - 0.5) * 0.25;
      fy[i] = (n.uniform() - 0.5) * 0.25;
      ph[i] = n.uniform() * 2 * kTruePi;
    }
  }
  double at(double x, double y) const {
    double s = 0;
    for (int i = 0; i < 6; ++i) s += std::sin(fx[i] * x + fy[i] * y + ph[i]);
    return 0.5 + s / 12;
  }
};

}  // namespace

double DiffuseDegreeOfPolarization(double theta, double n) {
  const double s2 = std::sin(theta) * std::sin(theta);
  const double a = (n - 1 / n) * (n - 1 / n) * s2;
  const double b = 2 + 2 * n * n - (n + 1 / n) * (n + 1 / n) * s2 + 4 * std::cos(theta) * std::sqrt(n * n - s2);
  return a / b;
}

SampleScene RenderSampleScene(const SampleSceneOptions& o) {
  SampleScene scene;
  const int w = o.width, h = o.height;
  scene.centreX = o.radius > 0 ? o.centreX : std::round(0.52 * w);
  scene.centreY = o.radius > 0 ? o.centreY : std::round(0.49 * h);
  scene.radius = o.radius > 0 ? o.radius : std::round(0.33 * std::min(w, h));
  Noise noise(o.seed);
  const Texture texture(noise);
  const Texture tint(noise);
  const Texture angle(noise);
  for (auto& img : scene.images) {
    img.width = w;
    img.height = h;
    img.rgb.assign(static_cast<size_t>(w) * h * 3, 0);
  }
  // Soft light from the viewer's side, a little from the upper left, as under the
  // diffuse lighting of a calibration photograph: the sphere stays bright up to
  // its rim, so its outline is the strongest edge in the picture.
  const double lx = -0.15, ly = -0.2, lz = std::sqrt(1 - lx * lx - ly * ly);
  const double sphereColour[3] = {1.0, 0.82, 0.62};
  constexpr int kSub = 4;  // supersampling of the sphere's outline
  for (int py = 1; py <= h; ++py) {
    for (int px = 1; px <= w; ++px) {
      // Per channel: unpolarized level and the (a2, b2) part, averaged over sub-samples.
      double a0[3] = {0, 0, 0}, a2[3] = {0, 0, 0}, b2[3] = {0, 0, 0};
      for (int sy = 0; sy < kSub; ++sy) {
        for (int sx = 0; sx < kSub; ++sx) {
          const double x = px - 0.5 + (sx + 0.5) / kSub;
          const double y = py - 0.5 + (sy + 0.5) / kSub;
          const double dx = (x - scene.centreX) / scene.radius, dy = (y - scene.centreY) / scene.radius;
          const double r2 = dx * dx + dy * dy;
          double level[3], dop, phi;
          if (r2 < 1) {
            const double nz = std::sqrt(1 - r2);
            const double shade = std::max(0.0, dx * lx + dy * ly + nz * lz);
            const double l = 160 + 60 * shade;
            for (int c = 0; c < 3; ++c) level[c] = l * sphereColour[c];
            dop = DiffuseDegreeOfPolarization(std::acos(nz), o.refractiveIndex);
            // Azimuth of the normal's image-plane direction, angles counted
            // anticlockwise from the x axis with y pointing up in the picture.
            phi = std::atan2(-dy, dx);
          } else {
            const double t = texture.at(x, y);
            const double grey = 28 + 34 * t;
            const double c = 0.08 * (tint.at(x, y) - 0.5);
            level[0] = grey * (1 + c);
            level[1] = grey;
            level[2] = grey * (1 - c);
            dop = 0.02 + 0.03 * angle.at(y, x);
            phi = 0.4 + 1.2 * (angle.at(x, y) - 0.5);
          }
          for (int c = 0; c < 3; ++c) {
            a0[c] += level[c];
            a2[c] += level[c] * dop * std::cos(2 * phi);
            b2[c] += level[c] * dop * std::sin(2 * phi);
          }
        }
      }
      for (int k = 0; k < 4; ++k) {
        const double theta = k * kTruePi / 4;
        uint8_t* out = scene.images[k].pixel(px - 1, py - 1);
        for (int c = 0; c < 3; ++c) {
          const double n = kSub * kSub;
          const double v = (a0[c] + a2[c] * std::cos(2 * theta) + b2[c] * std::sin(2 * theta)) / n +
                           o.noiseSigma * noise.normal();
          out[c] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
        }
      }
    }
  }
  return scene;
}

bool WriteSampleScene(const SampleScene& scene, const std::string& dir, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  static const char* names[4] = {"0.bmp", "45.bmp", "90.bmp", "135.bmp"};
  for (int k = 0; k < 4; ++k)
    if (!WriteFileBytes(dir + "/" + names[k], EncodeBmp24(scene.images[k]), error)) return false;
  char buf[128];
  std::snprintf(buf, sizeof buf, "centre_x %.3f\ncentre_y %.3f\nradius %.3f\n", scene.centreX, scene.centreY,
                scene.radius);
  const std::string truth =
      "# Sphere of the sample set, in map cells: pixel x counted from 1 at the left,\n"
      "# y from 1 at the top; a pixel's centre lies at its own index.\n" +
      std::string(buf);
  if (!WriteFileAtomically(dir + "/truth.txt", truth, error)) return false;
  return true;
}

}  // namespace ps
