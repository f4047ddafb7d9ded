#pragma once
// The inner loops of the trial engine, built for several instruction sets.
// A run takes one set for all its trials, chosen once before the first
// trial (EngineOptions::kernels); which set it takes does not change its
// results (sim/engine.hpp).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "sim/random.hpp"

namespace polygons::sim {

// Generator lanes of draw_integers: kDrawLanes copies of the generator, each
// kDrawLanes draws ahead of the one before (a jump is one multiplication by
// a^kDrawLanes mod m), write consecutive draws side by side.
inline constexpr std::size_t kDrawLanes = 32;

// sort_few takes at most this many draws.
inline constexpr std::size_t kSortFewMax = 64;

// The inner loops compiled for one instruction set. To keep the guarantee
// of engine.hpp, all sets perform the same IEEE operations in the same
// order: sums use fixed partial sums whatever the vector width, and the
// library is built with -ffp-contract=off, so that no multiply and add are
// fused into one instruction (AVX-512 has one).
struct KernelSet {
  const char* name;  // "avx512", "avx2" or "generic"; the value of POLYGONS_ISA that forces it

  // `rounds` rounds of the lanes (lane j holds the state after draw
  // j + kDrawLanes * i): each writes one draw per lane to `out`, then, but
  // for the last, moves every lane kDrawLanes draws on.
  void (*draw_lanes)(std::uint64_t* lanes1, std::uint64_t* lanes2, std::int32_t* out,
                     std::size_t rounds);

  // Ascending order of n <= kSortFewMax combined integers, without branches
  // on the data: every draw is put at its rank, all ranks counted side by
  // side (equal draws, which are rare, fall back to an insertion sort).
  void (*sort_few)(std::int32_t* z, std::size_t n);

  // For polygons of n = 2, 3 or 4 vertices: sorts the draws of each of
  // `trials` consecutive trials (n draws each) and writes their gaps in full
  // turns, as the engine does for larger polygons, several trials per vector.
  void (*gaps_of_small_polygons)(const std::int32_t* z, std::size_t trials, std::size_t n,
                                 double scale, double* gaps);

  // Mean and sum of squared deviations from it of `count` >= 1 values, in
  // two passes of eight partial sums each.
  void (*block_moments)(const double* values, std::size_t count, double& mean, double& squares);

  // sin(pi * x) for every x in [0, 1] of `values`, in place: the chord of an
  // arc of x full turns is 2 sin(pi x). Accurate to a few units in the last
  // place.
  void (*sin_pi_turns)(double* values, std::size_t count, double pi);
};

// Every set built into the program, the fastest first, whether this
// processor can run it or not; the last, "generic", runs everywhere.
std::span<const KernelSet> kernel_sets();

// Whether this processor (and its operating system) can run `set`.
bool runs_here(const KernelSet& set);

// The fastest set this processor can run, found on the first call.
const KernelSet& fastest_kernel_set();

// The set called `name`, or nullptr when there is none by that name.
const KernelSet* kernel_set_named(std::string_view name);

// The next `count` combined integers of the stream of `state`, in stream
// order, into `out`; `state` ends `count` draws further on. Whole rounds go
// through the lanes of `kernels`, the few draws left over one by one.
void draw_integers(const KernelSet& kernels, SeedState& state, std::int32_t* out,
                   std::size_t count);

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
