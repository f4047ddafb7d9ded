#pragma once
// The trial engine: the trials of simulate_class on the same stream of the
// generator, fast and on every core.
//
// What a run guarantees (stated here once; other places point here):
// - The report figures (average and standard deviation) and the class counts
//   are the same, bit for bit, for any number of threads and any instruction
//   set (KernelSet). The trials are cut into chunks whose size does not
//   depend on the number of threads; chunk c starts its own copy of the
//   generator at draw c * chunk * n of the one stream, and the chunks are
//   merged in chunk order. Every instruction set performs the same IEEE
//   operations in the same order (how: sim/sine_and_moments.hpp).
// - Against simulate_class, the straightforward loop, the draws are the same
//   and the figures are equal within rounding, not to the last bit: the
//   engine measures a side as 2 sin(pi * gap) where the loop takes the
//   distance between two points (cos, sin), and it adds in another order. So
//   a perimeter within rounding of a class boundary can fall into the
//   neighbouring class.
// - The generator ends N * n draws on, where the loop leaves it.

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/chunk.hpp"
#include "sim/kernel_set.hpp"
#include "sim/random.hpp"
#include "sim/trials.hpp"

namespace polygons::sim {

// Where a run tells how far it has got. The engine calls it only from the
// thread that called run_trials: start once before the first trial, update
// after some chunks, tick between blocks of trials (some thousand draws,
// however large the chunks), finish once after the last trial. What update
// or tick throws stops the run: every thread ends its chunk at its next
// block, and the exception leaves run_trials (or run_share) once they have.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void start() = 0;
  virtual void update(double fraction_done) = 0;
  virtual void tick() {}
  virtual void finish() = 0;
};

// A run takes at most this many threads.
inline constexpr int kMaxThreads = 1024;

struct EngineOptions {
  int threads = 1;                // worker threads, at least 1
  std::int64_t chunk_trials = 0;  // trials per chunk; 0 = chunk_trials_for(n, N)
  ProgressSink* progress = nullptr;    // nullptr: no progress told
  const KernelSet* kernels = nullptr;  // nullptr: fastest_kernel_set()
  // Called once the work arrays are allocated, before the first trial; what
  // it throws ends the run there.
  std::function<void()> before_trials;
  // When set, receives the perimeter of every trial of the run at its trial
  // index (N values; for run_share, those of the share's chunks): the values
  // the trials are counted and averaged with.
  double* perimeters = nullptr;
};

// The chunk size of a run: about a quarter of a million draws, at least one
// trial, and large enough that a run never has more than a bounded number of
// chunks (the per-chunk records stay small for any N).
std::int64_t chunk_trials_for(std::int32_t n, std::int64_t N);

// As simulate_class, same arguments and results, as guaranteed above.
TrialResults run_trials(std::int32_t n, double R, std::int64_t N, std::int32_t k1st,
                        std::int32_t klass, double perim_min, double perim_max,
                        std::vector<std::int64_t>& class_count, SeedState& rng,
                        const EngineOptions& options);

// A run shared out among processes. Each runs a range of the run's chunks
// with run_share; one of them gathers the records of all chunks in chunk
// order and sums the class counts, and merge_shares then gives what
// run_trials would have, bit for bit. Every process must take the same
// chunk_trials.
struct TrialRun {
  std::int32_t n = 3;
  double R = 1.0;
  std::int64_t N = 1000;
  std::int32_t k1st = 1;
  std::int32_t klass = 1;
  double perim_min = 0.0;
  double perim_max = 0.0;
  SeedState start;  // where the generator stands before the run
};

struct ChunkRange {
  std::int64_t first = 0;
  std::int64_t last = 0;  // one past the last chunk
};

// The number of chunks the run is cut into.
std::int64_t chunk_count(const TrialRun& run, const EngineOptions& options);

// Chunks [range.first, range.last) of the run: their records in chunk order,
// and their class counts (overflow slot not yet folded) in class_count, which
// it sizes to class_slots. An empty range runs nothing and gives zero counts.
std::vector<ChunkStats> run_share(const TrialRun& run, const EngineOptions& options,
                                  ChunkRange range, std::vector<std::int64_t>& class_count);

// run_trials of the run's parameters, whose start is where rng stands; rng ends
// where run_trials leaves it.
TrialResults run_trials(const TrialRun& run, const EngineOptions& options,
                        std::vector<std::int64_t>& class_count, SeedState& rng);

// What run_trials gives, from the records of all chunks in chunk order and
// the class counts summed over the shares (folded here); rng ends where
// run_trials leaves it.
TrialResults merge_shares(const TrialRun& run, const std::vector<ChunkStats>& chunks,
                          std::vector<std::int64_t>& class_count, SeedState& rng);

}  // namespace polygons::sim
