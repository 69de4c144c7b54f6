// Helpers shared by the test programs: temporary folders and synthetic image sets.
#pragma once

#include <string>
#include <vector>

#include "imageio/bmp_writer.h"
#include "state/app_state.h"

namespace ps::test {

// A fresh empty folder under the system's temporary folder, removed at exit.
std::string TempDir(const std::string& tag);

// Fills `state` as if four 24-bit images had been read: ImageStore from `slots`
// (each width*height*3 bytes, R G B, top row first), header values of a 24-bit
// BMP, all slots loaded.
void FillSet24(AppState& state, int width, int height, const std::vector<std::vector<uint8_t>>& slots);

// Runs the command-line tool with `args` (a shell command line tail); stdout is
// captured, stderr goes to `errFile`.
struct CliRun {
  int status = -1;
  std::string out;
};
CliRun RunCli(const std::string& args, const std::string& errFile = "/dev/null");

// A whole file as a string ("" when it cannot be read).
std::string ReadAll(const std::string& path);

// The bundled sample set's four file paths (0, 45, 90, 135 degrees).
std::vector<std::string> SampleFiles();

}  // namespace ps::test
