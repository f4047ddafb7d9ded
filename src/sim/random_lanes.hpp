#pragma once
// Many draws of the generator at once: kDrawLanes copies of it, each
// kDrawLanes draws ahead of the one before, write consecutive draws side by
// side, so that the vector units step them together. The draws are those of
// the one stream, in stream order (sim/random.hpp).

#include <cstddef>
#include <cstdint>

#include "sim/isa.hpp"
#include "sim/random.hpp"

namespace polygons::sim {

struct KernelSet;

inline constexpr std::size_t kDrawLanes = 32;

// `rounds` rounds of the lanes (lane j holds the state after draw
// j + kDrawLanes * i): each writes one draw per lane to `out`, then, but for
// the last, moves every lane kDrawLanes draws on.
using DrawLanes = void (*)(std::uint64_t* lanes1, std::uint64_t* lanes2, std::int32_t* out,
                           std::size_t rounds);

// The lanes compiled for `isa`.
DrawLanes draw_lanes_for(Isa isa);

// The next `count` combined integers of the stream of `state`, in stream
// order, into `out`; `state` ends `count` draws further on. Whole rounds go
// through the lanes of `kernels`, the few draws left over one by one.
void draw_integers(const KernelSet& kernels, SeedState& state, std::int32_t* out,
                   std::size_t count);

}  // namespace polygons::sim
