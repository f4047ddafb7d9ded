#include "python/in_process.hpp"

#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "sim/memory.hpp"
#include "text/fixed_text.hpp"
#include "text/io.hpp"

namespace polygons::python {
namespace {

// Runs from Python are the user's own, not the web's: the web's limit on the
// trials does not apply.
constexpr bool kInternetRun = false;

constexpr std::string_view kWarningMark = "%Wrn";

std::vector<std::string> warning_lines(const std::string& report) {
  std::vector<std::string> warnings;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t mark = line.find(kWarningMark);
    if (mark != std::string::npos) warnings.push_back(line.substr(mark));
  }
  return warnings;
}

void refuse(const std::string& message) {
  throw text::FatalError(message, text::kExitBadInput);
}

}  // namespace

InProcessRun run_in_process(const params::given_parameters& given, sim::EngineOptions options) {
  InProcessRun result;
  const params::run_parameters& p = result.p;
  text::StringSink out;
  {
    // The program runs in this mode from its start, its parameters included
    // (a subnormal radius reads as 0); the exact figures below are computed
    // as the web service computes them, without it.
    const run::FloatingPointModeScope program_mode;
    result.p = params::settle_parameters(given, out, kInternetRun, result.start);
    result.range = run::settle_range(out, p);
    sim::SeedState rng = result.start;
    sim::ClassArrays classes = run::class_arrays_for(p);
    options.perimeters = nullptr;
    result.trials = run::run_the_trials(p, result.range, classes, rng, options, run::run_trials_here);
    result.histogram = run::finish_run(out, p, result.trials, std::move(classes));
    result.histogram.count.resize(static_cast<std::size_t>(p.klass));
  }
  result.report = out.text();
  result.warnings = warning_lines(result.report);
  if (p.sides <= sim::kMaxExactSides) {
    result.exact = sim::exact_perimeter_moments(p.sides, p.radius);
    result.weighed =
        sim::weigh_average(result.trials.perim_avg, result.trials.perim_stdev, p.N, result.exact->mean);
  }
  result.fit = sim::fit_run_classes(p.sides, p.radius, result.histogram.count, options.threads);
  return result;
}

std::int64_t max_perimeter_trials() {
  const double trials = sim::physical_memory() / 2.0 / sizeof(double);
  return trials < 9e18 ? static_cast<std::int64_t>(trials) : INT64_MAX;
}

void check_perimeter_trials(std::int64_t trials) {
  if (trials < 1) refuse("the number of trials is " + text::i0(trials) + "; it must be at least 1");
  if (trials > max_perimeter_trials()) {
    refuse("the perimeters of " + text::i0(trials) + " trials take " +
           text::i0(trials / (1 << 27)) + " GiB, more than half of this machine's memory; " +
           "take fewer trials, or simulate() for their histogram");
  }
}

void perimeters_in_process(std::int32_t sides, double radius, std::int64_t trials,
                           std::int32_t seed, double* out, sim::EngineOptions options) {
  check_perimeter_trials(trials);
  const run::FloatingPointModeScope program_mode;
  params::run_parameters p;
  p.sides = sides;
  p.radius = radius;
  p.N = trials;
  p.iseed = seed;
  p.klass = 1;  // the counts are not asked for
  text::StringSink lines;
  const run::ClassRange range = run::settle_range(lines, p);
  sim::SeedState rng;
  sim::random_init(rng, seed);
  sim::ClassArrays classes = run::class_arrays_for(p);
  options.perimeters = out;
  run::run_the_trials(p, range, classes, rng, options, run::run_trials_here);
}

}  // namespace polygons::python
