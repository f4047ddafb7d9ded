#pragma once
// The class histogram of the perimeter: densities, cumulative fractions,
// class centres, the two result vectors and the mode. Index 0 of every vector
// is class k1st.

#include <cstdint>
#include <vector>

namespace polygons::sim {

// The five class arrays of a run, index 0 = class k1st. `count` carries the
// overflow slot after the last class; `result_z` holds two values per class.
struct ClassArrays {
  std::vector<std::int64_t> count;
  std::vector<double> density, cumul, centre, result_z;
};

// All five arrays at their full size for classes k1st .. klass, so that a
// run that cannot have them fails before any trial. Throws std::bad_alloc or
// std::length_error when the memory is not there.
ClassArrays allocate_class_arrays(std::int32_t k1st, std::int32_t klass);

// Densities count / (N * width) and cumulative fractions (0 for the first
// class, then the running sum of the later counts, divided by N) of classes
// k1st .. klass. `class_count` may carry the overflow slot after them.
void finish_class(std::int64_t N, double class_width, std::int32_t k1st, std::int32_t klass,
                  const std::vector<std::int64_t>& class_count, std::vector<double>& class_density,
                  std::vector<double>& class_cumul);

// (K - 0.5) * width, the midpoint of class K, for K = k1st .. klass.
void class_centres(double class_width, std::int32_t k1st, std::int32_t klass,
                   std::vector<double>& class_centre);

// Number of result vectors handed to the graph job: density and cumulative fraction.
inline constexpr std::int32_t kResultRows = 2;

// The result vectors, class by class: element 2k of `z` is the density of
// class k1st + k, element 2k + 1 its cumulative fraction.
void result_z(const std::vector<double>& class_density, const std::vector<double>& class_cumul,
              std::vector<double>& z);

struct Mode {
  double x = 0.0;  // centre of the modal class
  double y = 0.0;  // its density (row 1 of `result_z`)
};

// The modal class: the lowest-numbered class with the largest count. With a
// positive class width that is the class of the largest density; with a
// negative radius the width and every density are negative, and the largest
// density would be that of the emptiest class, so the counts decide.
Mode find_mode(const std::vector<std::int64_t>& class_count, const std::vector<double>& result_z,
               const std::vector<double>& class_centre);

}  // namespace polygons::sim
