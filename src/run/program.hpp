#pragma once
// The process entry and the main sequence of a run.

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

#include "run/run_steps.hpp"

namespace polygons::run {

// Runs the whole program on the command-line arguments `args` (without the
// program name) and standard input `in`; writes the report to standard output.
// Returns the exit status: 0 for every orderly end, non-zero after a fatal
// error, whose message has been written to standard error.
int run_program(const std::vector<std::string>& args, std::istream& in,
                const TrialRunner& trials = run_trials_here);

}  // namespace polygons::run
