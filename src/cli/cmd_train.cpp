// polarsphere-cli train: processes a set of four photographs, takes the sphere
// circle (given, or traced from a start cell) and runs one annealing training
// against the learning files of the data folder, as the statistics window's
// "Обучение нейросети" does. Ctrl-C ends the run between iterations; the weights
// file then holds the last accepted state.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "cli/cli.h"
#include "learning/evaluation.h"
#include "learning/files.h"
#include "learning/training.h"
#include "polarization/polarization.h"
#include "sphere/contour.h"
#include "sphere/detection_settings.h"
#include "sphere/press.h"
#include "state/atomic_file.h"

namespace ps::cli {
namespace {

// The first Ctrl-C stops the run between iterations (the weights file then
// holds the last accepted state, written whole); a second one ends the process
// at once, removing any temporary file of a write in progress.
std::atomic<bool> g_cancel{false};
void OnInterrupt(int signal) {
  if (g_cancel.exchange(true)) EndBySignal(signal);
}

std::string Crlf2Lf(std::string text) {
  for (size_t p; (p = text.find("\r\n")) != std::string::npos;) text.replace(p, 2, "\n");
  return text;
}

// The height evaluation of the weights file the run left (the last accepted
// state), or null when there is none.
std::string FinalEvaluationJson(const AppState& state, const TrainingOptions& options) {
  const HeightEvaluation e = EvaluateWeightsFile(state, options.files.weights, options.decimalSeparator);
  return e.ok ? HeightSummaryJson(e.summary) : "null";
}

int Run(const std::vector<std::string>& argv) {
  Args args(argv, {{"--circle", 3}, {"--start", 2}, {"--data", 1}, {"--seed", 1}, {"--accepted", 1},
                   {"--mode", 1}, {"--direction", 1}, {"--separator", 1}, {"--threads", 1}, {"--json", 0},
                   {"--quiet", 0}});
  if (!args.ok() || args.positional().size() != 4) {
    std::cerr << (args.ok() ? "train needs four files: F0 F45 F90 F135" : args.error()) << "\n";
    return 2;
  }
  if (!args.has("--circle") && !args.has("--start")) {
    PrintMessages({Message{std::string("Окружность шара не задана.") + kCrLf +
                               "Укажите её (--circle CX CY R) или точку у контура шара (--start X Y).",
                           "Нет окружности шара", MessageIcon::Exclamation}});
    return 2;
  }
  if (args.has("--circle") && args.has("--start")) {
    std::cerr << "train takes either --circle CX CY R or --start X Y, not both\n";
    return 2;
  }
  if (args.has("--data") && args.value("--data").empty()) {
    std::cerr << "--data: the folder path is empty\n";
    return 2;
  }
  TrainingOptions options;
  options.decimalSeparator = args.value("--separator", ",");
  if (options.decimalSeparator != "," && options.decimalSeparator != ".") {
    std::cerr << "--separator must be , or .\n";
    return 2;
  }
  uint64_t seed = UniformRandom::kDefaultSeed;
  if (args.has("--seed")) {
    const auto v = ToInt(args.value("--seed"));
    if (!v || *v < 0) {
      std::cerr << "--seed must be a whole number >= 0\n";
      return 2;
    }
    seed = static_cast<uint64_t>(*v);
  }
  if (args.has("--accepted")) {
    const auto v = ToInt(args.value("--accepted"));
    if (!v || *v < 1 || *v > 100000000) {
      std::cerr << "--accepted must be a whole number from 1 to 100000000\n";
      return 2;
    }
    options.acceptedLimit = *v;
  }
  if (args.has("--threads")) {
    const auto v = ToInt(args.value("--threads"));
    if (!v || *v < 0 || *v > 2) {
      std::cerr << "--threads must be 0, 1 or 2\n";
      return 2;
    }
    options.threads = static_cast<int>(*v);
  }
  const std::string direction = args.value("--direction", "full");
  if (direction != "full" && direction != "half") {
    std::cerr << "--direction must be full or half\n";
    return 2;
  }
  options.convention = direction == "full" ? DirectionConvention::FullTurn : DirectionConvention::HalfTurn;
  Definition definition = Definition::Mean;
  if (args.has("--mode") && !ParseDefinition(args.value("--mode"), &definition)) {
    std::cerr << "--mode must be max, mean or luma\n";
    return 2;
  }
  SphereCircle circle;
  if (args.has("--circle")) {
    const auto v = args.values("--circle");
    const auto cx = ToDouble(v[0]), cy = ToDouble(v[1]), r = ToDouble(v[2]);
    if (!cx || !cy || !r) {
      std::cerr << "--circle needs three numbers: CX CY R\n";
      return 2;
    }
    circle = SphereCircle{*cx, *cy, *r};
  }

  AppState state;
  if (!LoadProcessedSet(args.positional(), state, DefinitionBit(definition), false)) return 1;
  state.IntensityMode = ModeForDefinition(definition);

  if (args.has("--start")) {
    const auto x = ToInt(args.values("--start")[0]), y = ToInt(args.values("--start")[1]);
    if (!x || !y || *x < 1 || *y < 1 || *x > state.SetWidth || *y > state.SetHeight) {
      std::cerr << "--start needs a cell of the set: X 1.." << state.SetWidth << ", Y 1.." << state.SetHeight << "\n";
      return 2;
    }
    ContourResponse(state, false);
    SphereSession session;
    PressInput in;
    in.x = static_cast<float>((*x - 1) * state.ZoomFactor);
    in.y = static_cast<float>((*y - 1) * state.ZoomFactor);
    const PressResult press = HandleMapPress(state, session, in);
    PrintMessages(press.messages);
    if (!state.Circle.exists()) {
      PrintMessages({Message{"Окружность шара не найдена от точки (" + std::to_string(*x) + ", " +
                                 std::to_string(*y) + ")." + kCrLf + "Укажите другую точку у контура шара или --circle.",
                             "Нет окружности шара", MessageIcon::Exclamation}});
      return 1;
    }
  } else {
    state.Circle = circle;
  }

  const std::string folder = args.value("--data", DataFolder());
  options.files = LearningFiles(folder);
  options.cancel = &g_cancel;
  const bool quiet = args.has("--quiet");
  auto lastReport = std::chrono::steady_clock::now();
  options.onProgress = [&](const TrainingSnapshot& s) {
    const auto now = std::chrono::steady_clock::now();
    if (quiet || now - lastReport < std::chrono::milliseconds(500)) return;
    lastReport = now;
    std::fprintf(stderr, "\raccepted %lld of %lld, evaluations %lld, energy A %.3f, B %.3f (first B %.3f)   ",
                 s.accepted, s.acceptedLimit, s.evaluations, s.energyA, s.energyB, s.firstEnergyB);
    std::fflush(stderr);
  };
  options.onWarning = [](const Message& m) { PrintMessages({m}); };
  struct sigaction interrupt {}, previous {};
  interrupt.sa_handler = OnInterrupt;
  sigemptyset(&interrupt.sa_mask);
  sigaction(SIGINT, nullptr, &previous);
  if (previous.sa_handler != SIG_IGN) sigaction(SIGINT, &interrupt, nullptr);

  TrainingSession session(seed);
  const TrainingResult result = RunTraining(state, session, options);
  InstallTemporaryFileCleanup();  // Ctrl-C from here on ends the process again
  if (!quiet && result.started) std::fprintf(stderr, "\n");
  if (!result.started) {
    PrintMessages({result.message});
    return 1;
  }
  if (result.cancelled) std::cerr << "interrupted: the weights file holds the last accepted state\n";
  // The weights now belong to this circle and set: say so beside them, for the
  // evaluation of a later session.
  std::string originError;
  if (result.accepted > 0 && !WriteWeightsOrigin(WeightsOriginPath(folder), OriginOf(state), &originError))
    PrintMessages({Message{originError, "", MessageIcon::Exclamation}});
  const bool failed = result.message.icon == MessageIcon::Critical;
  if (failed) PrintMessages({result.message});
  if (args.has("--json")) {
    std::cout << Json()
                     .add("accepted", result.accepted)
                     .add("evaluations", result.evaluations)
                     .add("energy_a", result.energyAOld)
                     .add("energy_b", result.energyBOld)
                     .add("first_energy_b", result.firstEnergyB)
                     .add("inside_cells", result.insideCells)
                     .add("seconds", result.seconds)
                     .add("evaluate_seconds", result.evaluateSeconds)
                     .add("write_seconds", result.writeSeconds)
                     .add("writer_seconds", result.writerSeconds)
                     .add("cancelled", result.cancelled)
                     .add("weights_file", options.files.weights)
                     .add("message", Crlf2Lf(result.message.text))
                     .addRaw("evaluation", FinalEvaluationJson(state, options))
                     .str()
              << "\n";
  } else {
    std::cout << Crlf2Lf(result.message.text) << "\n";
    std::printf("accepted %lld, evaluations %lld, cells inside the sphere %d, %.1f s (evaluation %.1f s, files %.2f s)\n",
                result.accepted, result.evaluations, result.insideCells, result.seconds, result.evaluateSeconds,
                result.writeSeconds);
    std::cout << "weights file: " << options.files.weights << "\n";
  }
  // An interrupted run ends as Ctrl-C ends a command (128 + SIGINT), after the
  // summary, so that a script does not take it for a finished training.
  if (failed) return 1;
  return result.cancelled ? 128 + SIGINT : 0;
}

PS_REGISTER_COMMAND(Command{
    "train", "train the surface-height network on the sphere by annealing",
    "usage: polarsphere-cli train F0 F45 F90 F135 (--circle CX CY R | --start X Y)\n"
    "                         [--data DIR] [--seed S] [--accepted N] [--mode max|mean|luma]\n"
    "                         [--direction full|half] [--separator ,|.] [--threads T]\n"
    "                         [--quiet] [--json]\n"
    "  Processes the set, takes the sphere circle and runs one training against the\n"
    "  learning files of the data folder (Шаги.txt must exist: see init-data). Every\n"
    "  accepted iteration rewrites \"Весовые коэффициенты.txt\" and appends a line to\n"
    "  \"Временное изменение.txt\". Ctrl-C stops between iterations and exits with\n"
    "  status 130; a second Ctrl-C ends at once. A second training on the same data\n"
    "  folder is refused while one runs.\n"
    "  --circle CX CY R  the circle in cells (1-based)\n"
    "  --start X Y       trace the outline from cell (X, Y) and fit the circle\n"
    "  --data DIR        the data folder (default $POLARSPHERE_DATA_DIR or ~/polarsphere)\n"
    "  --seed S          seed of the random generator (default 5489): the same seed and\n"
    "                    files give the same run\n"
    "  --accepted N      accepted iterations of the run (default 19999)\n"
    "  --mode            intensity definition the network reads (default mean)\n"
    "  --direction       direction column of the samples: full (0..2pi, default) or half\n"
    "  --separator       decimal separator of the files (default ,)\n"
    "  --threads T       evaluation threads, 0 = up to two (default)\n"
    "  --json            print {accepted, evaluations, energy_a, energy_b, first_energy_b,\n"
    "                    inside_cells, seconds, weights_file, ..., evaluation}: evaluation\n"
    "                    holds the figures of evaluate --json for the final state",
    Run});

}  // namespace
}  // namespace ps::cli
