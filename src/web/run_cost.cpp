#include "web/run_cost.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace polygons::web {
namespace {

// Classes cost twice when the report lists them too. Without a count of its
// own the program takes about log2(trials) classes, too few to count.
double counted_classes(int classes, int show) {
  return static_cast<double>(std::max(classes, 0)) * (show ? 2 : 1);
}

double fixed_seconds(int classes, int show, const run_costs& costs) {
  return costs.fixed + counted_classes(classes, show) * costs.per_class;
}

double trial_seconds(int sides, const run_costs& costs) {
  return costs.per_trial + static_cast<double>(std::max(sides, 1)) * costs.per_side_trial;
}

// The shapes timed, and which figure each measures.
const run_request kFixedRun{3, 1.0, 1000, 1, 0, 0};
// Listed as well as drawn, so that the classes stand out of the fixed part.
const run_request kClassesRun{3, 1.0, 1000, 1, kMaxClasses, 1};
// The first of the runs of more and more trials.
const run_request kSmallPolygonsRun{3, 1.0, 1e6, 1, 0, 0};
const run_request kLargePolygonsRun{1000, 1.0, 1e4, 1, 0, 0};
// Trials that take this long beyond the fixed part are measured well enough
// that a slip of the fixed part changes their rate little.
constexpr double kMeasuredSeconds = 0.3;

std::string figure(double value, const char* unit) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g %s", value, unit);
  return text;
}

}  // namespace

double estimated_seconds(const run_request& request, const run_costs& costs) {
  return fixed_seconds(request.classes, request.show, costs) +
         request.trials * trial_seconds(request.sides, costs);
}

long long largest_trials(int sides, int classes, std::chrono::seconds time_limit,
                         const run_costs& costs) {
  const double budget = kTimeLimitShare * static_cast<double>(time_limit.count()) -
                        fixed_seconds(classes, 0, costs);
  const double trials = std::floor(budget / trial_seconds(sides, costs));
  return static_cast<long long>(std::clamp(trials, 0.0, kMaxTrials));
}

bool fits_time_limit(const run_request& request, std::chrono::seconds time_limit,
                     const run_costs& costs, field_error& error) {
  const long long largest = largest_trials(
      request.sides, static_cast<int>(counted_classes(request.classes, request.show)), time_limit,
      costs);
  if (request.trials <= static_cast<double>(largest)) return true;
  const std::string sides = std::to_string(request.sides);
  error = {std::string(kTrialsField),
           std::string(kTrialsField) + ": " + std::to_string(std::llround(request.trials)) +
               " trials of " + sides + " sides cannot finish within this server's time limit of " +
               std::to_string(time_limit.count()) + " s; at most " + std::to_string(largest) +
               " trials for " + sides + " sides"};
  return false;
}

std::string trials_limit_note(std::chrono::seconds time_limit, const run_costs& costs) {
  auto largest = [&](int sides) {
    return std::to_string(largest_trials(sides, 0, time_limit, costs));
  };
  return "Runs stop after " + std::to_string(time_limit.count()) + " s on this server: at most " +
         largest(3) + " trials for 3 sides, " + largest(100) + " for 100, " + largest(1000) +
         " for 1000 and " + largest(10000) + " for 10000 (runs estimated at up to a third of the " +
         "limit, by this server's measured costs: " + costs_text(costs) + ").";
}

namespace {

// The seconds of `shape` or of `error`'s run that did not finish.
std::optional<double> timed(const run_timer& time_run, const run_request& shape,
                            std::string& error) {
  std::optional<double> taken = time_run(shape);
  if (taken && std::isfinite(*taken) && *taken > 0) return taken;
  error = "a run of " + std::to_string(shape.sides) + " sides and " + real_text(shape.trials) +
          " trials did not finish";
  return std::nullopt;
}

// The seconds of one trial of `shape`: runs of four times as many trials
// each time, until they take kMeasuredSeconds more than `reference`, a run
// of `reference_trials` trials of the same cost each.
std::optional<double> trial_seconds_measured(const run_timer& time_run, run_request shape,
                                             double reference, double reference_trials,
                                             std::string& error) {
  while (true) {
    std::optional<double> taken = timed(time_run, shape, error);
    if (!taken) return std::nullopt;
    const double beyond = *taken - reference;
    if (beyond >= kMeasuredSeconds || shape.trials * 4 > kMaxTrials) {
      return std::max(0.0, beyond) / (shape.trials - reference_trials);
    }
    shape.trials *= 4;
  }
}

}  // namespace

std::optional<run_costs> calibrated_costs(const run_timer& time_run, std::string& error) {
  // The fixed run twice: the first may pay for loading the program.
  std::optional<double> fixed_runs[2] = {timed(time_run, kFixedRun, error), std::nullopt};
  if (fixed_runs[0]) fixed_runs[1] = timed(time_run, kFixedRun, error);
  std::optional<double> classes_run = fixed_runs[1] ? timed(time_run, kClassesRun, error)
                                                    : std::nullopt;
  if (!classes_run) return std::nullopt;
  // The fixed run and the classes run draw the same few trials, which the
  // runs of small polygons tell apart from the fixed part.
  const double fixed_run = std::min(*fixed_runs[0], *fixed_runs[1]);
  run_costs costs;
  costs.per_class = std::max(0.0, *classes_run - fixed_run) /
                    counted_classes(kClassesRun.classes, kClassesRun.show);
  std::optional<double> small =
      trial_seconds_measured(time_run, kSmallPolygonsRun, fixed_run, kFixedRun.trials, error);
  if (!small) return std::nullopt;
  costs.fixed = fixed_run - kFixedRun.trials * *small;
  std::optional<double> large =
      trial_seconds_measured(time_run, kLargePolygonsRun, costs.fixed, 0, error);
  if (!large) return std::nullopt;
  if (*large <= 0) {
    error = "the trials took no measurable time";
    return std::nullopt;
  }
  // A trial's time is about linear in its sides; small polygons cost a
  // little less a side than the line through both points says, so a
  // negative intercept is taken as none.
  const double sides_apart = kLargePolygonsRun.sides - kSmallPolygonsRun.sides;
  costs.per_side_trial = std::max(*large - *small, 0.0) / sides_apart;
  costs.per_trial = *small - kSmallPolygonsRun.sides * costs.per_side_trial;
  if (costs.per_trial < 0 || costs.per_side_trial <= 0) {
    costs.per_trial = 0;
    costs.per_side_trial = *large / kLargePolygonsRun.sides;
  }
  return costs;
}

std::string costs_text(const run_costs& costs) {
  return figure(costs.fixed, "s") + ", " + figure(costs.per_class * 1e6, "us a class") + ", " +
         figure(costs.per_trial * 1e9, "ns a trial") + ", " +
         figure(costs.per_side_trial * 1e9, "ns a side and trial");
}

}  // namespace polygons::web
