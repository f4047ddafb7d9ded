#include "run/program.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

#include "graph/graph_job.hpp"
#include "params/readat.hpp"
#include "results/write.hpp"
#include "run/clock.hpp"
#include "run/command_line.hpp"
#include "run/engine_policy.hpp"
#include "run/run_steps.hpp"
#include "sim/class_fit.hpp"
#include "sim/engine.hpp"
#include "sim/histogram.hpp"
#include "sim/random.hpp"
#include "text/io.hpp"
#include "text/fixed_text.hpp"
#include "text/line.hpp"

namespace polygons::run {
namespace {

constexpr std::string_view kTitle = "Simulation of random polygons";
constexpr std::string_view kVersion = "Jan-2016";
constexpr std::string_view kBuildStamp = "26_22:53";

void write_banner(text::LineSink& out) {
  text::put(out, text::Line().lit(" *** ").s(kTitle).lit(" ***").col(68).lit("(").s(kVersion).lit(", QZ)"));
  text::put(out, text::Line().col(72).lit("[").s(kBuildStamp).lit("]"));
}

// The engine settings for this run; a POLYGONS_ISA the run cannot honour
// ends it as bad input.
EngineSettings engine_settings() {
  try {
    return engine_settings_for_run();
  } catch (const std::invalid_argument& e) {
    throw text::FatalError(e.what(), text::kExitBadInput);
  }
}

// The named values of the results file: the parameters as used, and the figures.
results::ResultValues result_values(const params::run_parameters& p,
                                    const results::ResultFigures& figures) {
  results::ResultValues values;
  static_cast<results::ResultFigures&>(values) = figures;
  values.sides = p.sides;
  values.radius = p.radius;
  values.trials = p.N;
  values.seed = p.iseed;
  values.classes = p.klass;
  values.show = p.ishow;
  return values;
}

void mainsub(const std::vector<std::string>& args, std::istream& in, text::LineSink& out,
             const TrialRunner& run_trials) {
  sim::SeedState rng;
  params::run_parameters p = params::readat(in, out, args, rng);
  const std::string workdir = graph::working_directory(args);
  const ClassRange range = settle_range(out, p);
  const EngineSettings engine = engine_settings();
  // A long run must not find out only after its trials that it has nowhere
  // to put its files.
  graph::require_writable_directory(workdir);
  const bool results_wanted = results::results_file_requested(std::getenv(results::kResultsVariable));
  if (results_wanted) results::discard_results_file(workdir);

  sim::ClassArrays classes = class_arrays_for(p);
  const sim::TrialResults trials = run_the_trials(p, range, classes, rng, engine.options, run_trials);
  const sim::FinishedHistogram histogram = finish_run(out, p, trials, std::move(classes));
  if (results_wanted) {
    const results::ResultFigures figures{trials.class_width, range.min,       range.max,
                                         trials.perim_avg,  trials.perim_stdev,
                                         histogram.mode.x,  histogram.mode.y};
    const sim::ClassFit fit = sim::fit_run_classes(
        p.sides, p.radius, std::span(histogram.count).first(static_cast<std::size_t>(p.klass)),
        engine.options.threads);
    results::ResultValues values = result_values(p, figures);
    values.fit = fit.test;
    results::write_results_file(workdir, values, histogram.centre, histogram.count,
                                histogram.result_z, fit.probability);
  }

  graph::www_graph(workdir, p.ishow, sim::K1ST, p.klass, sim::kResultRows, histogram.centre,
                   histogram.result_z, in, out);
}

}  // namespace

int run_program(const std::vector<std::string>& args, std::istream& in,
                const TrialRunner& trials) {
  // A closed pipe on standard output must surface as a failed write with a
  // message, not as a silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);
  set_floating_point_mode();
  text::FileSink out(stdout, "standard output");
  RunClock clock;
  try {
    if (answer_options(args, out)) return text::kExitOk;
    timer(clock, out);
    write_banner(out);
    hint_when_reading_a_terminal(args);
    mainsub(args, in, out, trials);
    timer(clock, out);
  } catch (const text::RunEnded&) {
    return text::kExitOk;
  } catch (const text::FatalError& e) {
    std::fflush(stdout);
    text::warn(e.what());
    return e.status();
  }
  return text::kExitOk;
}

}  // namespace polygons::run
