#pragma once
// What a run costs this server: the estimate of its seconds in a run slot,
// which orders the queue (web/run_slots.hpp), picks the runs the quick lane
// takes, and bounds the trials a request may ask for. The estimate counts a
// run's whole cost: a fixed part (the process, its start, the chart), a term
// per class of the histogram, and its trials at the rate this server draws
// them. The figures are measured when the service starts, by timing a few
// runs of the program (calibrated_costs); until then, or when that fails,
// the defaults below apply.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "web/fields.hpp"

namespace polygons::web {

// Seconds of one run slot. The defaults are a little above what the program
// takes with the widest kernel set on the machine they were measured on
// (0.1 to 0.16 s for the process and its chart, 7 us a class, 1.2 to 2.3 ns
// a side and trial), so that a machine with narrower kernels is not
// underestimated by much before its own figures are known.
struct run_costs {
  double fixed = 0.2;            // the process, its start and its chart
  double per_class = 1e-5;       // a class drawn (and listed, when shown)
  double per_trial = 1e-9;       // a trial, whatever its sides
  double per_side_trial = 4e-9;  // a side of a trial
};

// The estimated seconds of `request` in one run slot.
double estimated_seconds(const run_request& request, const run_costs& costs);

// A run may be estimated at up to this share of the time limit; the rest is
// room for a busier server than the one measured (two runs of the other
// developers' builds beside each run doubled its time here).
inline constexpr double kTimeLimitShare = 1.0 / 3;

// The most trials of polygons with `sides` sides (and `classes` classes) that
// fit kTimeLimitShare of `time_limit`, at most kMaxTrials; 0 when none do.
long long largest_trials(int sides, int classes, std::chrono::seconds time_limit,
                         const run_costs& costs);

// False, with an error for the trials field naming the number of trials and
// the largest allowed, when `request` could not finish within `time_limit`.
bool fits_time_limit(const run_request& request, std::chrono::seconds time_limit,
                     const run_costs& costs, field_error& error);

// A sentence for the form: the largest number of trials for a few numbers of
// sides, and the rule behind it.
std::string trials_limit_note(std::chrono::seconds time_limit, const run_costs& costs);

// Times one run of the program as the service runs it: its seconds, or empty
// when it did not finish with its results.
using run_timer = std::function<std::optional<double>(const run_request&)>;

// This server's costs from the times of a few runs: of few trials (twice),
// of many classes, and of small and of large polygons, with four times as
// many trials each time until their trials take a measurable time (so that
// a slower machine runs fewer). Empty, with why in `error`, when a run
// failed or the times make no sense.
std::optional<run_costs> calibrated_costs(const run_timer& time_run, std::string& error);

// "fixed 0.15 s, 7 us a class, 0 ns a trial, 2.2 ns a side and trial"
std::string costs_text(const run_costs& costs);

}  // namespace polygons::web
