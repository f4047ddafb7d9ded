#pragma once
// Many draws of the generator at once: kDrawLanes copies of it, the lanes,
// each at its own place in the one stream, so that the vector units step
// them together. Two layouts: consecutive draws side by side (stream order),
// or consecutive trials side by side, lane j drawing trial j of a group of
// kDrawLanes trials. Either way the draws are those of the one stream
// (sim/random.hpp).

#include <cstddef>
#include <cstdint>

#include "sim/isa.hpp"
#include "sim/random.hpp"

namespace polygons::sim {

inline constexpr std::size_t kDrawLanes = 32;

// How the lanes move on, as the multipliers a^k mod m of the two components
// ([0] and [1]) that take a state k draws on: by `step` from one row to the
// next of a group, by `jump` from the last row of a group to the first of
// the next.
struct LaneMoves {
  std::uint64_t step[2];
  std::uint64_t jump[2];
};

// `groups` groups of `rows` rows: each row writes the draw of every lane's
// state (kDrawLanes draws) to `out`, then, but for the last row of all,
// moves the lanes on.
using DrawLanes = void (*)(std::uint64_t* lanes1, std::uint64_t* lanes2, std::int32_t* out,
                           std::size_t rows, std::size_t groups, const LaneMoves& moves);

// The lanes compiled for `isa`.
DrawLanes draw_lanes_for(Isa isa);

// The next `count` combined integers of the stream of `state`, in stream
// order, into `out`; `state` ends `count` draws further on. Whole rows go
// through `draw_lanes` (a kernel set's), the few draws left over one by one.
void draw_integers(DrawLanes draw_lanes, SeedState& state, std::int32_t* out, std::size_t count);

// The multipliers that lay out trials of n draws side by side.
struct TrialDraws {
  explicit TrialDraws(std::size_t n);

  std::size_t n;
  LaneMoves moves;
  std::uint64_t first_draw[2][kDrawLanes];  // from a group's start to lane j's first draw
};

// The draws of `groups` * kDrawLanes trials of the stream of `state`, trial
// by trial, into `out` by groups: row i of group g (kDrawLanes values at
// out + (g * n + i) * kDrawLanes) holds draw i of each of the group's
// trials. `state` ends as many trials further on.
void draw_trials(DrawLanes draw_lanes, const TrialDraws& trials, SeedState& state,
                 std::int32_t* out, std::size_t groups);

}  // namespace polygons::sim
