// polarsphere-cli evaluate: how well the weights file of the data folder
// recognises the sphere's height. Prints the errors of the network's output
// against the target h, beside those of the constant mean(h) and of the
// diffuse Fresnel model, overall and by ring; optionally writes the error map.
#include <cmath>
#include <iostream>

#include "cli/cli.h"
#include "display/error_map.h"
#include "learning/evaluation.h"
#include "learning/files.h"
#include "polarization/polarization.h"
#include "sphere/contour.h"
#include "sphere/detection_settings.h"
#include "sphere/press.h"

namespace ps::cli {

namespace {
// k / 10 as "0.3", not as the nearest double's 17 digits.
std::string Tenths(int k) { return std::to_string(k / 10) + "." + std::to_string(k % 10); }
}  // namespace

std::string HeightSummaryJson(const HeightSummary& s) {
  std::string rings = "[";
  for (int k = 0; k < kRingCount; ++k) {
    const RingFigures& r = s.rings[static_cast<size_t>(k)];
    if (k) rings += ", ";
    rings += Json()
                 .addRaw("rho_from", Tenths(k))
                 .addRaw("rho_to", Tenths(k + 1))
                 .add("cells", r.cells)
                 .add("mean_abs_error", r.meanAbsError)
                 .add("rms_error", r.rmsError)
                 .add("constant_mean_abs_error", r.constantMeanAbsError)
                 .add("physics_mean_abs_error", r.physicsMeanAbsError)
                 .str();
  }
  rings += "]";
  return Json()
      .add("cells", s.cells)
      .add("mean_abs_error", s.output.meanAbsError)
      .add("rms_error", s.output.rmsError)
      .add("correlation", s.output.correlation)
      .add("mean_target", s.meanTarget)
      .add("constant_mean_abs_error", s.constant.meanAbsError)
      .add("constant_rms_error", s.constant.rmsError)
      .add("physics_mean_abs_error", s.physics.meanAbsError)
      .add("physics_rms_error", s.physics.rmsError)
      .add("physics_correlation", s.physics.correlation)
      .add("physics_n", s.refractiveIndex)
      .addRaw("rings", rings)
      .str();
}

namespace {

// The circle a press on the map in automatic mode finds from cell (x, y).
bool TraceCircle(AppState& state, long long x, long long y) {
  if (x < 1 || y < 1 || x > state.SetWidth || y > state.SetHeight) {
    std::cerr << "--start needs a cell of the set: X 1.." << state.SetWidth << ", Y 1.." << state.SetHeight << "\n";
    return false;
  }
  ContourResponse(state, false);
  SphereSession session;
  PressInput in;
  in.x = static_cast<float>((x - 1) * state.ZoomFactor);
  in.y = static_cast<float>((y - 1) * state.ZoomFactor);
  const PressResult press = HandleMapPress(state, session, in);
  PrintMessages(press.messages);
  if (press.circleChanged) return true;
  std::cerr << "no circle found from the start cell " << x << " " << y << "\n";
  return false;
}

int Run(const std::vector<std::string>& argv) {
  Args args(argv, {{"--circle", 3}, {"--start", 2}, {"--data", 1}, {"--n", 1}, {"--json", 0}, {"--png", 1},
                   {"--mode", 1}, {"--separator", 1}});
  if (!args.ok() || args.positional().size() != 4) {
    std::cerr << (args.ok() ? "evaluate needs four files: F0 F45 F90 F135" : args.error()) << "\n";
    return 2;
  }
  if (args.has("--circle") == args.has("--start")) {
    std::cerr << "evaluate needs the sphere circle: --circle CX CY R or --start X Y\n";
    return 2;
  }
  double n = kDefaultRefractiveIndex;
  if (args.has("--n")) {
    const auto v = ToDouble(args.value("--n"));
    if (!v || *v <= 1 || *v > 5) {
      std::cerr << "--n must be a refractive index above 1 and at most 5\n";
      return 2;
    }
    n = *v;
  }
  const std::string separator = args.value("--separator", ",");
  if (separator != "," && separator != ".") {
    std::cerr << "--separator must be , or .\n";
    return 2;
  }
  Definition definition = Definition::Mean;
  if (args.has("--mode") && !ParseDefinition(args.value("--mode"), &definition)) {
    std::cerr << "--mode must be max, mean or luma\n";
    return 2;
  }
  std::optional<SphereCircle> circle;
  std::optional<long long> sx, sy;
  if (args.has("--circle")) {
    circle = CircleOption(args);
    if (!circle) return 2;
  } else {
    sx = ToInt(args.values("--start")[0]);
    sy = ToInt(args.values("--start")[1]);
    if (!sx || !sy) {
      std::cerr << "--start needs a cell X Y (1-based)\n";
      return 2;
    }
  }

  AppState state;
  if (!LoadProcessedSet(args.positional(), state)) return 1;
  state.IntensityMode = ModeForDefinition(definition);
  DetectionSettingsModel(state.Detection).Load();  // the default smoothing kernel, as train uses
  if (circle) state.Circle = *circle;
  else if (!TraceCircle(state, *sx, *sy)) return 1;

  const std::string folder = args.value("--data", DataFolder());
  const LearningPaths files = LearningFiles(folder);
  const HeightEvaluation e = EvaluateWeightsFile(state, files.weights, separator, n);
  if (!e.ok) {
    PrintMessages({e.message.value_or(Message{"evaluation failed"})});
    return 1;
  }
  const std::string note = OriginNote(ReadWeightsOrigin(WeightsOriginPath(folder)), OriginOf(state), separator);

  if (args.has("--png")) {
    std::string error;
    if (!SavePng(DrawErrorMap(state.Circle, e.cells), args.value("--png"), &error)) {
      std::cerr << error << "\n";
      return 1;
    }
  }
  if (args.has("--json")) {
    std::string json = HeightSummaryJson(e.summary);
    json.pop_back();  // the closing brace: the file and the note follow
    json += ", " + JsonString("weights_file") + ": " + JsonString(files.weights) + ", " +
            JsonString("weights_origin_note") + ": " + JsonString(note) + "}";
    std::cout << json << "\n";
  } else {
    std::cout << SummaryText(e.summary, separator) << "\n";
    if (!note.empty()) std::cout << note << "\n";
    std::cout << "файл весов: " << files.weights << "\n";
  }
  return 0;
}

PS_REGISTER_COMMAND(Command{
    "evaluate", "judge the learned height: errors of the network against the sphere and two baselines",
    "usage: polarsphere-cli evaluate F0 F45 F90 F135 (--circle CX CY R | --start X Y)\n"
    "                            [--data DIR] [--n N] [--json] [--png FILE]\n"
    "                            [--mode max|mean|luma] [--separator ,|.]\n"
    "  Evaluates the network of the weights file over the cells inside the circle,\n"
    "  as the training does, and compares its output y with the target height\n"
    "  h = 1 - cos(asin rho) the training learns (rho = distance / radius).\n"
    "  Printed: the number of cells; the mean absolute error, RMS error and the\n"
    "  correlation of y with h; the same errors for the constant mean(h) and for\n"
    "  the diffuse Fresnel model (the zenith angle whose degree of polarization\n"
    "  (1 - r^2)/(1 + r^2) the cell's axis ratio r gives); the errors by ring of\n"
    "  rho in tenths. Says so when the weights were written for another circle or\n"
    "  image set (the training records both in \"Круг обучения.txt\").\n"
    "  --circle CX CY R  the circle in cells (1-based)\n"
    "  --start X Y       trace the outline from cell (X, Y) and fit the circle\n"
    "  --data DIR        the data folder (default $POLARSPHERE_DATA_DIR or ~/polarsphere)\n"
    "  --n N             refractive index of the Fresnel model (default 1.5)\n"
    "  --png FILE        the error map: h, y and y - h side by side with colour scales\n"
    "  --mode            intensity definition the network reads (default mean)\n"
    "  --separator       decimal separator of the weights file (default ,)\n"
    "  --json            print {cells, mean_abs_error, rms_error, correlation,\n"
    "                    constant_mean_abs_error, physics_mean_abs_error, physics_n,\n"
    "                    rings, ...}; a figure that cannot be computed is null",
    Run});

}  // namespace
}  // namespace ps::cli
