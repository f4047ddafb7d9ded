#pragma once
// The class histogram of the perimeter: densities, cumulative fractions,
// class centres, the two result vectors and the mode, finished in one step
// from the counts of the trials. Index 0 of every vector is class k1st.

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

// The histogram of a run once its trials are counted: the class arrays, all
// filled, and the mode.
struct FinishedHistogram : ClassArrays {
  Mode mode;
};

// Finishes the histogram of classes k1st .. klass from the counts of N trials
// in `classes.count` (which may carry the overflow slot):
// - density: count / (N * width);
// - cumul: 0 for the first class, then the running sum of the later counts,
//   divided by N;
// - centre: (K - 0.5) * width, the midpoint of class K;
// - result_z: as `result_z` above;
// - mode: the lowest-numbered class with the largest count. With a positive
//   width that is the class of the largest density; with a negative radius
//   the width and every density are negative, and the largest density would
//   be that of the emptiest class, so the counts decide.
// The arrays are those handed in, so a run that allocated them before its
// trials needs no memory after them.
FinishedHistogram finish_histogram(ClassArrays classes, std::int64_t N, double class_width,
                                   std::int32_t k1st, std::int32_t klass);

}  // namespace polygons::sim
