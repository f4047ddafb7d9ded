#pragma once
// The inner loops of the trial engine, built for several instruction sets
// and chosen at run time. Every variant performs the same IEEE operations in
// the same order (no fused multiply-add), so all give identical results.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/random.hpp"

namespace polygons::sim {

// The next `count` combined integers of the stream of `state`, in stream
// order, into `out`; `state` ends `count` draws further on. kDrawLanes copies
// of the generator, each kDrawLanes draws ahead of the one before (a jump is
// one multiplication by a^kDrawLanes mod m), write consecutive draws side by
// side; the few draws left over are drawn one by one. Uses the fastest way
// this machine has.
inline constexpr std::size_t kDrawLanes = 32;
void draw_integers(SeedState& state, std::int32_t* out, std::size_t count);

// A way of drawing the lanes, for one instruction set; all give the same draws.
struct DrawVariant {
  const char* name;
  void (*lanes)(std::uint64_t* lanes1, std::uint64_t* lanes2, std::int32_t* out,
                std::size_t rounds);
};
// The ways this machine supports, the fastest first.
std::vector<DrawVariant> draw_variants();
void draw_integers(const DrawVariant& variant, SeedState& state, std::int32_t* out,
                   std::size_t count);

// Ascending order of n <= kSortFewMax combined integers, without branches
// on the data: every draw is put at its rank, all ranks counted side by side
// (equal draws, which are rare, fall back to an insertion sort).
inline constexpr std::size_t kSortFewMax = 64;
void sort_few(std::int32_t* z, std::size_t n);

// For polygons of n = 2, 3 or 4 vertices: sorts the draws of each of
// `trials` consecutive trials (n draws each) and writes their gaps in full
// turns, as the engine's gaps_of does, several trials per vector.
void gaps_of_small_polygons(const std::int32_t* z, std::size_t trials, std::size_t n, double scale,
                            double* gaps);

// Mean and sum of squared deviations from it of `count` >= 1 values, in two
// passes.
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

void block_moments(const double* values, std::size_t count, double& mean, double& squares);

// sin(pi * x) for every x in [0, 1] of `values`, in place: the chord of an
// arc of x full turns is 2 sin(pi x). Accurate to a few units in the last place.
void sin_pi_turns(double* values, std::size_t count, double pi);

}  // namespace polygons::sim
