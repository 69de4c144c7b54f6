// polarsphere-cli init-data: prepares a data folder for the training: a
// commented steps file with workable values and an empty weights file (the
// first accepted iteration fills it). Existing files are left as they are.
#include <filesystem>
#include <iostream>

#include "cli/cli.h"
#include "learning/files.h"
#include "learning/text_encoding.h"

namespace ps::cli {
namespace {

int Run(const std::vector<std::string>& argv) {
  Args args(argv, {{"--separator", 1}, {"--json", 0}});
  if (!args.ok() || args.positional().size() > 1) {
    std::cerr << (args.ok() ? "init-data takes at most one folder" : args.error()) << "\n";
    return 2;
  }
  const std::string sep = args.value("--separator", ",");
  if (sep != "," && sep != ".") {
    std::cerr << "--separator must be , or .\n";
    return 2;
  }
  const std::string folder = args.positional().empty() ? DataFolder() : args.positional()[0];
  if (folder.empty()) {
    std::cerr << "init-data: the folder path is empty\n";
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::cerr << "init-data: cannot create the folder " << folder << ": " << ec.message() << "\n";
    return 1;
  }
  const LearningPaths paths = LearningFiles(folder);
  Json written, kept;
  auto make = [&](const std::string& path, const std::string& utf8) -> bool {
    if (std::filesystem::exists(path)) {
      if (!std::filesystem::is_regular_file(path)) {
        std::cerr << "init-data: " << path << " exists and is not a file\n";
        return false;
      }
      if (!args.has("--json")) std::cout << "kept as it is: " << path << "\n";
      kept.add(std::filesystem::path(path).filename().string(), path);
      return true;
    }
    std::string error;
    if (!WriteFileAtomically(path, Utf8ToCp1251(utf8), &error)) {
      std::cerr << error << "\n";
      return false;
    }
    if (!args.has("--json")) std::cout << "wrote " << path << "\n";
    written.add(std::filesystem::path(path).filename().string(), path);
    return true;
  };
  if (!make(paths.steps, StarterStepsText(sep)) || !make(paths.weights, "")) return 1;
  if (args.has("--json"))
    std::cout << Json().add("folder", folder).addRaw("written", written.str()).addRaw("kept", kept.str()).str()
              << "\n";
  return 0;
}

PS_REGISTER_COMMAND(Command{
    "init-data", "write a starter steps file and an empty weights file for the training",
    "usage: polarsphere-cli init-data [DIR] [--separator ,|.] [--json]\n"
    "  Creates the data folder (default $POLARSPHERE_DATA_DIR or ~/polarsphere) and\n"
    "  writes a commented \"Шаги.txt\" (temperature, steps, methods, coefficients) and\n"
    "  an empty \"Весовые коэффициенты.txt\", in code page 1251. Files that exist\n"
    "  already are kept.",
    Run});

}  // namespace
}  // namespace ps::cli
