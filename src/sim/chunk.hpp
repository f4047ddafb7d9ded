#pragma once
// One chunk of a run's trials, worked through block by block: draws, sorted
// draws, sums of sides, perimeters, then the classes and the moments. The engine
// (sim/engine.hpp) hands chunks to its threads and merges what they return.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/bucket_sort.hpp"
#include "sim/kernel_set.hpp"
#include "sim/memory.hpp"
#include "sim/random.hpp"
#include "sim/random_lanes.hpp"
#include "sim/sorting.hpp"

namespace polygons::sim {

class ProgressSink;  // sim/engine.hpp

// Count, mean and sum of squared deviations of a stream of perimeters; two of
// them merge by the pairwise formula (Chan, Golub and LeVeque).
struct Moments {
  double count = 0.0;
  double mean = 0.0;
  double squares = 0.0;

  void merge(const Moments& b);
};

struct ChunkStats {
  Moments moments;
  double variance = 0.0;  // of the running recurrence, when the run is one chunk
};

// What every chunk of a run shares.
struct RunSetup {
  std::size_t n = 0;
  double R = 0.0;
  double pi = 0.0;
  double perim_min = 0.0;
  double class_width = 0.0;
  std::int32_t k1st = 1;
  std::int64_t slots = 0;
  std::int64_t trials = 0;
  std::int64_t chunk = 0;
  std::int64_t chunks = 0;
  // A run of one chunk keeps the running recurrence of the straightforward
  // loop; longer runs take the moments of each block in two vectorised
  // passes and merge them.
  bool running_recurrence = true;
  SeedState start;
  const KernelSet* kernels = nullptr;
  std::int64_t* shared_counts = nullptr;  // set when the threads count into one array
  double* perimeters = nullptr;  // when set, each trial's perimeter goes to its index here
  // Set once the run is given up: chunks end at their next block, their
  // figures unfinished.
  const std::atomic<bool>* abandoned = nullptr;
};

// The work arrays of one thread, allocated before the threads start, none
// sharing a cache line with another thread's.
struct Workspace {
  Workspace(const RunSetup& run, bool private_counts);

  // About the bytes one workspace takes.
  static double bytes(const RunSetup& run, bool private_counts);

  std::size_t block_trials;
  TrialDraws trial_draws;           // for polygons sorted side by side
  LineVector<Comparator> network;  // likewise
  LineVector<std::int32_t> z;
  LineVector<double> sums;
  LineVector<double> perimeters;
  LineVector<double> positions;
  BucketSort bucket;  // for larger polygons
  std::vector<std::int64_t> counts;  // the thread's own class counts, when it has them
  ProgressSink* ticks = nullptr;     // told between blocks (the calling thread's workspace)
};

// The trials of chunk c, counted into the workspace's counts or the shared
// ones.
ChunkStats run_chunk(std::int64_t c, const RunSetup& run, Workspace& w);

}  // namespace polygons::sim
