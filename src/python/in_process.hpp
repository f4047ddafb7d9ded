#pragma once
// A run inside the calling process, with parameters given as values and
// results kept in memory rather than written to files: what the Python
// module hands to Python. The steps and figures are the program's own
// (run/run_steps.hpp), so a run here gives, bit for bit, the figures the
// program writes to its results file for the same parameters.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "params/readat.hpp"
#include "run/run_steps.hpp"
#include "sim/class_fit.hpp"
#include "sim/engine.hpp"
#include "sim/exact_moments.hpp"
#include "sim/histogram.hpp"

namespace polygons::python {

// A finished run.
struct InProcessRun {
  params::run_parameters p;  // as used: after the limits and defaults
  sim::SeedState start;      // the generator before the first trial
  run::ClassRange range;
  sim::TrialResults trials;
  sim::FinishedHistogram histogram;  // `count` cut to the classes
  // The report's parameter and result lines as the program writes them,
  // without the clock lines, the banner and the login line.
  std::string report;
  std::vector<std::string> warnings;  // the limits that applied, as the report states them
  // The exact figures and how far the run's average lies from them; empty
  // beyond the sides they are computed for.
  std::optional<sim::PerimeterMoments> exact;
  std::optional<sim::AverageAgainstExact> weighed;
  // The exact probability of each class (empty beyond those sides) and the
  // chi-square test of the counts against them, as the results file has them.
  sim::ClassFit fit;
};

// The run of `given` on the engine with `options` (its threads, kernels and
// progress; no perimeters). Refusals as the program's: text::FatalError with
// kExitBadInput for parameters it refuses, kExitIoFailure for memory it
// cannot have; what the progress sink throws leaves unchanged.
InProcessRun run_in_process(const params::given_parameters& given, sim::EngineOptions options);

// The largest number of trials whose perimeters `perimeters_in_process`
// takes: their values must fit in half of the machine's memory.
std::int64_t max_perimeter_trials();

// The perimeter of each of `trials` trials (at least 1, no other limit) of
// `sides` points on a circle of `radius`, seeded by `seed` as a run is, in
// trial order, into `out` (room for `trials` values): the values a run of
// that many trials counts and averages. Refusals as for run_in_process; a
// trial count below 1 or above max_perimeter_trials is kExitBadInput.
void perimeters_in_process(std::int32_t sides, double radius, std::int64_t trials,
                           std::int32_t seed, double* out, sim::EngineOptions options);

// Checks a trial count for perimeters_in_process (text::FatalError as there),
// before anything is allocated for it.
void check_perimeter_trials(std::int64_t trials);

}  // namespace polygons::python
