#pragma once
// The exact mean and standard deviation of the perimeter, the figures a run
// of trials estimates.

#include <cstdint>

namespace polygons::sim {

struct PerimeterMoments {
  double mean = 0.0;
  double stdev = 0.0;
};

// Exact mean and standard deviation of the perimeter of the polygon through
// `sides` points uniform on a circle of radius `radius` (sides 1 .. 10000;
// stdev >= 0, scaled by |radius|, mean by radius), both to about 1e-14
// relative. Throws std::invalid_argument outside that range or for a
// non-finite radius.
PerimeterMoments exact_perimeter_moments(std::int32_t sides, double radius);

// The largest number of sides exact_perimeter_moments accepts.
inline constexpr std::int32_t kMaxExactSides = 10000;

}  // namespace polygons::sim
