#pragma once
// A run's histogram against the exact distribution of the perimeter: the
// exact probability of each class the trials are counted into, and Pearson's
// chi-square test of the class counts against them.

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace polygons::sim {

// The upper end of a run's class range, 2 n R sin(pi / n): the perimeter of
// the regular polygon (negative with the radius). The product 2n * R is
// formed first, then multiplied by the sine.
double class_range_max(std::int32_t sides, double radius);

// The exact probability of each of the `classes` classes a run of `sides`
// points on a circle of `radius` counts its perimeters into, as
// class_slot_of places them: class k of width w = class_range_max / classes
// holds [(k - 1) w, k w), the first also what lies below it, the last also
// what lies above it. A negative radius makes the perimeter and the width
// negative and leaves each perimeter in the class of its absolute value.
// A probability below 0 by rounding (1e-12 at most) is given as 0.
// Empty beyond kMaxExactSides sides (has_exact_distribution), for a radius
// that is 0 or not finite, and for fewer than one class. `threads` as for
// exact_class_probabilities.
std::vector<double> run_class_probabilities(std::int32_t sides, double radius,
                                            std::int32_t classes, int threads = 1);

// The exact density of each class (its probability over its width) at its
// centre, (k - 1/2) w: the heights the histogram's densities tend to, with
// their signs (both negative for a negative radius). Empty as
// run_class_probabilities.
struct ClassDensities {
  std::vector<double> centre, density;
};
ClassDensities exact_class_densities(std::int32_t sides, double radius, std::int32_t classes);

// Classes whose expected count is below this are merged with their
// neighbours before the test, so that the chi-square distribution holds.
inline constexpr double kMinExpectedCount = 5.0;

// Pearson's chi-square of a run's class counts against their exact
// probabilities, with degrees of freedom = groups - 1 (nothing is fitted).
struct GoodnessOfFit {
  double chi_square = std::numeric_limits<double>::quiet_NaN();
  std::int32_t degrees_of_freedom = 0;  // 0: no test possible
  double p_value = std::numeric_limits<double>::quiet_NaN();
  std::int32_t merged_classes = 0;  // classes merged with a neighbour
  std::int32_t merged_into = 0;     // the groups they were merged into
};

// The test of `count` (one count per class, their sum the trials) against
// `probability` (one per class). From the lowest class up, neighbouring
// classes are merged until the group expects at least kMinExpectedCount
// trials; a last group that expects fewer joins the one before it. No test
// is possible (degrees_of_freedom 0, chi_square and p_value NaN) when the
// sizes differ, a probability is not finite or negative beyond rounding
// (1e-12; a rounding below 0 counts as 0), or fewer than two
// groups remain (a single class, or all the expected trials in one group).
GoodnessOfFit chi_square_fit(std::span<const std::int64_t> count,
                             std::span<const double> probability);

// A run's classes against the exact distribution.
struct ClassFit {
  std::vector<double> probability;  // empty when not known
  GoodnessOfFit test;
};

// The exact probabilities of the classes of a run of `sides` points on a
// circle of `radius` (run_class_probabilities, one class per count) and the
// test of `count` against them; none, and no test, when the memory for them
// is not there. `threads` as for exact_class_probabilities.
ClassFit fit_run_classes(std::int32_t sides, double radius, std::span<const std::int64_t> count,
                         int threads = 1);

}  // namespace polygons::sim
