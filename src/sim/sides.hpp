#pragma once
// The sides of a trial's polygon from its draws: the gaps between
// neighbouring draws in ascending order, in full turns, each side
// sin(pi * gap) (half its chord on the unit circle), added in the order of
// sim/sine_and_moments.hpp. The closing side's arc is one turn less the span
// of the draws, and sin(pi (1 - s)) = sin(pi s), so the span stands in for it.

#include <cstddef>
#include <cstdint>
#include <span>

#include "sim/isa.hpp"
#include "sim/sorting.hpp"

namespace polygons::sim {

// For `groups` groups of kDrawLanes trials of n <= lanes_max_for(isa) draws, laid out
// as draw_trials writes them: sorts every trial's draws in place by
// `network` (sorting_network(n) of the set's shape) and writes the sum of its
// sides to sums[t] for trial t of the block.
using SidesInLanes = void (*)(std::int32_t* z, std::size_t n, std::size_t groups,
                              std::span<const Comparator> network, double scale, double pi,
                              double* sums);

// The sum of the sides of one trial of n > lanes_max_for(isa) draws in
// ascending order.
using SidesOfSorted = double (*)(const std::int32_t* z, std::size_t n, double scale, double pi);

// The kernels compiled for `isa`.
SidesInLanes sides_in_lanes_for(Isa isa);
SidesOfSorted sides_of_sorted_for(Isa isa);

// The shape of the networks that sides_in_lanes_for(isa) takes.
NetworkShape network_shape_for(Isa isa);

// The most draws of the trials that `isa` sorts side by side, at least
// kEightPartialsFrom and at most kLanesMax; larger trials go one at a time.
std::size_t lanes_max_for(Isa isa);

}  // namespace polygons::sim
