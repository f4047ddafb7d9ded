#pragma once
// The first trials of a run, replayed one by one: the points of each polygon
// and its perimeter, for showing a few of the polygons a run counted.

#include <cstdint>
#include <vector>

#include "sim/kernel_set.hpp"
#include "sim/random.hpp"

namespace polygons::sim {

// One trial as the run drew and measured it.
struct ReplayedTrial {
  std::vector<double> angles;  // of its points in radians, ascending, in [0, 2 pi)
  double perimeter = 0.0;      // the value the run counts and averages
};

// Trials 0 .. count - 1 of a run of n-gons of radius R whose generator starts
// at `start`. Trial t takes draws t n .. t n + n - 1 of the run's stream
// whatever the run's size, threads or kernel set (sim/engine.hpp), so these
// are the run's own first trials: same points, same perimeters, bit for bit.
// The perimeters come from the engine itself; nullptr kernels: the fastest.
std::vector<ReplayedTrial> replay_trials(std::int32_t n, double R, SeedState start,
                                         std::int32_t count, const KernelSet* kernels = nullptr);

}  // namespace polygons::sim
