#pragma once
// The floating-point arithmetic of the engine: the sine of a side, the sum of
// a polygon's sides, and the moments of a block of perimeters. So that every
// instruction set gives the same figures (sim/engine.hpp), each is written
// once here, sums go through fixed partial sums in a fixed order whatever
// the vector width, and the library is built with -ffp-contract=off: no
// multiply and add fused into one instruction (AVX-512 has one).

#include <array>
#include <cstddef>

#include "sim/isa.hpp"

namespace polygons::sim {

// Taylor coefficients of sin: (-1)^k / (2k+1)!, k = 1 .. 10; the first term
// left out is below 1.2e-18 on [0, pi/2].
inline constexpr std::array<double, 10> kSinCoefficients = {
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

// Each x of xs becomes sin(pi x), for x in [0, 1], a double or a vector of
// them (the same operations on every element): the chord of an arc of x
// full turns is 2 sin(pi x). Accurate to a few units in the last place. Each
// step is taken for all of xs before the next, so that the processor has K
// sines that do not wait on each other to work on.
template <typename Real, std::size_t K>
POLYGONS_INLINE void take_sines_pi(Real (&xs)[K], double pi) {
  Real a[K], a2[K], q[K];
  for (std::size_t k = 0; k < K; ++k) {
    const Real other = 1.0 - xs[k];  // sin(pi x) = sin(pi (1 - x)); exact
    a[k] = (other < xs[k] ? other : xs[k]) * pi;
  }
  for (std::size_t k = 0; k < K; ++k) a2[k] = a[k] * a[k];
  for (std::size_t k = 0; k < K; ++k) q[k] = a2[k] * kSinCoefficients[9] + kSinCoefficients[8];
  for (int c = 7; c >= 0; --c) {
    for (std::size_t k = 0; k < K; ++k) q[k] = q[k] * a2[k] + kSinCoefficients[c];
  }
  for (std::size_t k = 0; k < K; ++k) xs[k] = a[k] + a[k] * (a2[k] * q[k]);
}

template <typename Real>
POLYGONS_INLINE void take_sin_pi(Real& x, double pi) {
  Real xs[1] = {x};
  take_sines_pi(xs, pi);
  x = xs[0];
}

POLYGONS_INLINE double sin_pi(double x, double pi) {
  take_sin_pi(x, pi);
  return x;
}

// The running sums that long sums are added in: they do not wait on each
// other, and joined in order they give the same figure whatever the vector
// width. Every kernel set adds in this many, so that all give the same
// figures.
inline constexpr std::size_t kPartialSums = 8;

// A polygon of this many sides or more adds them in the partial sums: side i
// goes to sum i mod kPartialSums, and they are joined in order. Fewer sides
// are added one after the other.
inline constexpr std::size_t kEightPartialsFrom = 32;

// Mean and sum of squared deviations from it of `count` >= 1 values, in two
// passes of kPartialSums partial sums each.
using BlockMoments = void (*)(const double* values, std::size_t count, double& mean,
                              double& squares);

// The kernel compiled for `isa`.
BlockMoments block_moments_for(Isa isa);

// The sum of `count` values in the partial sums, joined in a fixed order.
inline double sum_in_eight_partials(const double* values, std::size_t count) {
  double partial[kPartialSums] = {};
  std::size_t i = 0;
  for (; i + kPartialSums <= count; i += kPartialSums) {
    for (std::size_t j = 0; j < kPartialSums; ++j) partial[j] += values[i + j];
  }
  for (std::size_t j = 0; i + j < count; ++j) partial[j] += values[i + j];
  double sum = 0.0;
  for (double p : partial) sum += p;
  return sum;
}

}  // namespace polygons::sim
