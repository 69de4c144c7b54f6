// A synthetic but physically plausible image set: a smooth dielectric sphere on a
// textured, weakly polarizing background, photographed through a linear
// polarizer at 0, 45, 90 and 135 degrees.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "imageio/bmp_writer.h"

namespace ps {

struct SampleSceneOptions {
  int width = 320;
  int height = 240;
  uint32_t seed = 1;
  double refractiveIndex = 1.5;
  double noiseSigma = 1.5;  // sensor noise, grey levels
  // The sphere in map cells, fractions allowed; a radius of 0 places it at the
  // default spot (centre at 52 % and 49 % of the size, radius a third of the
  // smaller side, all rounded to whole cells).
  double centreX = 0;
  double centreY = 0;
  double radius = 0;
};

struct SampleScene {
  std::array<RgbImage, 4> images;  // 0, 45, 90, 135 degrees
  // The sphere in map cells (pixel x, y 1-based; a pixel's centre is at its index).
  double centreX = 0;
  double centreY = 0;
  double radius = 0;
};

// Degree of linear polarization of diffusely reflected light for a surface whose
// normal makes the zenith angle `theta` with the viewing direction.
double DiffuseDegreeOfPolarization(double theta, double n);

SampleScene RenderSampleScene(const SampleSceneOptions& options);

// Writes 0.bmp, 45.bmp, 90.bmp, 135.bmp (24-bit) and truth.txt into `dir`.
bool WriteSampleScene(const SampleScene& scene, const std::string& dir, std::string* error);

}  // namespace ps
