#pragma once
// The steps of a run from its settled parameters to its histogram, without
// the files: the program takes them between reading its input and drawing
// its chart, and a caller in its own process (the Python module) takes them
// as they are, so that both give the same figures and report lines.

#include <cstdint>
#include <functional>
#include <vector>

#include "params/run_parameters.hpp"
#include "sim/engine.hpp"
#include "sim/histogram.hpp"
#include "text/io.hpp"

namespace polygons::run {

// The floating-point mode of every trial: subnormal results flushed to zero,
// subnormal operands read as zero. Set by run_program; a process that runs
// trials without it sets it first. Threads started later inherit it.
void set_floating_point_mode();

// The floating-point mode of the calling thread, as a value to put back.
using FloatingPointMode = unsigned;
FloatingPointMode floating_point_mode();
void restore_floating_point_mode(FloatingPointMode mode);

// The calling thread's mode with the trials' settings added.
FloatingPointMode trial_floating_point_mode();

// A floating-point mode for the calling thread while the scope lives (the
// trials' by default), and the mode it had before once it ends: for callers
// that share their thread with other code (an interpreter).
class FloatingPointModeScope {
 public:
  explicit FloatingPointModeScope(FloatingPointMode mode = trial_floating_point_mode())
      : saved_(floating_point_mode()) {
    restore_floating_point_mode(mode);
  }
  ~FloatingPointModeScope() { restore_floating_point_mode(saved_); }
  FloatingPointModeScope(const FloatingPointModeScope&) = delete;
  FloatingPointModeScope& operator=(const FloatingPointModeScope&) = delete;

 private:
  FloatingPointMode saved_;
};

// How a run's trials are run, once its parameters are checked: as
// sim::run_trials does, filling class_count and moving rng on.
// run_trials_here runs them in this process; another runner may share them
// with other processes.
using TrialRunner = std::function<sim::TrialResults(
    const sim::TrialRun& run, const sim::EngineOptions& options,
    std::vector<std::int64_t>& class_count, sim::SeedState& rng)>;

sim::TrialResults run_trials_here(const sim::TrialRun& run, const sim::EngineOptions& options,
                                  std::vector<std::int64_t>& class_count, sim::SeedState& rng);

// The class range of a run: from 0 to the perimeter of the regular polygon.
struct ClassRange {
  double min = 0.0;
  double max = 0.0;
};

// Writes the range line and refuses (text::FatalError) parameters the
// trials cannot run on.
ClassRange settle_range(text::LineSink& out, const params::run_parameters& p);

// The class arrays of the run, allocated before any trial; text::FatalError
// (kExitIoFailure) when the memory is not there.
sim::ClassArrays class_arrays_for(const params::run_parameters& p);

// The run's trials counted into `classes` and the generator moved on past
// them; text::FatalError (kExitIoFailure) when the work arrays do not fit in
// memory.
sim::TrialResults run_the_trials(const params::run_parameters& p, ClassRange range,
                                 sim::ClassArrays& classes, sim::SeedState& rng,
                                 const sim::EngineOptions& options, const TrialRunner& runner);

// Writes the average line, finishes the histogram and writes the mode line.
sim::FinishedHistogram finish_run(text::LineSink& out, const params::run_parameters& p,
                                  const sim::TrialResults& trials, sim::ClassArrays classes);

}  // namespace polygons::run
