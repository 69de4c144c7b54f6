// The two circle fits of the sphere outline, both exhaustive searches over every
// cell of the set with single-precision distances and an integer "best" that
// decides ties: a later cell replaces the kept one only when its sum is below
// the rounded sum of the kept one.
#pragma once

#include <array>
#include <utility>
#include <vector>

#include "state/progress.h"

namespace ps {

struct CircleFit {
  bool found = false;  // false: no cell scored below the starting bound of 10000
  double centreX = 0;  // cells, 1-based
  double centreY = 0;
  double radius = 0;   // cells
};

// BoundaryList: rows 1..2n, row k and row k + n both hold boundary point k in
// columns 1 (x) and 2 (y); columns 3..6 are 0. Stored 0-based.
using BoundaryRow = std::array<double, 6>;
std::vector<BoundaryRow> MakeBoundaryList(const std::vector<std::pair<int, int>>& points);

// The cell equally far from opposite boundary points: for every cell (x outer,
// y inner) S = sum over k of |d(k) - d(k + n\2)| and R = sum of d(k), in single
// precision; the radius is R / n + 1. Runs on `threads` threads (0 = all cores)
// and abandons a cell once its growing sum reaches the bound; the result is
// exactly that of FitCircleToBoundaryReference. A cancelled run returns
// found = false.
CircleFit FitCircleToBoundary(const std::vector<BoundaryRow>& list, int n, int width, int height,
                              const Progress& progress = {}, int threads = 0);
CircleFit FitCircleToBoundaryReference(const std::vector<BoundaryRow>& list, int n, int width, int height);

// The cell about equally far from three points (cells): v = |d3 - d2| + |d1 - d2|
// + |d1 - d3|; the radius is the mean of the three distances. Identical or
// collinear points give a circle too.
CircleFit CircleThroughThreePoints(const std::array<std::pair<int, int>, 3>& points, int width, int height);
CircleFit CircleThroughThreePointsReference(const std::array<std::pair<int, int>, 3>& points, int width, int height);

// When a fit gives a circle that can be used. A traced boundary needs at least
// kMinBoundaryPoints points (fewer neighbouring cells span no more than a few
// cells of an outline, and the fit then finds a circle of a few cells or one
// centred in a corner); the points, traced or pressed, must not all lie on one
// line (identical points included); and the fitted circle must lie inside the
// image: cells span c - 0.5 .. c + 0.5, so cx - r >= 0.5 and cx + r <= width +
// 0.5, and likewise for y.
inline constexpr int kMinBoundaryPoints = 8;
enum class CircleRefusal { None, NoCentre, TooFewPoints, OnOneLine, OutsideImage };
// Checks the points before a fit: TooFewPoints (when below `minPoints`),
// OnOneLine, or None.
CircleRefusal CheckFitPoints(const std::vector<std::pair<int, int>>& points, int minPoints);
// Checks the fitted circle: NoCentre when the search found none, OutsideImage,
// or None.
CircleRefusal CheckFittedCircle(const CircleFit& fit, int width, int height);

}  // namespace ps
