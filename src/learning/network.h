// The cellular network that learns the height of a surface from its
// polarization: parameters (four 7 x 7 templates and four scalars), the per-cell
// inputs taken from the result map inside the sphere circle, the evaluation
// (first pass and four synchronous feedback iterations) and the two energies.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "state/app_state.h"
#include "state/message.h"

namespace ps {

// A 7 x 7 template; element (a; b) is stored at [a - 1][b - 1]. The first index
// is the horizontal offset (neighbour column x + a - 4), the second the vertical
// one (row y + b - 4); (4; 4) is the cell itself.
using Template7 = std::array<std::array<double, 7>, 7>;
using Mask7 = std::array<std::array<float, 7>, 7>;

// Single-precision weights that multiply the intensity, ellipticity and azimuth
// templates: 1 in the middle, falling off towards the edges and corners.
const Mask7& ApertureMask();

struct NetworkParameters {
  Template7 ВесИнтен{};  // intensity
  Template7 ВесЭллип{};  // ellipticity (axis ratio)
  Template7 ВесАзим{};   // azimuth
  Template7 ВесОС{};     // feedback (neighbours' outputs)
  double Смещение = 0;                // bias added to every cell's sum
  double Крутизна = 0.13;             // steepness of the transfer function
  double НачальнаяСуммаСинапсов = 0;  // added to the first evaluation's sum only
  double ВесАзимутаОбщий = -0.01;     // overall weight of the azimuth term

  // Template 1..4 = ВесИнтен, ВесЭллип, ВесАзим, ВесОС.
  Template7& templ(int t);
  const Template7& templ(int t) const;
  bool operator==(const NetworkParameters&) const = default;
};

// Direction of a cell from the centre: 0..2pi (the window's "Направление от 0
// до 2п", the default) or -pi/2..pi/2 ("Направление от -п/2 до п/2").
enum class DirectionConvention { FullTurn, HalfTurn };

// One row per inside cell, x ascending then y ascending. Columns (0-based here):
// 0 intensity A0/255, 1 axis ratio, 2 azimuth, 3 neighbour intensity, 4 smoothed
// axis ratio, 5 smoothed azimuth, 6 inclination, 7 direction, 8 x, 9 y.
using SampleRow = std::array<float, 10>;
using SampleTable = std::vector<SampleRow>;

// The record of one image cell; all 0 for cells outside the circle.
struct CellRecord {
  double Intensity = 0;            // A0 / 255
  double AxisRatio = 0;
  double Azimuth = 0;              // radians
  double NeighbourIntensity = 0;   // A0 / 255 of (min(x + 2, W), min(y + 2, H))
  double SmoothedAxisRatio = 0;    // WeightKernel-weighted 5 x 5 sum / 100
  double SmoothedAzimuth = 0;
  double Inclination = 0;          // theta, from its single-precision sample value
  double Direction = 0;            // phi, from its single-precision sample value
  int32_t Inside = 0;              // 1 inside the circle
  double Target = 0;               // h = 1 - cos(theta)
  double TotalSum = 0;             // sum after the latest feedback iteration
  double StaticSum = 0;            // first evaluation's sum less НачальнаяСуммаСинапсов
  double FirstFeedbackShare = 0;   // total sum of feedback iteration 1 less the static sum
  double RelativeError = 0;        // |(y - h) / h|, 0 where h = 0
  double AbsoluteError = 0;        // |y - h|
  double SinAzimuth = 0;
  double CosAzimuth = 0;
};

struct Energies {
  double EnergyA = 0;      // roughness of the output
  double EnergyB = 0;      // sum of relative errors: misfit to the sphere
  double AbsoluteSum = 0;  // sum of absolute errors
  double FeedbackSum = 0;  // sum of the first feedback shares
};

// Refuses a circle that does not exist (radius <= 0) or whose 7 x 7
// neighbourhood of the inside cells leaves the image: the evaluation reads up to
// four cells beyond the circle's bounding square. Empty when training may go on.
std::optional<Message> CheckTrainingCircle(const SphereCircle& circle, int width, int height);

// The prepared cells of one run: the records of every cell, the outputs, the
// sample table and the arrays the evaluation runs on (inside cells, the source
// of every (cell, a, b) in the first evaluation, sin and cos of the azimuth,
// targets). Created by PrepareCells; movable, not copyable.
class CellNetwork {
 public:
  CellNetwork();
  ~CellNetwork();
  CellNetwork(CellNetwork&&) noexcept;
  CellNetwork& operator=(CellNetwork&&) noexcept;

  int width() const;   // SetWidth
  int height() const;  // SetHeight
  int insideCount() const;  // n
  const SphereCircle& circle() const;
  const SampleTable& samples() const;

  // Record and output of cell (x, y), 1-based; zero records outside the circle
  // and for cells outside the image.
  const CellRecord& cell(int x, int y) const;
  double output(int x, int y) const;

  // Number of threads the evaluation uses (1 or 2; results do not depend on it).
  void setThreads(int threads);
  int threads() const;

  struct Impl;
  Impl& impl() { return *impl_; }
  const Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Counts the inside cells and fills inputs, geometry and target of each, reading
// the result map through the layer lookup (the definition IntensityMode selects),
// WeightKernel of the detection settings and the circle of `state`. The caller
// checks the circle first (CheckTrainingCircle); a circle of radius 0 gives no
// inside cell.
CellNetwork PrepareCells(const AppState& state, DirectionConvention convention);

// The sample table alone, as PrepareCells builds it; with `divideIntensity`
// false, columns 0 and 3 hold A0 as it is (not divided by 255).
SampleTable BuildSampleTable(const AppState& state, DirectionConvention convention, bool divideIntensity = true);

// First evaluation and four feedback iterations over all inside cells; leaves the
// outputs and the sums and errors in the network.
void EvaluateNetwork(CellNetwork& network, const NetworkParameters& parameters);

// The same, written plainly cell by cell from the records (searching each
// substitute cell anew); the fast evaluation gives bit-identical results.
void EvaluateNetworkReference(CellNetwork& network, const NetworkParameters& parameters);

// Energies of the latest evaluation.
Energies ComputeEnergies(const CellNetwork& network);

// Weighted decrease of the energies: (EAold - EA) x Ka + (EBold - EB) x Kb.
double EnergyGain(double energyAOld, double energyBOld, double energyA, double energyB, double ka, double kb);

}  // namespace ps
