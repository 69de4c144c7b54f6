// Infrastructure of the command-line tool: the command registry, argument
// reading, JSON output and NumPy files. Each command lives in its own
// src/cli/cmd_*.cpp and registers itself with PS_REGISTER_COMMAND.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ps::cli {

struct Command {
  std::string name;
  std::string summary;  // one line for the command list
  std::string usage;    // full help text printed by --help
  std::function<int(const std::vector<std::string>& args)> run;
};

bool RegisterCommand(Command command);
const std::map<std::string, Command>& Commands();

#define PS_REGISTER_COMMAND(...) \
  static const bool ps_command_registered_##__LINE__ = ::ps::cli::RegisterCommand(__VA_ARGS__)

// Parsed arguments: positionals in order, options by name ("--out" -> values).
// Flags listed in `flags` take no value; every other option takes `arity` values
// from the table (1 by default).
class Args {
 public:
  Args(const std::vector<std::string>& args, const std::map<std::string, int>& arity);
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const std::vector<std::string>& positional() const { return positional_; }
  bool has(const std::string& option) const { return options_.count(option) != 0; }
  // Values of an option (empty when absent).
  std::vector<std::string> values(const std::string& option) const;
  std::string value(const std::string& option, const std::string& fallback = "") const;

 private:
  std::vector<std::string> positional_;
  std::map<std::string, std::vector<std::string>> options_;
  std::string error_;
};

std::optional<double> ToDouble(const std::string& s);
std::optional<long long> ToInt(const std::string& s);

// Minimal JSON writer: builds one object as text.
class Json {
 public:
  Json& add(const std::string& key, double value);
  Json& add(const std::string& key, long long value);
  Json& add(const std::string& key, int value) { return add(key, static_cast<long long>(value)); }
  Json& add(const std::string& key, const std::string& value);
  Json& add(const std::string& key, const char* value) { return add(key, std::string(value)); }
  Json& add(const std::string& key, bool value);
  Json& addRaw(const std::string& key, const std::string& json);  // nested object or array
  Json& addNull(const std::string& key);
  std::string str() const;

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};
std::string JsonString(const std::string& s);
std::string JsonNumber(double v);

// Writes a float64 NumPy array of shape (rows, cols), row-major, whole or not
// at all; false with a message naming the file.
bool WriteNpy(const std::string& path, const double* data, size_t rows, size_t cols, std::string* error);

// Makes sure `dir` (the value of `option`) is a folder that outputs can go to,
// creating it when absent. false with a message for an empty path, a path that
// is a file, or a folder that cannot be created.
bool PrepareOutputFolder(const std::string& option, const std::string& dir, std::string* error);

}  // namespace ps::cli

#include "display/surface.h"
#include "polarization/polarization.h"
#include "state/app_state.h"
#include "state/message.h"

namespace ps::cli {

// Prints messages the way the tool reports refusals: "[title] text" on stderr,
// CR LF line breaks turned into plain newlines.
void PrintMessages(const std::vector<Message>& messages);

// Reads the four files (0, 45, 90, 135 degrees) through the same checks as the
// windows and processes the set under the definitions flagged in `definitions`
// (bits of ps::DefinitionBits: a command that works on one definition does not
// pay for the other two). A command that needs only the result map passes
// keepImages = false: the four photographs are released once processed, which
// makes room for what the command allocates next. Prints the messages on stderr
// and returns false on a refusal.
bool LoadProcessedSet(const std::vector<std::string>& paths, AppState& state, unsigned definitions = 7,
                      bool keepImages = true);
// The same with the processing's options, filling `outcome` (its totals).
bool LoadProcessedSet(const std::vector<std::string>& paths, AppState& state, const ProcessOptions& options,
                      ProcessOutcome* outcome);

}  // namespace ps::cli

#include "learning/evaluation.h"

namespace ps::cli {

// The height evaluation as one JSON object: cells, mean_abs_error, rms_error,
// correlation, the constant and physics figures, physics_n and rings
// (evaluate --json, and the final state of train --json).
std::string HeightSummaryJson(const HeightSummary& summary);

// The sphere circle given as --circle CX CY R (map cells, R above 0); prints
// why and returns nothing when the three values are not such numbers.
std::optional<SphereCircle> CircleOption(const Args& args);

// Encodes the picture as PNG in memory and writes it whole or not at all.
bool SavePng(const RasterSurface& picture, const std::string& path, std::string* error);

}  // namespace ps::cli
