// Refinement of the sphere's circle to a fraction of a cell. The trace and the
// exhaustive fits give a circle quantised to whole cells, and a trace that stops
// early or wanders off the outline gives a poor one; the refinement starts again
// from what the user gave (the pressed cell and the contour response, or the
// three rim clicks), finds sub-cell edge points all round the circle along rays
// from its centre and fits a circle to them robustly. It never starts from the
// unrefined circle, and when it cannot find a trustworthy circle it keeps the
// unrefined one and says why.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "sphere/press.h"
#include "state/app_state.h"

namespace ps {

// A circle in cells: 1-based, a cell's centre lies at its own index.
struct Circle2 {
  double x = 0;
  double y = 0;
  double r = 0;
};

// Circle fits to points given in cells. Both return false (and leave `out`)
// for fewer than three points or a result that is not finite.
// Taubin's algebraic fit: closed form, nearly unbiased, no start needed; false
// also for collinear points.
bool FitCircleTaubin(const std::vector<std::pair<double, double>>& points, Circle2* out);
// Geometric least squares: minimises the sum of (distance to centre - r)^2 by
// damped Gauss-Newton from `start`.
bool FitCircleGeometric(const std::vector<std::pair<double, double>>& points, const Circle2& start, Circle2* out);
// The exact circle through three points (not quantised to cells).
bool CircleThrough(const std::array<std::pair<double, double>, 3>& points, Circle2* out);

// What the user gave the fit.
struct RefineSeed {
  enum class Kind { Press, ThreeClicks };
  Kind kind = Kind::Press;
  int pressX = 0;  // the pressed cell (Press)
  int pressY = 0;
  std::array<std::pair<int, int>, 3> clicks{};  // the three rim cells (ThreeClicks)

  static RefineSeed Press(int x, int y) { return RefineSeed{Kind::Press, x, y, {}}; }
  static RefineSeed ThreeClicks(const std::array<std::pair<int, int>, 3>& cells) {
    return RefineSeed{Kind::ThreeClicks, 0, 0, cells};
  }
};

enum class RefineFailure {
  None,
  NoImage,       // no intensity layer of the set's size
  NoContour,     // a press without the contour response
  NoSeed,        // the press gave no centre / the clicks are (nearly) collinear
  TooFewPoints,  // not enough clear edge points round the circle
  MovedTooFar,   // the fit left the seed implausibly far behind
  NotACircle,    // the edge points scatter too widely about the fitted circle
};

struct RefinedCircle {
  bool refined = false;  // false: `circle` is the unrefined circle, `message` says why
  Circle2 circle;        // cells, 1-based
  Circle2 seed;          // the start taken from the press or the clicks (radius 0 if none)
  int points = 0;        // edge points the final fit used
  int rays = 0;          // rays of the final pass that stayed inside the image
  double rms = 0;        // rms distance of the used points from the circle, cells
  int passes = 0;        // ray passes made
  RefineFailure failure = RefineFailure::None;
  std::string message;   // Russian, for the status line; empty when refined
};

// The refinement over plain buffers (row-major, width x height, cell (x, y) at
// [(y-1)*width + x-1]): `intensity` is the intensity layer the contour was
// computed from, `response` the contour response (layer 19; needed for a press
// only, may be null for three clicks). `unrefined` is returned in `circle` when
// the refinement fails.
RefinedCircle RefineCircle(const double* intensity, const double* response, int width, int height,
                           const RefineSeed& seed, const Circle2& unrefined);

// The same on the shared state: the intensity layer IntensityMode selects (7
// mean, 13 luma, 1 otherwise), layer 19, and state.Circle as the unrefined
// circle. Reads only; the caller stores `circle` into state.Circle.
RefinedCircle RefineSphereCircle(const AppState& state, const RefineSeed& seed);

// After a press on the map (HandleMapPress) that ran a fit, whether the fit
// gave a circle or was refused: the refinement from the traced press cell, or
// from the three manual points of the session. A press that ran no fit returns
// the state circle with failure NoSeed.
RefinedCircle RefineAfterPress(const AppState& state, const SphereSession& session, const PressResult& press);

// Stores a refined circle into state.Circle; a failed refinement leaves it.
// Returns whether the circle changed.
bool StoreRefinedCircle(AppState& state, const RefinedCircle& refined);

// Machine-readable name of a failure: "none", "no_image", "no_contour",
// "no_seed", "too_few_points", "moved_too_far", "not_a_circle".
const char* RefineFailureName(RefineFailure failure);

}  // namespace ps
