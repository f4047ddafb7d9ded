#include "sim/sine_and_moments.hpp"

namespace polygons::sim {

namespace {

// Fixed partial sums, added in a fixed order: the same figures whatever the
// vector width.
POLYGONS_INLINE void block_moments_body(const double* values, std::size_t count, double& mean,
                                        double& squares) {
  mean = sum_in_eight_partials(values, count) / static_cast<double>(count);

  double deviations[kPartialSums] = {};
  std::size_t i = 0;
  for (; i + kPartialSums <= count; i += kPartialSums) {
    for (std::size_t j = 0; j < kPartialSums; ++j) {
      const double d = values[i + j] - mean;
      deviations[j] += d * d;
    }
  }
  for (std::size_t j = 0; i + j < count; ++j) {
    const double d = values[i + j] - mean;
    deviations[j] += d * d;
  }
  squares = 0.0;
  for (double d : deviations) squares += d;
}

// The kernel of one instruction set: a thin function compiled for that set
// around the body above.
#define POLYGONS_MOMENTS_FOR(isa, target)                                           \
  namespace isa {                                                                   \
  target void block_moments(const double* values, std::size_t count, double& mean, \
                            double& squares) {                                      \
    block_moments_body(values, count, mean, squares);                               \
  }                                                                                 \
  }

POLYGONS_FOR_EVERY_SET(POLYGONS_MOMENTS_FOR)

}  // namespace

BlockMoments block_moments_for(Isa isa) { return POLYGONS_KERNEL_OF(isa, block_moments); }

}  // namespace polygons::sim
