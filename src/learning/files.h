// The four text files of the learning: the steps file (training settings written
// by the user), the weights file (network parameters, rewritten after every
// accepted iteration), the progress log (one line per accepted iteration) and the
// statistics log (acceptances per group and ring). All live in one data folder,
// are written in code page 1251 with CR LF and read in code page 1251, UTF-8 or
// UTF-16 with its byte-order mark.
// Numbers are written with format patterns and the decimal separator passed in.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "learning/network.h"
#include "state/atomic_file.h"  // WriteFileAtomically, used by every writer here
#include "state/message.h"

namespace ps {

// ---- Data folder ------------------------------------------------------------

inline constexpr const char* kStepsFileName = "Шаги.txt";
inline constexpr const char* kWeightsFileName = "Весовые коэффициенты.txt";
inline constexpr const char* kProgressLogName = "Временное изменение.txt";
inline constexpr const char* kStatisticsLogName = "Временное изменение2.txt";
// Held (flock) by the training that runs on the folder.
inline constexpr const char* kTrainingLockName = ".polarsphere-training.lock";

// $POLARSPHERE_DATA_DIR when set and not empty, else ~/polarsphere.
std::string DataFolder();

struct LearningPaths {
  std::string folder;
  std::string steps, weights, progressLog, statisticsLog;
};
LearningPaths LearningFiles(const std::string& folder);

// ---- Training settings (the steps file) ------------------------------------

struct TrainingSettings {
  double Temperature = 0;                 // "Темпе"
  std::array<double, 3> ШагИн{};          // step of the intensity template per ring 1..3
  std::array<double, 3> ШагЭл{};          // ellipticity template
  std::array<double, 3> ШагАз{};          // azimuth template
  std::array<double, 3> ШагОС{};          // feedback template
  double ШагСм = 0;                       // bias step
  double ШагНа = 0;                       // initial-sum step
  double ШагАзимОбщ = 0;                  // overall-azimuth step
  std::array<int16_t, 4> Methods{};       // МетодИзмененияВесов(1..4)
  double КоэфИнерцииИн = 0;
  double КоэфИнерцииЭл = 0;
  double КоэфИнерцииАз = 0;
  double КоэфИнерцииОС = 0;
  float Ka = 0;  // "Коэфa"
  float Kb = 0;  // "Коэфb"
  float Kc = 0;  // "Коэфc", read but used by nothing

  // Step, inertia coefficient of template group g = 1..4.
  double step(int group, int ring) const;
  double inertia(int group) const;
  bool operator==(const TrainingSettings&) const = default;
};

// ---- Reading ---------------------------------------------------------------

// Limits of what the readers accept. A learning file is a regular file of at
// most kLearningFileCap bytes; every number in it lies within
// -kLearningValueLimit .. kLearningValueLimit, the steepness (Крутизна) within
// -kSteepnessLimit .. kSteepnessLimit. Larger values are no state a training
// reaches and only saturate or overflow the network.
inline constexpr unsigned long long kLearningFileCap = 1ULL << 20;
inline constexpr double kLearningValueLimit = 1000;
inline constexpr double kSteepnessLimit = 100;

// Outcome of reading one file. `missing` is set when the file does not exist;
// otherwise `ok` false carries a message naming the file and the line.
struct ReadOutcome {
  bool ok = true;
  bool missing = false;
  Message message;
};

// Reads the steps file into `settings` (absent keys keep their values). On any
// malformed value nothing is stored and the message names the line.
ReadOutcome ReadStepsFile(const std::string& path, TrainingSettings& settings, const std::string& decimalSeparator);
// Reads the weights file into `parameters`; same rules. An empty (or blank)
// file leaves the start values. Refused besides: a file with no key at all
// (junk, an unreadable encoding), one whose last line with a value has no line
// break (cut inside it), and one in the training's own layout that lacks any
// of the 200 values (cut at a line's end).
ReadOutcome ReadWeightsFile(const std::string& path, NetworkParameters& parameters, const std::string& decimalSeparator);

// The same on text already decoded to UTF-8 (lines separated by LF or CR LF);
// `fileLabel` names the file in messages.
ReadOutcome ParseStepsText(const std::string& utf8, TrainingSettings& settings, const std::string& decimalSeparator,
                           const std::string& fileLabel = kStepsFileName);
ReadOutcome ParseWeightsText(const std::string& utf8, NetworkParameters& parameters,
                             const std::string& decimalSeparator, const std::string& fileLabel = kWeightsFileName);

// Value parsers on the text after a key (UTF-32, since keys are compared by
// characters). Each returns the number text, or empty on a malformed value.
struct IndexedText {
  int index = 0;
  std::u32string number;
};
struct CellText {
  int row = 0, column = 0;
  std::u32string number;
};
std::optional<std::u32string> ParseNumberText(std::u32string_view text);
std::optional<IndexedText> ParseIndexedValue(std::u32string_view text);
std::optional<CellText> ParseCellValue(std::u32string_view text);
// A number text read as a single-precision number (either decimal separator).
std::optional<float> NumberTextToSingle(std::u32string_view text, const std::string& decimalSeparator);

// ---- Writing ---------------------------------------------------------------

// Figures of the accepted state that go into the weights file and the log.
struct RunFigures {
  double EnergyA = 0;
  double EnergyB = 0;
  double AbsoluteSum = 0;
  double Gain = 0;          // energy gain of this acceptance
  double FeedbackMean = 0;  // СуммаОС1: feedback sum / n
  double MeanRelativeError = 0;  // energy B / n
  double Temperature = 0;
  long long Iteration = 0;  // before it is increased
  int Selector = 1;
  int Ring = 1;
  std::array<int16_t, 4> Methods{};
  int Hour = 0, Minute = 0, Second = 0;  // time of day of the acceptance
};

// The texts as they are written, in UTF-8 with CR LF.
std::string FormatWeightsFile(const NetworkParameters& parameters, const RunFigures& figures,
                              const std::string& decimalSeparator);
std::string FormatProgressLine(const RunFigures& figures, const std::string& decimalSeparator);  // with CR LF

// Acceptance counters of one run: AcceptCount(g, k) and DrawCount(g, k, o),
// g 1..8, k 1..3, o 1..2, stored 0-based.
struct TrainingCounters {
  std::array<std::array<int32_t, 3>, 8> AcceptCount{};
  std::array<std::array<std::array<int32_t, 2>, 3>, 8> DrawCount{};
  bool operator==(const TrainingCounters&) const = default;
};
// Group names of the statistics log, g = 1..8.
const char* GroupName(int group);
std::string FormatStatisticsFile(const TrainingCounters& counters, long long seconds);

// Writers. The weights file and the statistics log are replaced atomically (a
// temporary file in the same folder, then a rename); the progress log is
// appended. Text is converted to code page 1251. Return false with `error` set
// when the file cannot be written.
bool WriteWeightsFile(const std::string& path, const NetworkParameters& parameters, const RunFigures& figures,
                      const std::string& decimalSeparator, std::string* error = nullptr);
bool AppendProgressLine(const std::string& path, const RunFigures& figures, const std::string& decimalSeparator,
                        std::string* error = nullptr);
bool WriteStatisticsFile(const std::string& path, const TrainingCounters& counters, long long seconds,
                         std::string* error = nullptr);

// ---- Starter files ---------------------------------------------------------

// A commented steps file with workable values, in UTF-8 with CR LF.
std::string StarterStepsText(const std::string& decimalSeparator);

}  // namespace ps
