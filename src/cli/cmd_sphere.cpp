// polarsphere-cli sphere: finds the calibration sphere on a set of four
// photographs the way the map does it: the contour response, then either a
// trace from a start cell (as if that cell had been pressed in automatic mode)
// and the fit to the traced boundary, or the circle through three rim points.
#include <cmath>
#include <filesystem>
#include <iostream>

#include "cli/cli.h"
#include "polarization/polarization.h"
#include "sphere/contour.h"
#include "sphere/press.h"
#include "sphere/refine.h"

namespace ps::cli {
namespace {

// Pointer position that selects cell (x, y) at the set's zoom.
PressInput PressAt(const AppState& state, long long x, long long y, PressMode mode) {
  PressInput in;
  in.mode = mode;
  in.x = static_cast<float>((x - 1) * state.ZoomFactor);
  in.y = static_cast<float>((y - 1) * state.ZoomFactor);
  return in;
}

int Run(const std::vector<std::string>& argv) {
  Args args(argv, {{"--start", 2}, {"--points", 6}, {"--mode", 1}, {"--out", 1}, {"--json", 0},
                   {"--autocontrast", 0}, {"--refine", 0}});
  if (!args.ok() || args.positional().size() != 4) {
    std::cerr << (args.ok() ? "sphere needs four files: F0 F45 F90 F135" : args.error()) << "\n";
    return 2;
  }
  if (args.has("--start") == args.has("--points")) {
    std::cerr << "sphere needs either --start X Y or --points X1 Y1 X2 Y2 X3 Y3\n";
    return 2;
  }
  std::vector<long long> cells;
  for (const std::string& v : args.has("--start") ? args.values("--start") : args.values("--points")) {
    const auto n = ToInt(v);
    if (!n || *n < -1000000 || *n > 1000000) {
      std::cerr << "not a cell coordinate: " << v << "\n";
      return 2;
    }
    cells.push_back(*n);
  }
  Definition definition = Definition::Mean;
  if (args.has("--mode") && !ParseDefinition(args.value("--mode"), &definition)) {
    std::cerr << "--mode must be max, mean or luma\n";
    return 2;
  }

  AppState state;
  if (!LoadProcessedSet(args.positional(), state, DefinitionBit(definition), false)) return 1;
  state.IntensityMode = ModeForDefinition(definition);
  const bool autocontrast = args.has("--autocontrast");
  if (!ContourResponse(state, autocontrast)) {
    std::cerr << "no result map to compute the contour on\n";
    return 1;
  }

  if (args.has("--out")) {
    const std::string dir = args.value("--out");
    std::string error;
    if (!PrepareOutputFolder("--out", dir, &error)) {
      std::cerr << error << "\n";
      return 1;
    }
    const std::vector<double> zeros(static_cast<size_t>(state.SetWidth) * state.SetHeight, 0.0);
    for (int layer = 19; layer <= 21; ++layer) {
      const double* data = state.ResultMap.layer(layer);
      const std::string path = dir + "/layer_" + std::to_string(layer) + ".npy";
      if (!WriteNpy(path, data ? data : zeros.data(), state.SetHeight, state.SetWidth, &error)) {
        std::cerr << error << "\n";
        return 1;
      }
    }
  }

  SphereSession session;
  PressResult result;
  std::string end;
  if (args.has("--start")) {
    result = HandleMapPress(state, session, PressAt(state, cells[0], cells[1], PressMode::Automatic));
    PrintMessages(result.messages);
    if (!result.traced) {
      if (result.messages.empty())
        std::cerr << "the start cell must lie at least two cells inside the edge: nothing traced\n";
      return 1;
    }
    end = TraceEndName(result.traceEnd);
  } else {
    for (int p = 0; p < 3; ++p) {
      result = HandleMapPress(state, session, PressAt(state, cells[2 * p], cells[2 * p + 1], PressMode::Manual));
      PrintMessages(result.messages);
      if (!result.manualPointAdded) return 1;
    }
    end = "manual";
  }
  // The refinement starts from the press or the three clicks, never from the
  // fit: it also runs when the fit was refused.
  const RefinedCircle refined = args.has("--refine") ? RefineAfterPress(state, session, result) : RefinedCircle{};
  // A refused fit has printed why (HandleMapPress's message) and set no circle;
  // without a refined circle either, there is no circle at all.
  const bool fitted = state.Circle.exists();
  if (!fitted && !refined.refined) {
    if (args.has("--refine")) std::cerr << "refined: " << refined.message << "\n";
    return 1;
  }
  const SphereCircle& c = state.Circle;
  const int boundary = args.has("--start") ? result.boundaryCount : 3;
  if (args.has("--json")) {
    Json json;
    if (fitted)
      json.add("centre_x", c.CircleCentreX).add("centre_y", c.CircleCentreY).add("radius", c.CircleRadius);
    else
      json.addNull("centre_x").addNull("centre_y").addNull("radius");
    json.add("boundary_points", boundary).add("end", end);
    if (args.has("--refine")) {
      Json r;
      r.add("centre_x", refined.circle.x).add("centre_y", refined.circle.y).add("radius", refined.circle.r);
      r.add("points", refined.points).add("rms", refined.rms);
      if (!refined.refined) r.add("failure", RefineFailureName(refined.failure)).add("message", refined.message);
      json.addRaw("refined", r.str());
    }
    std::cout << json.str() << "\n";
  } else {
    if (fitted)
      std::printf("centre %g %g   radius %.4f   boundary points %d   end %s\n", c.CircleCentreX, c.CircleCentreY,
                  c.CircleRadius, boundary, end.c_str());
    else
      std::printf("no fitted circle   boundary points %d   end %s\n", boundary, end.c_str());
    if (args.has("--refine") && refined.refined)
      std::printf("refined: centre %.3f %.3f   radius %.3f   edge points %d   rms %.3f\n", refined.circle.x,
                  refined.circle.y, refined.circle.r, refined.points, refined.rms);
    else if (args.has("--refine"))
      std::printf("refined: %s\n", refined.message.c_str());
  }
  return 0;
}

PS_REGISTER_COMMAND(Command{
    "sphere", "find the calibration sphere: contour, boundary trace and circle fit",
    "usage: polarsphere-cli sphere F0 F45 F90 F135 (--start X Y | --points X1 Y1 X2 Y2 X3 Y3)\n"
    "                          [--mode max|mean|luma] [--autocontrast] [--refine] [--out DIR] [--json]\n"
    "  Processes the set, computes the contour response of the chosen intensity\n"
    "  (default mean) and finds the sphere's circle. Cells are 1-based (x from the\n"
    "  left, y from the top).\n"
    "  --start X Y       trace the outline from cell (X, Y) as a press on the map in\n"
    "                    automatic mode does, and fit the circle to the traced boundary\n"
    "  --points ...      the circle through three rim cells, pressed in this order in\n"
    "                    manual mode\n"
    "  --autocontrast    also compute the flattened intensity (layer 20)\n"
    "  --out DIR         write layer_19.npy (response), layer_20.npy (flattened\n"
    "                    intensity, zero without --autocontrast) and layer_21.npy (edge\n"
    "                    magnitude), float64, height x width\n"
    "  --refine          also refine the circle to a fraction of a cell from the start\n"
    "                    cell or the three points (edge points along rays, robust fit)\n"
    "  --json            print {centre_x, centre_y, radius, boundary_points, end}; end\n"
    "                    is closed, edge, dead_end or manual; with --refine also\n"
    "                    refined: {centre_x, centre_y, radius, points, rms}, plus failure\n"
    "                    and message when the unrefined circle was kept; a refused fit\n"
    "                    gives null centre and radius, and exit status 0 only when the\n"
    "                    refinement found the circle",
    Run});

}  // namespace
}  // namespace ps::cli
