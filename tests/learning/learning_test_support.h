// Synthetic processed sets for the learning tests: a result map filled with
// random but reproducible values, a circle and the default smoothing kernel.
#pragma once

#include <random>

#include "learning/network.h"
#include "polarization/polarization.h"
#include "sphere/detection_settings.h"
#include "state/app_state.h"

namespace ps::test {

// A width x height map whose mean-definition layers hold random A0 (0..255),
// axis ratio (0..1) and azimuth (-pi/2..pi/2); the circle as given.
inline AppState RandomProcessedState(int width, int height, double cx, double cy, double r, unsigned seed = 7) {
  AppState s;
  s.SetWidth = width;
  s.SetHeight = height;
  s.createResultMap();
  s.IntensityMode = kModeMean;
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int first = FirstLayer(Definition::Mean);
  for (int x = 1; x <= width; ++x)
    for (int y = 1; y <= height; ++y) {
      s.ResultMap.set(x, y, first, 255 * u(gen));
      s.ResultMap.set(x, y, first + 1, u(gen));
      s.ResultMap.set(x, y, first + 2, 0.7854 * u(gen));
      s.ResultMap.set(x, y, first + 3, kPi * (u(gen) - 0.5));
    }
  s.Detection.WeightKernel = PresetValues(KernelPreset::GaussWithoutCentre).weight;
  s.Circle = SphereCircle{cx, cy, r};
  return s;
}

// Parameters with every element and scalar drawn from `gen`.
inline NetworkParameters RandomParameters(std::mt19937& gen, double scale = 0.3) {
  std::uniform_real_distribution<double> u(-scale, scale);
  NetworkParameters p;
  for (int t = 1; t <= 4; ++t)
    for (auto& row : p.templ(t))
      for (double& v : row) v = u(gen);
  p.Смещение = u(gen);
  p.Крутизна = 0.13 + u(gen);
  p.НачальнаяСуммаСинапсов = u(gen);
  p.ВесАзимутаОбщий = u(gen);
  return p;
}

}  // namespace ps::test
