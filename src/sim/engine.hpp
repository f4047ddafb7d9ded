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
//   operations in the same order.
// - Against simulate_class, the straightforward loop, the draws are the same
//   and the figures are equal within rounding, not to the last bit: the
//   engine measures a side as 2 sin(pi * gap) where the loop takes the
//   distance between two points (cos, sin), and it adds in another order. So
//   a perimeter within rounding of a class boundary can fall into the
//   neighbouring class.
// - The generator ends N * n draws on, where the loop leaves it.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/kernels.hpp"
#include "sim/random.hpp"
#include "sim/trials.hpp"

namespace polygons::sim {

struct EngineOptions {
  int threads = 1;                // worker threads, at least 1
  std::int64_t chunk_trials = 0;  // trials per chunk; 0 = chunk_trials_for(n, N)
  bool show_progress = false;     // progress line on standard error
  const KernelSet* kernels = nullptr;  // nullptr: fastest_kernel_set()
};

// The chunk size of a run: about a quarter of a million draws, at least one
// trial, and large enough that a run never has more than a bounded number of
// chunks (the per-chunk records stay small for any N).
std::int64_t chunk_trials_for(std::int32_t n, std::int64_t N);

// The thread count named by OMP_NUM_THREADS ("4", or a list "4,2" of which
// the first counts), or nothing when the text is not a positive whole number.
std::optional<int> parse_thread_count(std::string_view text);

// The processors this process may run on (which can be fewer than the
// machine has), or the machine's count when that cannot be asked.
int available_processors();

// Options for a run of the program: threads from OMP_NUM_THREADS when it is
// set and valid (a note on standard error when it is set but not valid),
// otherwise one per processor the process may run on; the kernel set named
// by POLYGONS_ISA when it is set and not empty, otherwise the fastest this
// processor can run; the progress line when standard error is a terminal.
// Throws std::invalid_argument, with a message for the user, when
// POLYGONS_ISA names no set or one this processor cannot run.
EngineOptions engine_options_for_run();

// As simulate_class, same arguments and results, as guaranteed above.
TrialResults run_trials(std::int32_t n, double R, std::int64_t N, std::int32_t k1st,
                        std::int32_t klass, double perim_min, double perim_max,
                        std::vector<std::int64_t>& class_count, SeedState& rng,
                        const EngineOptions& options);

}  // namespace polygons::sim
