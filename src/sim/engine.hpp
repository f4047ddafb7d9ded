#pragma once
// The trial engine: the same trials, stream and results as simulate_class,
// fast and on every core. The trials are cut into chunks whose size does not
// depend on the number of threads; chunk c starts its own copy of the
// generator at draw c * chunk * n of the one stream, keeps its own running
// average and variance, and the chunks are merged in chunk order. So a run
// gives the same report on any number of threads, and a run that fits in one
// chunk computes exactly the recurrence of the straightforward loop.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/random.hpp"
#include "sim/trials.hpp"

namespace polygons::sim {

struct EngineOptions {
  int threads = 1;                // worker threads, at least 1
  std::int64_t chunk_trials = 0;  // trials per chunk; 0 = chunk_trials_for(n, N)
  bool show_progress = false;     // progress line on standard error
};

// The chunk size of a run: about a quarter of a million draws, at least one
// trial, and large enough that a run never has more than a bounded number of
// chunks (the per-chunk records stay small for any N).
std::int64_t chunk_trials_for(std::int32_t n, std::int64_t N);

// The thread count named by OMP_NUM_THREADS ("4", or a list "4,2" of which
// the first counts), or nothing when the text is not a positive whole number.
std::optional<int> parse_thread_count(std::string_view text);

// Options for a run of the program: threads from OMP_NUM_THREADS when it is
// set and valid (a note on standard error when it is set but not valid),
// otherwise one per processor the process may run on; the progress line
// when standard error is a terminal.
EngineOptions engine_options_for_run();

// As simulate_class, same arguments and results; `rng` ends N * n draws on.
TrialResults run_trials(std::int32_t n, double R, std::int64_t N, std::int32_t k1st,
                        std::int32_t klass, double perim_min, double perim_max,
                        std::vector<std::int64_t>& class_count, SeedState& rng,
                        const EngineOptions& options);

}  // namespace polygons::sim
