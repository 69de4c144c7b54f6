// Weighted sums of azimuths over a neighbourhood. An azimuth is an axis, so it
// lives in -pi/2..pi/2 and +pi/2 is the same direction as -pi/2: on a sphere
// the azimuth jumps by pi along the vertical through the centre. Summed as
// plain numbers, neighbours on both sides of that jump average to about 0, a
// false seam. Each neighbour is therefore first brought within pi/2 of the
// centre cell's azimuth by adding or subtracting pi, and a sum that needed
// such a shift is brought back into the azimuth range. Where no neighbour
// needs a shift the sum is exactly the plain weighted sum.
#pragma once

#include <cmath>

#include "state/app_state.h"

namespace ps {

// `azimuth` moved by pi towards `centre` when they lie more than pi/2 apart.
inline double AzimuthNear(double azimuth, double centre) {
  if (azimuth - centre > kPi / 2) return azimuth - kPi;
  if (azimuth - centre < -kPi / 2) return azimuth + kPi;
  return azimuth;
}

// `a` moved by whole multiples of pi into (-pi/2, pi/2].
inline double AzimuthIntoRange(double a) {
  const double h = kPi / 2;
  if (a > -h && a <= h) return a;
  return a - kPi * std::ceil((a - h) / kPi);
}

// Accumulates weight (percent) x azimuth / 100 around one centre cell.
class AzimuthSum {
 public:
  explicit AzimuthSum(double centreAzimuth) : centre_(centreAzimuth) {}
  void add(double weightPercent, double azimuth) {
    const double near = AzimuthNear(azimuth, centre_);
    shifted_ = shifted_ || near != azimuth;
    sum_ += weightPercent * near / 100;
  }
  double value() const { return shifted_ ? AzimuthIntoRange(sum_) : sum_; }

 private:
  double centre_;
  double sum_ = 0;
  bool shifted_ = false;
};

}  // namespace ps
