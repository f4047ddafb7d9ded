#pragma once
// The process entry and the main sequence of a run.

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

#include "sim/engine.hpp"

namespace polygons::run {

// How a run's trials are run, once its parameters are checked and its
// working directory found: as sim::run_trials does, filling class_count and
// moving rng on. run_trials_here runs them in this process; another runner
// may share them with other processes.
using TrialRunner = std::function<sim::TrialResults(
    const sim::TrialRun& run, const sim::EngineOptions& options,
    std::vector<std::int64_t>& class_count, sim::SeedState& rng)>;

sim::TrialResults run_trials_here(const sim::TrialRun& run, const sim::EngineOptions& options,
                                  std::vector<std::int64_t>& class_count, sim::SeedState& rng);

// The floating-point mode of every trial: subnormal results flushed to zero,
// subnormal operands read as zero. Set by run_program; a process that runs
// trials without it sets it first.
void set_floating_point_mode();

// Runs the whole program on the command-line arguments `args` (without the
// program name) and standard input `in`; writes the report to standard output.
// Returns the exit status: 0 for every orderly end, non-zero after a fatal
// error, whose message has been written to standard error.
int run_program(const std::vector<std::string>& args, std::istream& in,
                const TrialRunner& trials = run_trials_here);

}  // namespace polygons::run
