// polarsphere-cli: the headless command-line tool on the same core as the windows.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "state/atomic_file.h"

namespace {
void PrintCommands() {
  std::cout << "usage: polarsphere-cli COMMAND [ARGS] [--json] [--help]\n\ncommands:\n";
  for (const auto& [name, cmd] : ps::cli::Commands()) {
    std::string padded = name;
    padded.resize(std::max<size_t>(padded.size() + 2, 13), ' ');
    std::cout << "  " << padded << cmd.summary << "\n";
  }
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    PrintCommands();
    return argc < 2 ? 2 : 0;
  }
  const auto& commands = ps::cli::Commands();
  auto it = commands.find(argv[1]);
  if (it == commands.end()) {
    std::cerr << "unknown command: " << argv[1] << "\n";
    PrintCommands();
    return 2;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      std::cout << it->second.usage << "\n";
      return 0;
    }
  }
  // Ctrl-C, kill and a closed terminal remove the temporary files of writes in
  // progress before the process ends, so no half-written output is left.
  ps::InstallTemporaryFileCleanup();
  try {
    const int status = it->second.run(args);
    // What a command printed is part of its result: a summary or JSON object
    // lost to a full disk or a closed pipe is a failure, not a success.
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::cerr << "polarsphere-cli " << argv[1] << ": cannot write to the standard output\n";
      return status == 0 ? 1 : status;
    }
    return status;
  } catch (const std::bad_alloc&) {
    // Temporary files of writes cut short were removed as their writers unwound.
    std::cerr << "polarsphere-cli " << argv[1]
              << ": not enough memory; the command stopped and left no file half-written\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "polarsphere-cli " << argv[1] << ": error: " << e.what() << "\n";
    return 1;
  }
}
