#pragma once
// The inner loops of the trial engine for one instruction set, as a table of
// functions. A run takes one set for all its trials, chosen once before the
// first trial (EngineOptions::kernels); which set it takes does not change
// its results (sim/engine.hpp).

#include <span>
#include <string_view>

#include "sim/bucket_sort.hpp"
#include "sim/random_lanes.hpp"
#include "sim/sides.hpp"
#include "sim/sine_and_moments.hpp"

namespace polygons::sim {

struct KernelSet {
  Isa isa;
  const char* name;  // its row's in kIsaRows (sim/isa.hpp)
  DrawLanes draw_lanes;
  SidesInLanes sides_in_lanes;
  BucketSortKernel bucket_sort;
  SidesOfSorted sides_of_sorted;
  BlockMoments block_moments;
  NetworkShape network_shape;  // of the sorting networks sides_in_lanes takes
  std::size_t lanes_max;       // trials of more draws go one at a time
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

}  // namespace polygons::sim
