// Helpers of the learning tests: synthetic processed sets and parameters, files
// written byte for byte, and command lines on the bundled sample set.
#pragma once

#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <tuple>

#include "learning/network.h"
#include "polarization/polarization.h"
#include "sphere/detection_settings.h"
#include "state/app_state.h"
#include "support/test_support.h"

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
    for (int y = 1; y <= height; ++y)
      for (const auto [layer, scale, offset] : {std::tuple{0, 255.0, 0.0}, {1, 1.0, 0.0}, {2, 0.7854, 0.0}, {3, kPi, -0.5}})
        s.ResultMap.set(x, y, first + layer, scale * (u(gen) + offset));
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

inline void Spit(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

inline std::string Q(const std::string& s) { return "'" + s + "'"; }

// "<sample files> --circle 166 118 79 --data 'dir' ": the sphere of the sample (truth.txt).
inline std::string SampleArgs(const std::string& dataDir, const char* circle = "--circle 166 118 79") {
  std::string a;
  for (const std::string& f : SampleFiles()) a += Q(f) + " ";
  return a + circle + " --data " + Q(dataDir) + " ";
}

// The number after "key": in a JSON text from `from` on (NaN when absent or null).
inline double JsonNumber(const std::string& json, const std::string& key, size_t from = 0) {
  const size_t at = json.find("\"" + key + "\": ", from);
  if (at == std::string::npos || json.compare(at + key.size() + 4, 4, "null") == 0)
    return std::numeric_limits<double>::quiet_NaN();
  return std::stod(json.substr(at + key.size() + 4));
}

}  // namespace ps::test
