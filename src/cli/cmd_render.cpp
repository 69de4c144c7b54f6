// polarsphere-cli render: draws the polarization map of a set (or, with --tone,
// the two toning pictures of the sphere) into a PNG file, exactly as the
// windows show it, so that figures can be made in batch.
#include <iostream>
#include <optional>

#include "cli/cli.h"
#include "display/render.h"
#include "polarization/polarization.h"
#include "sphere/detection_settings.h"
#include "state/atomic_file.h"


namespace ps::cli {
namespace {

int Run(const std::vector<std::string>& argv) {
  Args args(argv, {{"--png", 1},
                   {"--zoom", 1},
                   {"--grid", 0},
                   {"--ellipses", 0},
                   {"--change", 0},
                   {"--mode", 1},
                   {"--circle", 3},
                   {"--tone", 3},
                   {"--json", 0}});
  if (!args.ok() || args.positional().size() != 4 || !args.has("--png")) {
    std::cerr << (args.ok() ? "render needs four files F0 F45 F90 F135 and --png FILE" : args.error()) << "\n";
    return 2;
  }
  Definition definition = Definition::Mean;  // the analysis window starts with the mean ticked
  if (args.has("--mode") && !ParseDefinition(args.value("--mode"), &definition)) {
    std::cerr << "--mode must be max, mean or luma\n";
    return 2;
  }
  std::optional<long long> zoom;
  if (args.has("--zoom")) {
    zoom = ToInt(args.value("--zoom"));
    if (!zoom || *zoom < 1 || *zoom > 30) {
      std::cerr << "--zoom must be a whole number from 1 to 30\n";
      return 2;
    }
  }
  SphereCircle circle;
  if (args.has("--circle")) {
    const std::optional<SphereCircle> given = CircleOption(args);
    if (!given) return 2;
    circle = *given;
  }
  ToningView tone;
  if (args.has("--tone")) {
    const auto v = args.values("--tone");
    const auto rx = ToDouble(v[0]), ry = ToDouble(v[1]), rz = ToDouble(v[2]);
    if (!rx || !ry || !rz) {
      std::cerr << "--tone needs three rotations in degrees\n";
      return 2;
    }
    if (!circle.exists()) {
      std::cerr << "--tone needs the sphere circle (--circle CX CY R)\n";
      return 2;
    }
    tone.RotationX = *rx * kPi / 180;
    tone.RotationY = *ry * kPi / 180;
    tone.RotationZ = *rz * kPi / 180;
    tone.Ellipses = args.has("--ellipses");
  }

  AppState state;
  if (!LoadProcessedSet(args.positional(), state, DefinitionBit(definition), false)) return 1;
  state.IntensityMode = ModeForDefinition(definition);
  state.Detection.ShowMode = args.has("--change") ? 1 : 0;
  state.Circle = circle;
  if (zoom) {
    if (*zoom * state.SetWidth >= 2000 || *zoom * state.SetHeight >= 2000) {
      std::cerr << "--zoom " << *zoom << " makes the map " << *zoom * state.SetWidth << " x "
                << *zoom * state.SetHeight << " pixels; it must stay below 2000\n";
      return 2;
    }
    state.ZoomFactor = static_cast<int32_t>(*zoom);
  } else {
    state.ZoomFactor = FitZoom(9, state.SetWidth, state.SetHeight);
  }

  RasterSurface picture;
  if (args.has("--tone")) {
    picture = RenderToningPair(state, tone);
  } else {
    MapRenderOptions options;
    options.Grid = args.has("--grid");
    options.Ellipses = args.has("--ellipses");
    options.ShowCircle = circle.exists();
    picture = RenderMap(state, options);
  }
  std::string error;
  const std::string path = args.value("--png");
  if (!SavePng(picture, path, &error)) {
    std::cerr << error << "\n";
    return 1;
  }
  if (args.has("--json"))
    std::cout << Json()
                     .add("png", path)
                     .add("width", picture.width())
                     .add("height", picture.height())
                     .add("zoom", state.ZoomFactor)
                     .str()
              << "\n";
  else
    std::cout << "wrote " << path << " (" << picture.width() << " x " << picture.height() << ")\n";
  return 0;
}

PS_REGISTER_COMMAND(Command{
    "render", "draw the polarization map (or the sphere toning) of a set into a PNG",
    "usage: polarsphere-cli render F0 F45 F90 F135 --png FILE [--zoom Z] [--grid] [--ellipses]\n"
    "                              [--change] [--mode max|mean|luma] [--circle CX CY R]\n"
    "                              [--tone RX RY RZ] [--json]\n"
    "  Draws the map as the analysis window shows it: every pixel a cell of Z x Z\n"
    "  screen pixels (default: 9, lowered until the map stays below 2000 pixels).\n"
    "  --grid       one-pixel grid between the cells (zoom 3 and above)\n"
    "  --ellipses   polarization ellipses in the cells (colour cells at zoom 1 and 2)\n"
    "  --change     the change-of-polarization map with the default kernels\n"
    "  --mode       intensity definition (default mean, as the window starts)\n"
    "  --circle     the sphere circle: centre column, row and radius in cells\n"
    "  --tone       instead of the map, the two toning pictures of the sphere seen\n"
    "               with rotations RX RY RZ in degrees about x, y, z (needs --circle;\n"
    "               --ellipses tones in the ellipse colours)\n"
    "  --json       print the output file and size as JSON",
    Run});

}  // namespace
}  // namespace ps::cli
