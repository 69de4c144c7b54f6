// polarsphere-cli process: reads a set of four photographs, processes it and
// prints a summary per intensity definition; --out writes every layer as .npy.
// Without --out the layers are only summed as they are computed, never stored:
// the summary needs no more memory than the photographs.
#include <filesystem>
#include <iostream>
#include <map>

#include "cli/cli.h"
#include "polarization/polarization.h"

namespace ps::cli {
namespace {

const char* const kQuantities[5] = {"a0", "axis_ratio", "ellipticity_angle", "azimuth", "undefined_marker"};

struct Summary {
  double meanA0 = 0, undefinedShare = 0, meanAxisRatio = 0, meanAzimuth = 0;
};

Summary Summarize(const DefinitionSums& sums, const AppState& state) {
  const double n = static_cast<double>(state.SetWidth) * state.SetHeight;
  return {sums.a0 / n, static_cast<double>(sums.undefinedPixels) / n, sums.axisRatio / n, sums.azimuth / n};
}

int Run(const std::vector<std::string>& argv) {
  Args args(argv, {{"--out", 1}, {"--json", 0}});
  if (!args.ok() || args.positional().size() != 4) {
    std::cerr << (args.ok() ? "process needs four files: F0 F45 F90 F135" : args.error()) << "\n";
    return 2;
  }
  AppState state;
  ProcessOptions options;
  options.keepLayers = args.has("--out");
  options.sumLayers = true;
  ProcessOutcome processed;
  if (!LoadProcessedSet(args.positional(), state, options, &processed)) return 1;

  std::map<std::string, std::string> files;
  if (args.has("--out")) {
    const std::string dir = args.value("--out");
    std::string error;
    if (!PrepareOutputFolder("--out", dir, &error)) {
      std::cerr << error << "\n";
      return 1;
    }
    for (Definition d : {Definition::Max, Definition::Mean, Definition::Luma}) {
      for (int q = 0; q < 5; ++q) {
        const std::string name = std::string(kQuantities[q]) + "_" + DefinitionName(d);
        const std::string path = dir + "/" + name + ".npy";
        if (!WriteNpy(path, state.ResultMap.layer(FirstLayer(d) + q), state.SetHeight, state.SetWidth, &error)) {
          std::cerr << error << "\n";
          return 1;
        }
        files[name] = path;
      }
    }
  }

  const bool json = args.has("--json");
  Json defs;
  if (!json)
    std::cout << state.SetWidth << " x " << state.SetHeight << ", " << state.Header.BitsPerPixel
              << " bits per pixel\n";
  for (Definition d : {Definition::Max, Definition::Mean, Definition::Luma}) {
    const Summary s = Summarize(processed.sums[FirstLayer(d) / 6], state);
    if (json) {
      defs.addRaw(DefinitionName(d), Json()
                                         .add("mean_a0", s.meanA0)
                                         .add("undefined_share", s.undefinedShare)
                                         .add("mean_axis_ratio", s.meanAxisRatio)
                                         .add("mean_azimuth", s.meanAzimuth)
                                         .str());
    } else {
      std::printf("%-5s mean a0 %8.3f   undefined %6.2f %%   mean axis ratio %6.4f   mean azimuth %+7.4f rad\n",
                  DefinitionName(d), s.meanA0, 100 * s.undefinedShare, s.meanAxisRatio, s.meanAzimuth);
    }
  }
  if (json) {
    Json f;
    for (const auto& [k, v] : files) f.add(k, v);
    std::cout << Json()
                     .add("width", state.SetWidth)
                     .add("height", state.SetHeight)
                     .add("bits_per_pixel", state.Header.BitsPerPixel)
                     .addRaw("definitions", defs.str())
                     .addRaw("files", f.str())
                     .str()
              << "\n";
  } else {
    for (const auto& [k, v] : files) std::cout << "wrote " << v << "\n";
  }
  return 0;
}

PS_REGISTER_COMMAND(Command{
    "process", "process a set of four photographs and summarize the polarization",
    "usage: polarsphere-cli process F0 F45 F90 F135 [--out DIR] [--json]\n"
    "  Reads the photographs taken at polarizer azimuths 0, 45, 90 and 135 degrees\n"
    "  (BMP, 8 or 24 bits), computes every pixel's polarization under the three\n"
    "  intensity definitions and prints the mean a0, the share of undefined pixels,\n"
    "  the mean axis ratio and the mean azimuth of each.\n"
    "  --out DIR  also write QUANTITY_DEFINITION.npy (float64, height x width) for\n"
    "             a0, axis_ratio, ellipticity_angle, azimuth, undefined_marker and\n"
    "             max, mean, luma\n"
    "  --json     print the summary as one JSON object",
    Run});

}  // namespace
}  // namespace ps::cli
