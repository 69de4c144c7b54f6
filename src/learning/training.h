// The annealing training: one run changes one group of network parameters per
// iteration, evaluates the network over the sphere and keeps the change when the
// energies fall (or, after seven quiet minutes, when they rise a little), undoing
// it otherwise. Every accepted state goes to the weights file and the progress
// log. The clock is injected and the random generator seeded, so a run can be
// replayed and its time rules driven by tests.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "learning/files.h"
#include "learning/network.h"
#include "state/app_state.h"
#include "state/message.h"
#include "state/progress.h"

namespace ps {

// Clock reading: day of the month and time of day.
struct ClockReading {
  int Day = 1, Hour = 0, Minute = 0, Second = 0;
  // second + 60 x minute + 3600 x hour + 86400 x day
  long long seconds() const { return Second + 60LL * Minute + 3600LL * Hour + 86400LL * Day; }
  // minute + 60 x hour + 1440 x day
  long long minutes() const { return Minute + 60LL * Hour + 1440LL * Day; }
};
using Clock = std::function<ClockReading()>;
ClockReading LocalClock();  // the computer's local time

// Uniform numbers in [0, 1): the 53 high bits of std::mt19937_64 scaled by 2^-53.
// The training draws from one generator that lives as long as its session and is
// never reseeded, so a session started with the same seed replays the same run.
class UniformRandom {
 public:
  static constexpr uint64_t kDefaultSeed = 5489;
  explicit UniformRandom(uint64_t seed = kDefaultSeed);
  double next();
  uint64_t draws() const { return draws_; }

 private:
  std::mt19937_64 engine_;
  uint64_t draws_ = 0;
};

// Remembered changes per template (1..4), element (a; b) and plane 1..3, stored
// 0-based: [t][a][b][plane]. Plane 1 sums every accepted change, plane 2 the
// accepted changes since its last shift, plane 3 holds the remembered direction.
using ChangeMemoryPlanes = std::array<std::array<std::array<std::array<double, 3>, 7>, 7>, 4>;

// What the statistics window keeps between runs: parameters, settings, the
// change memory and the random generator.
struct TrainingSession {
  NetworkParameters Parameters;
  TrainingSettings Settings;
  ChangeMemoryPlanes ChangeMemory{};
  UniformRandom Random;
  SampleTable Samples;  // rebuilt at every run, kept for the exports

  explicit TrainingSession(uint64_t seed = UniformRandom::kDefaultSeed) : Random(seed) {}
};

// Live figures reported after every iteration.
struct TrainingSnapshot {
  long long accepted = 0;      // accepted iterations so far
  long long acceptedLimit = 0; // 19999 for a full run
  long long evaluations = 0;
  double energyA = 0, energyB = 0;  // of the last accepted state
  double firstEnergyB = 0;
};

struct TrainingOptions {
  LearningPaths files;
  std::string decimalSeparator = ",";
  DirectionConvention convention = DirectionConvention::FullTurn;
  long long acceptedLimit = 19999;  // the run ends after this many accepted iterations
  Clock clock;                      // empty: LocalClock
  int threads = 0;                  // evaluation threads, 0 = up to 2
  const std::atomic<bool>* cancel = nullptr;  // checked between iterations
  Progress progress;  // report(accepted, acceptedLimit) after every iteration; its cancel flag is checked too
  std::function<void(const TrainingSnapshot&)> onProgress;  // after every iteration, with the energies; may be empty
  std::function<void(const Message&)> onWarning;           // a failed re-read or write during the run
};

struct TrainingResult {
  bool started = false;   // false: refused, `message` says why, nothing was written
  bool cancelled = false;
  Message message;        // closing message, or the refusal
  long long accepted = 0;
  long long evaluations = 0;
  double energyAOld = 0, energyBOld = 0;  // last accepted state
  double energyA = 0, energyB = 0;        // last evaluation
  double firstEnergyB = 0;                // energy B of the first accepted state
  int insideCells = 0;
  double seconds = 0;                     // wall time of the loop
  double writeSeconds = 0;                // time the run spent on the files (formatting, hand-over, waits)
  double writerSeconds = 0;               // busy time of the background writer (writes, fdatasync)
  double evaluateSeconds = 0;             // time spent in EvaluateNetwork + ComputeEnergies
  TrainingCounters counters;
};

// One training run on the processed set of `state` with its sphere circle.
TrainingResult RunTraining(const AppState& state, TrainingSession& session, const TrainingOptions& options);

// The text of the closing message box.
std::string ClosingMessageText(double energyAOld, double energyBOld, double energyA, double energyB, double temperature,
                               const std::string& decimalSeparator);
// A double in its default text form: up to 15 significant digits, the separator given.
std::string DefaultDoubleText(double value, const std::string& decimalSeparator);

// ---- Steps of an iteration, exposed for tests ------------------------------

// Group (1..8) of a selector value (1..16).
inline int GroupOfSelector(int selector) { return (selector + 1) / 2; }
// Ring 1..3 of template element (a; b), a and b 1..7.
int RingOf(int a, int b);

// Values saved before a change, for the undo.
struct SavedParameters {
  std::array<Template7, 4> templates{};
  double Смещение = 0, Крутизна = 0, НачальнаяСуммаСинапсов = 0, ВесАзимутаОбщий = 0;
};

// Acceptance: EBold = 0, or gain > 0, or gain > -2 after more than 7 minutes
// since the last acceptance (minutesNow - minutesAtLastAcceptance > 7).
bool AcceptState(double energyBOld, double gain, long long minutesNow, long long minutesAtLastAcceptance);

// Undo the change of the group of `selector`.
void UndoChange(NetworkParameters& parameters, const SavedParameters& saved, int selector);

// Book-keeping of an accepted change of group 1..8 in ring k: change memory
// planes and acceptance counters.
void RecordAcceptance(const NetworkParameters& parameters, const SavedParameters& saved, int selector, int ring,
                      ChangeMemoryPlanes& memory, TrainingCounters& counters);

// Step 7 and step 8 of an iteration: save every element, change the template of
// the selector in ring `ring` with draws from `random`, then save and change the
// scalar of the selector.
void ApplyTemplateChanges(NetworkParameters& parameters, SavedParameters& saved, const TrainingSettings& settings,
                          const ChangeMemoryPlanes& memory, int selector, int ring, UniformRandom& random,
                          TrainingCounters& counters);
void ApplyScalarChange(NetworkParameters& parameters, SavedParameters& saved, const TrainingSettings& settings,
                       int selector, UniformRandom& random);

// Moves one element W(a; b) of template `group` (1..4) by `method`; returns
// nothing, changes the template in place. `m` is the sign of plane 3.
void MoveElement(Template7& w, int group, int method, int a, int b, int ring, double step, double inertia, int m,
                 UniformRandom& random);

}  // namespace ps
