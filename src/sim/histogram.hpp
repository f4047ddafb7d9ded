#pragma once
// The class histogram of the perimeter: densities, cumulative fractions,
// class centres, the two result vectors and the mode. Index 0 of every vector
// is class k1st.

#include <cstdint>
#include <vector>

namespace polygons::sim {

// Densities count / (N * width) and cumulative fractions (0 for the first
// class, then the running sum of the later counts, divided by N) of classes
// k1st .. klass. `class_count` may carry the overflow slot after them.
void finish_class(std::int64_t N, double class_width, std::int32_t k1st, std::int32_t klass,
                  const std::vector<std::int64_t>& class_count,
                  std::vector<double>& class_density, std::vector<double>& class_cumul);

// (K - 0.5) * width, the midpoint of class K, for K = k1st .. klass.
void class_centres(double class_width, std::int32_t k1st, std::int32_t klass,
                   std::vector<double>& class_centre);

// Number of result vectors handed to the graph job: density and cumulative fraction.
inline constexpr std::int32_t kResultRows = 2;

// The result vectors, class by class: element 2k is the density of class
// k1st + k, element 2k + 1 its cumulative fraction.
std::vector<double> result_z(const std::vector<double>& class_density,
                             const std::vector<double>& class_cumul);

struct Mode {
  double x = 0.0;  // centre of the modal class
  double y = 0.0;  // its density, the largest of all classes
};

// The lowest-numbered class with the largest density (row 1 of `result_z`).
Mode find_mode(const std::vector<double>& result_z, const std::vector<double>& class_centre);

}  // namespace polygons::sim
