// Judging the learned height: per inside cell the target h, the network's
// output y and the signed error y - h; a summary with the mean absolute and RMS
// errors, the correlation of y with h, the same errors for two baselines (the
// constant mean(h) and the height a diffuse Fresnel model gives from the
// degree of polarization) and the errors by ring of rho = distance / radius.
// Also the record of the circle and set a weights file was written for.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "learning/network.h"
#include "polarization/sample_scene.h"
#include "state/app_state.h"
#include "state/message.h"

namespace ps {

inline constexpr double kDefaultRefractiveIndex = 1.5;

// ---- Diffuse Fresnel model --------------------------------------------------

// The inverse of the diffuse Fresnel model DiffuseDegreeOfPolarization (the one
// the sample set is rendered with; it rises monotonically from 0 at theta = 0 to
// (n^2 - 1) / (n^2 + 1) at pi/2): the zenith angle in [0, pi/2] (radians) whose
// degree of polarization is `dop` for refractive index n (> 1). A degree at or
// below 0 gives 0; one at or above the model's maximum gives pi/2 (the
// measurement says "as steep as it gets"). NaN stays NaN.
double DiffuseZenithAngle(double dop, double n);

// Degree of linear polarization from the axis ratio r (minor / major amplitude,
// 0..1) the polarization maps hold: (1 - r^2) / (1 + r^2).
double DegreeOfPolarizationFromAxisRatio(double r);

// Height below the apex (units of the radius, 0..1) that the Fresnel model
// gives a cell of axis ratio r: 1 - cos(theta) with theta the inverted angle.
double FresnelHeight(double axisRatio, double n);

// ---- Per-cell errors and their summary ------------------------------------------

struct HeightCell {
  int x = 0, y = 0;     // cell, 1-based
  double rho = 0;       // distance from the centre / radius, 0..1
  double target = 0;    // h = 1 - cos(theta), as the training uses it
  double output = 0;    // y, the network's output
  double physics = 0;   // the Fresnel model's height
  double error() const { return output - target; }
};

// Cells of the ring of rho in tenths: ring k holds k/10 <= rho < (k+1)/10,
// ring 9 also rho = 1.
inline constexpr int kRingCount = 10;
int RingOfRho(double rho);

struct RingFigures {
  int cells = 0;
  double meanAbsError = 0, rmsError = 0;  // of the output
  double constantMeanAbsError = 0;        // of the constant mean(h) of all cells
  double physicsMeanAbsError = 0;         // of the Fresnel height
};

// Figures of one predictor against the target: mean |p - h|, sqrt(mean (p - h)^2)
// and the correlation of p with h (NaN when either does not vary or there is no cell).
struct PredictorFigures {
  double meanAbsError = 0, rmsError = 0, correlation = 0;
};

struct HeightSummary {
  int cells = 0;
  double meanTarget = 0;           // mean(h): the constant predictor's value
  PredictorFigures output;         // the network
  PredictorFigures constant;       // mean(h) everywhere (its correlation is NaN)
  PredictorFigures physics;        // the Fresnel height
  double refractiveIndex = kDefaultRefractiveIndex;
  std::array<RingFigures, kRingCount> rings{};
};

// The cells of a prepared network after EvaluateNetwork, x ascending then y.
std::vector<HeightCell> CollectHeightCells(const CellNetwork& network, double refractiveIndex);

// The summary of a set of cells (for none: zero counts and errors, NaN correlations).
HeightSummary SummarizeHeights(const std::vector<HeightCell>& cells, double refractiveIndex);

struct HeightEvaluation {
  bool ok = false;                 // false: `message` says why
  std::optional<Message> message;
  std::vector<HeightCell> cells;
  HeightSummary summary;
};

// Evaluates `parameters` over the sphere circle of `state` (first pass and
// four feedback iterations, as the training does) and judges the outputs.
// Refuses a missing circle or result map and a circle whose neighbourhood
// leaves the image.
HeightEvaluation EvaluateLearnedHeights(const AppState& state, const NetworkParameters& parameters,
                                        double refractiveIndex = kDefaultRefractiveIndex);

// The same with the parameters of a weights file: start values, Крутизна 0.13,
// then the file read over them. A missing or malformed file is refused.
HeightEvaluation EvaluateWeightsFile(const AppState& state, const std::string& weightsPath,
                                     const std::string& decimalSeparator,
                                     double refractiveIndex = kDefaultRefractiveIndex);

// Several lines of Russian text with the summary, numbers as "0.000" with the
// separator given.
std::string SummaryText(const HeightSummary& summary, const std::string& decimalSeparator);

// ---- Which circle and set a weights file was written for --------------------------

struct WeightsOrigin {
  SphereCircle circle;
  int width = 0, height = 0;  // of the image set
  std::string set;            // fingerprint of the set's pixels (16 hex digits)
  bool operator==(const WeightsOrigin& o) const {
    return circle.CircleCentreX == o.circle.CircleCentreX && circle.CircleCentreY == o.circle.CircleCentreY &&
           circle.CircleRadius == o.circle.CircleRadius && width == o.width && height == o.height && set == o.set;
  }
};

inline constexpr const char* kWeightsOriginName = "Круг обучения.txt";
// The side file beside the learning files in `folder`.
std::string WeightsOriginPath(const std::string& folder);

// Circle, size and fingerprint of the current set.
WeightsOrigin OriginOf(const AppState& state);
// FNV-1a over the pixels of the four slots; "" for a set without pixels.
std::string SetFingerprint(const AppState& state);

// The side file (UTF-8, CR LF, numbers with a '.'): written whole or not at
// all; read back exactly (empty when missing or not understood).
std::string FormatWeightsOrigin(const WeightsOrigin& origin);
std::optional<WeightsOrigin> ParseWeightsOrigin(const std::string& text);
bool WriteWeightsOrigin(const std::string& path, const WeightsOrigin& origin, std::string* error = nullptr);
std::optional<WeightsOrigin> ReadWeightsOrigin(const std::string& path);

// What to say beside the figures: "" when the weights were written for this
// circle and set, else a Russian sentence naming what differs (or that it is
// not known); numbers with the separator given.
std::string OriginNote(const std::optional<WeightsOrigin>& recorded, const WeightsOrigin& current,
                       const std::string& decimalSeparator = ",");

// ---- Energies of a training run, from the progress log -----------------------

struct EnergyPoint {
  long long iteration = 0;  // accepted iteration, from 1
  double energyA = 0, energyB = 0;
};

// The accepted iterations of the latest run in the progress log's text (UTF-8):
// one point per line from the last line whose iteration is 1 on (each run
// counts from 1 again). Lines that do not read as log lines are passed over.
std::vector<EnergyPoint> LatestRunEnergies(const std::string& utf8, const std::string& decimalSeparator);
// The same from the file (code page 1251 or UTF-8); empty when it is missing.
std::vector<EnergyPoint> ReadLatestRunEnergies(const std::string& path, const std::string& decimalSeparator);

}  // namespace ps
