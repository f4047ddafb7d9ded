#pragma once
// Small pictures of a run's first polygons, replayed from its own random
// stream by the engine (sim/replay.hpp), so that the same parameters and seed
// always show the same polygons: each an inline SVG of the polygon inscribed
// in its circle, with a text alternative, and its perimeter beside it.

#include <cstddef>
#include <string>

#include "web/fields.hpp"

namespace polygons::web {

inline constexpr int kPicturedTrials = 6;
// A polygon of more corners is drawn through this many of them, evenly
// spaced, which the eye cannot tell from all; its perimeter stays exact.
inline constexpr std::size_t kMaxDrawnCorners = 1000;

// The pictures of the first kPicturedTrials trials of the request's run, one
// <figure> each, with the perimeter in its data-perimeter attribute as the
// shortest text that reads back to the engine's value. Empty for a seed of 0,
// whose stream came from the clock and cannot be replayed.
std::string polygon_pictures_html(const run_request& request);

}  // namespace polygons::web
