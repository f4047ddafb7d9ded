#include "run/run_steps.hpp"

#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define POLYGONS_HAS_MXCSR 1
#endif

#include "params/readat.hpp"
#include "run/report.hpp"
#include "text/fixed_text.hpp"

namespace polygons::run {
namespace {

// The result of `allocate`; a size the machine cannot give ends the run with
// a message naming `what`.
template <typename Allocate>
auto with_memory_for(const std::string& what, Allocate allocate) {
  try {
    return allocate();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  throw text::FatalError("cannot allocate " + what, text::kExitIoFailure);
}

constexpr unsigned kFlushAndReadSubnormalsAsZero = 0x8040;  // MXCSR's FTZ and DAZ bits

}  // namespace

void set_floating_point_mode() { restore_floating_point_mode(trial_floating_point_mode()); }

FloatingPointMode floating_point_mode() {
#ifdef POLYGONS_HAS_MXCSR
  return _mm_getcsr();
#else
  return 0;
#endif
}

void restore_floating_point_mode([[maybe_unused]] FloatingPointMode mode) {
#ifdef POLYGONS_HAS_MXCSR
  _mm_setcsr(mode);
#endif
}

FloatingPointMode trial_floating_point_mode() {
#ifdef POLYGONS_HAS_MXCSR
  return floating_point_mode() | kFlushAndReadSubnormalsAsZero;
#else
  return floating_point_mode();
#endif
}

sim::TrialResults run_trials_here(const sim::TrialRun& run, const sim::EngineOptions& options,
                                  std::vector<std::int64_t>& class_count, sim::SeedState& rng) {
  return sim::run_trials(run, options, class_count, rng);
}

ClassRange settle_range(text::LineSink& out, const params::run_parameters& p) {
  const ClassRange range{0.0, perimeter_max(p.sides, p.radius)};
  write_range_line(out, range.min, range.max);
  params::refuse_unusable(p, range.max);
  return range;
}

sim::ClassArrays class_arrays_for(const params::run_parameters& p) {
  return with_memory_for("the arrays of " + text::i0(p.klass) + " classes",
                         [&] { return sim::allocate_class_arrays(sim::K1ST, p.klass); });
}

sim::TrialResults run_the_trials(const params::run_parameters& p, ClassRange range,
                                 sim::ClassArrays& classes, sim::SeedState& rng,
                                 const sim::EngineOptions& options, const TrialRunner& runner) {
  return with_memory_for("the work arrays of " + text::i0(p.sides) + " sides", [&] {
    return runner({p.sides, p.radius, p.N, sim::K1ST, p.klass, range.min, range.max, rng},
                  options, classes.count, rng);
  });
}

sim::FinishedHistogram finish_run(text::LineSink& out, const params::run_parameters& p,
                                  const sim::TrialResults& trials, sim::ClassArrays classes) {
  write_average_line(out, trials.perim_avg, trials.perim_stdev);
  sim::FinishedHistogram histogram =
      sim::finish_histogram(std::move(classes), p.N, trials.class_width, sim::K1ST, p.klass);
  write_mode_line(out, histogram.mode.x, histogram.mode.y);
  return histogram;
}

}  // namespace polygons::run
