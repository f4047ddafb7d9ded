#include "sim/sine_and_moments.hpp"

#include <array>

namespace polygons::sim {

namespace {

// Taylor coefficients of sin: (-1)^k / (2k+1)!, k = 1 .. 10; the first term
// left out is below 1.2e-18 on [0, pi/2].
constexpr std::array<double, 10> kSinCoefficients = {
    -1.0 / 6.0,
    1.0 / 120.0,
    -1.0 / 5040.0,
    1.0 / 362880.0,
    -1.0 / 39916800.0,
    1.0 / 6227020800.0,
    -1.0 / 1307674368000.0,
    1.0 / 355687428096000.0,
    -1.0 / 121645100408832000.0,
    1.0 / 51090942171709440000.0,
};

// Fixed partial sums, added in a fixed order: the same figures whatever the
// vector width.
POLYGONS_INLINE void block_moments_body(const double* values, std::size_t count, double& mean,
                                        double& squares) {
  constexpr std::size_t kPartials = 8;
  mean = sum_in_eight_partials(values, count) / static_cast<double>(count);

  double deviations[kPartials] = {};
  std::size_t i = 0;
  for (; i + kPartials <= count; i += kPartials) {
    for (std::size_t j = 0; j < kPartials; ++j) {
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

POLYGONS_INLINE void sin_pi_turns_body(double* values, std::size_t count, double pi) {
  for (std::size_t i = 0; i < count; ++i) {
    const double x = values[i];
    const double t = x < 0.5 ? x : 1.0 - x;  // sin(pi x) = sin(pi (1 - x)); exact
    const double a = t * pi;
    const double a2 = a * a;
    double q = kSinCoefficients[9];
    for (int k = 8; k >= 0; --k) q = q * a2 + kSinCoefficients[k];
    values[i] = a + a * (a2 * q);
  }
}

// The kernels of one instruction set: thin functions compiled for that set
// around the bodies above.
#define POLYGONS_SINE_AND_MOMENTS_FOR(isa, target)                                  \
  namespace isa {                                                                   \
  target void sin_pi_turns(double* values, std::size_t count, double pi) {          \
    sin_pi_turns_body(values, count, pi);                                           \
  }                                                                                 \
  target void block_moments(const double* values, std::size_t count, double& mean, \
                            double& squares) {                                      \
    block_moments_body(values, count, mean, squares);                               \
  }                                                                                 \
  }

POLYGONS_FOR_EVERY_SET(POLYGONS_SINE_AND_MOMENTS_FOR)

}  // namespace

SinPiTurns sin_pi_turns_for(Isa isa) { return POLYGONS_KERNEL_OF(isa, sin_pi_turns); }

BlockMoments block_moments_for(Isa isa) { return POLYGONS_KERNEL_OF(isa, block_moments); }

}  // namespace polygons::sim
