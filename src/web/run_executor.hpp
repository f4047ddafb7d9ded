#pragma once
// Runs of the program for the service, with no knowledge of HTTP. Admission
// (a slot by fair share between clients, web/run_slots.hpp), a fresh run id and
// directory, the program started there on the parameter lines and the
// plotting template (with the exact density and mean drawn), the way it ended told
// apart, its results file read, and the chart checked. A run with a chart
// keeps its directory; when asked, its results file and report stay beside
// the chart for a page's data links. A run without a chart leaves no
// directory behind. One log line per run, the
// program's messages of a failed run and why a finished run has no results
// go to standard error.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/exact_moments.hpp"
#include "web/fields.hpp"
#include "web/results_file.hpp"
#include "web/run_cost.hpp"
#include "web/run_slots.hpp"
#include "web/service_options.hpp"

namespace polygons::web {

// Where a run's request came from.
struct run_origin {
  std::string client;      // the address it counts for; empty: no per-client limit
  int client_socket = -1;  // its connection, watched for a hang-up; -1: none
  std::string network;     // the clients it shares with; empty: the client alone
};

// What one run gave.
struct run_outcome {
  enum class state { finished, busy, client_busy, timed_out, abandoned, failed };
  // client_busy: the client has as many runs waiting as one client may.
  state result = state::failed;
  std::string id;
  std::string report;       // standard output of the program
  std::string diagnostics;  // its standard error, or why it could not start
                            // (for the operator only when the run failed)
  std::string failure;      // why it failed, for the visitor: no paths, no messages
  bool has_chart = false;
  std::string chart_fault;  // why a finished run has no chart
  sim::PerimeterMoments exact;          // for the sides and radius asked for
  std::optional<run_results> results;  // the program's figures of a finished run
  std::string results_fault;           // why a finished run has none
  double seconds = 0;                  // from its start to its end, when it ran
};

// Whether a run is of use without the program's results file.
enum class results_need { optional, required };

// What a run with a chart keeps beside it: nothing more, or its results file
// and report for a page's data links. Scripts get the figures in the API's
// answer itself, so their runs keep the chart only, and a flood of them
// fills the disk cap with charts rather than data nobody links to.
enum class run_data { dropped, kept };

// The status of the answer to an outcome (499 for a client that hung up, as
// front servers log it).
int http_status(run_outcome::state state);

// True for the outcomes a client should try again later (busy, client busy).
bool asks_to_wait(run_outcome::state state);

// What to tell the visitor instead of the report (or after it); empty for a
// finished run. `limit` is the time limit of a run.
std::string outcome_message(const run_outcome& outcome, std::chrono::seconds limit);

// "/runs/<id>/gnu.png"
std::string chart_url(std::string_view id);

// Runs waiting for a slot, at most, for one client.
inline constexpr std::size_t kMaxWaitingPerClient = 32;

// One slot beyond the regular ones for runs estimated at up to 2 s (a million
// triangles is a tenth of that), so that a cheap run never waits for a
// flood of expensive ones to end.
inline constexpr quick_lane kQuickLane{1, 2.0};

class run_executor {
 public:
  // Takes `options.program` and `options.workdir` as absolute paths. Creates
  // <workdir>/tmp when it is missing. `plot_template` follows the parameter
  // lines on every run's standard input.
  run_executor(service_options options, std::string plot_template);
  ~run_executor();
  run_executor(const run_executor&) = delete;
  run_executor& operator=(const run_executor&) = delete;

  // One run, waiting for a slot when needed (at most one time limit, and no
  // longer than its client stays connected). When the results are required,
  // a finished run without them (missing, malformed, or not of this request)
  // is a failed run.
  run_outcome run(const run_request& request, const run_origin& origin,
                  results_need need = results_need::optional,
                  run_data data = run_data::dropped);

  // Measures this server's run costs by timing a few runs (web/run_cost.hpp)
  // and uses them from then on; before any request is served, as the runs
  // would otherwise compete with them. False, with why in `error`, when that
  // failed: the costs stay as they were.
  bool calibrate(std::string& error);
  // What a run is estimated to cost: what its client is charged in the queue
  // until it has ended, and what bounds the trials a request may ask for.
  const run_costs& costs() const { return costs_; }

  // Runs waiting for a slot.
  std::size_t queued() const { return slots_.queued(); }

  // True while the run with this id is in progress: its directory stays.
  bool in_progress(std::string_view id) const { return active_ids_.claimed(id); }

  // Turns away waiting and later runs and stops those in progress.
  void stop();

 private:
  void keep_report(const run_outcome& outcome) const;

  service_options options_;
  std::string plot_template_;
  std::vector<std::string> child_environment_;
  run_costs costs_;
  run_slots slots_;
  claims active_ids_;  // runs in progress
  int stop_fd_ = -1;   // readable once stopped
};

}  // namespace polygons::web
