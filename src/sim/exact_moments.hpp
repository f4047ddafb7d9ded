#pragma once
// The exact mean and standard deviation of the perimeter, the figures a run
// of trials estimates.

#include <cstdint>
#include <optional>

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

// How far a run's average lies from the exact mean.
struct AverageAgainstExact {
  double standard_error = 0.0;  // the run's deviation / sqrt(its trials)
  // (average - exact mean) / standard error; empty when the standard error
  // is 0 or either figure is not finite.
  std::optional<double> z;
};

AverageAgainstExact weigh_average(double average, double stdev, std::int64_t trials,
                                  double exact_mean);

// The largest number of sides exact_perimeter_moments accepts.
inline constexpr std::int32_t kMaxExactSides = 10000;

// Throws std::invalid_argument for sides outside 1 .. kMaxExactSides or a
// radius that is not finite: the arguments every exact figure refuses.
void check_exact_arguments(std::int32_t sides, double radius);

}  // namespace polygons::sim
