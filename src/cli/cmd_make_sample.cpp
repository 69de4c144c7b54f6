// polarsphere-cli make-sample: renders a synthetic set of four photographs of a
// dielectric sphere on a textured background.
#include <iostream>

#include "cli/cli.h"
#include "polarization/sample_scene.h"

namespace ps::cli {
namespace {

int Run(const std::vector<std::string>& argv) {
  Args args(argv, {{"--width", 1}, {"--height", 1}, {"--seed", 1}, {"--json", 0}});
  if (!args.ok() || args.positional().size() != 1) {
    std::cerr << (args.ok() ? "make-sample needs one folder" : args.error()) << "\n";
    return 2;
  }
  SampleSceneOptions o;
  const auto w = ToInt(args.value("--width", "320")), h = ToInt(args.value("--height", "240")),
             seed = ToInt(args.value("--seed", "1"));
  if (!w || !h || !seed || *w < 16 || *h < 16 || *w > 8000 || *h > 8000 || *seed < 0) {
    std::cerr << "width and height must be 16..8000, seed a non-negative whole number\n";
    return 2;
  }
  o.width = static_cast<int>(*w);
  o.height = static_cast<int>(*h);
  o.seed = static_cast<uint32_t>(*seed);
  const SampleScene scene = RenderSampleScene(o);
  std::string error;
  const std::string dir = args.positional()[0];
  if (!WriteSampleScene(scene, dir, &error)) {
    std::cerr << error << "\n";
    return 1;
  }
  if (args.has("--json")) {
    std::cout << Json()
                     .add("folder", dir)
                     .add("width", o.width)
                     .add("height", o.height)
                     .add("centre_x", scene.centreX)
                     .add("centre_y", scene.centreY)
                     .add("radius", scene.radius)
                     .str()
              << "\n";
  } else {
    std::cout << "wrote " << dir << "/{0,45,90,135}.bmp and truth.txt: sphere centre (" << scene.centreX << ", "
              << scene.centreY << "), radius " << scene.radius << "\n";
  }
  return 0;
}

PS_REGISTER_COMMAND(Command{
    "make-sample", "render a synthetic set of four photographs of a sphere",
    "usage: polarsphere-cli make-sample DIR [--width W] [--height H] [--seed S] [--json]\n"
    "  Renders 0.bmp, 45.bmp, 90.bmp and 135.bmp (24-bit) of a smooth dielectric\n"
    "  sphere (refractive index 1.5, diffuse polarization) on a textured, weakly\n"
    "  polarizing background with mild sensor noise, and truth.txt with the sphere's\n"
    "  centre and radius in pixels.",
    Run});

}  // namespace
}  // namespace ps::cli
