#pragma once
// The inner loops of the trial engine, built for several instruction sets
// and chosen at run time. Every variant performs the same IEEE operations in
// the same order (no fused multiply-add), so all give identical results.

#include <cstddef>
#include <cstdint>

#include "sim/random.hpp"

namespace polygons::sim {

// The next `count` combined integers of the stream of `state`, in stream
// order, into `out`; `state` ends `count` draws further on. The stream is cut
// into kDrawLanes consecutive stretches of len = count / kDrawLanes draws that
// are generated side by side, each started by jump-ahead, and the few draws
// left over are drawn one by one. `multipliers` holds a^len mod m per
// component; it is recomputed when made for another count.
inline constexpr std::size_t kDrawLanes = 8;
struct LaneMultipliers {
  std::size_t length = 0;
  std::uint64_t a1 = 1, a2 = 1;
};
LaneMultipliers lane_multipliers(std::size_t count);
void draw_integers(SeedState& state, std::int32_t* out, std::size_t count,
                   const LaneMultipliers& multipliers);

// sin(pi * x) for every x in [0, 1] of `values`, in place: the chord of an
// arc of x full turns is 2 sin(pi x). Accurate to a few units in the last place.
void sin_pi_turns(double* values, std::size_t count, double pi);

}  // namespace polygons::sim
