#pragma once
// The floating-point inner loops of the engine: sines of the sides, the sum
// of a polygon's sides, and the moments of a block of perimeters. So that
// every instruction set gives the same figures (sim/engine.hpp), sums go
// through fixed partial sums whatever the vector width, and the library is
// built with -ffp-contract=off: no multiply and add fused into one
// instruction (AVX-512 has one).

#include <cstddef>

#include "sim/isa.hpp"

namespace polygons::sim {

// sin(pi * x) for every x in [0, 1] of `values`, in place: the chord of an
// arc of x full turns is 2 sin(pi x). Accurate to a few units in the last
// place.
using SinPiTurns = void (*)(double* values, std::size_t count, double pi);

// Mean and sum of squared deviations from it of `count` >= 1 values, in two
// passes of eight partial sums each.
using BlockMoments = void (*)(const double* values, std::size_t count, double& mean,
                              double& squares);

// The kernels compiled for `isa`.
SinPiTurns sin_pi_turns_for(Isa isa);
BlockMoments block_moments_for(Isa isa);

// The sum of `count` values in eight running sums, which do not wait on each
// other, joined in a fixed order: the same figure whatever the vector width.
inline double sum_in_eight_partials(const double* values, std::size_t count) {
  constexpr std::size_t kPartials = 8;
  double partial[kPartials] = {};
  std::size_t i = 0;
  for (; i + kPartials <= count; i += kPartials) {
    for (std::size_t j = 0; j < kPartials; ++j) partial[j] += values[i + j];
  }
  for (std::size_t j = 0; i + j < count; ++j) partial[j] += values[i + j];
  double sum = 0.0;
  for (double p : partial) sum += p;
  return sum;
}

}  // namespace polygons::sim
