#include "web/run_executor.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "host/processors.hpp"
#include "web/exact_comparison.hpp"
#include "web/plot_template.hpp"
#include "web/run_dir.hpp"
#include "web/spawn.hpp"

namespace polygons::web {
namespace fs = std::filesystem;
namespace {

// Cores counted as the program counts them, so that the runs at once share
// exactly what the program would use alone.
std::size_t cores() { return static_cast<std::size_t>(std::max(1, host::available_processors())); }

std::size_t running_limit(const service_options& options) {
  return options.max_running ? options.max_running : cores();
}

// The environment of every child: no USER (the program's limits for runs
// without a login apply), the cores shared between the runs at once, and the
// results file asked for. An inherited value of a variable set here would
// come first, and be the one the program reads.
std::vector<std::string> child_environment(const service_options& options) {
  std::vector<std::string> environment =
      environment_without({"USER", "OMP_NUM_THREADS", results::kResultsVariable});
  const std::size_t threads = std::max<std::size_t>(1, cores() / running_limit(options));
  environment.push_back("OMP_NUM_THREADS=" + std::to_string(threads));
  environment.push_back(std::string(results::kResultsVariable) + "=1");
  return environment;
}

std::string busy_message() {
  return "The server is busy with other runs; try again in " + std::to_string(kRetryAfterSeconds) +
         " seconds.";
}

std::string client_busy_message() {
  return "Too many runs from your address are waiting already (at most " +
         std::to_string(kMaxWaitingPerClient) + "); try again when some have finished.";
}

run_outcome::state refusal_state(admission admitted) {
  switch (admitted) {
    case admission::client_full: return run_outcome::state::client_busy;
    case admission::abandoned: return run_outcome::state::abandoned;
    default: return run_outcome::state::busy;
  }
}

std::string time_limit_message(std::chrono::seconds limit) {
  return "The run was stopped after " + std::to_string(limit.count()) +
         " seconds, the time limit of this server; try fewer trials.";
}

void log_run(const run_request& request, const run_origin& origin, const run_outcome& outcome,
             double seconds) {
  std::fprintf(stderr,
               "polygons-web: run %s status %d in %.2f s for %s (sides %d, radius %s, trials %s, "
               "seed %d, classes %d, show %d)\n",
               outcome.id.empty() ? "-" : outcome.id.c_str(), http_status(outcome.result), seconds,
               origin.client.empty() ? "-" : origin.client.c_str(), request.sides,
               real_text(request.radius).c_str(), real_text(request.trials).c_str(), request.seed,
               request.classes, request.show);
}

// A failed run, with the program's messages: for the operator, not the visitor.
void log_failure(const run_outcome& outcome) {
  constexpr std::size_t kMaxLogged = 4096;
  std::string messages = outcome.diagnostics.substr(0, kMaxLogged);
  if (!messages.empty() && messages.back() != '\n') messages += '\n';
  std::fprintf(stderr, "polygons-web: run %s failed: %s\n%s",
               outcome.id.empty() ? "-" : outcome.id.c_str(), outcome.failure.c_str(),
               messages.c_str());
}

// Sets the outcome's state (and, for a failure, why) from how the child ended.
void classify_end(const spawn_result& ran, run_outcome& outcome) {
  if (ran.timed_out) {
    outcome.result = run_outcome::state::timed_out;
  } else if (ran.abandoned) {
    outcome.result = run_outcome::state::abandoned;
  } else if (ran.exited_ok()) {
    outcome.result = run_outcome::state::finished;
  } else if (!ran.started) {
    outcome.failure = "the program could not be started";
    outcome.diagnostics = ran.start_error;
  } else if (ran.output_cut) {
    outcome.failure = "the program wrote more output than this server accepts";
  } else if (ran.signal != 0) {
    outcome.failure = "the program ended by signal " + std::to_string(ran.signal);
  } else {
    outcome.failure = "the program ended with status " + std::to_string(ran.exit_status);
  }
}

// A finished run's results. Empty,
// with why in `fault`, when missing, malformed, or of other parameters than
// those asked for.
std::optional<run_results> take_results(const fs::path& workdir, std::string_view id,
                                        const run_request& request, std::string& fault) {
  std::string error;
  std::optional<std::string> text =
      read_run_file(workdir, id, results::kResultsName, kMaxResultsBytes, error);
  run_results results;
  if (text && results::parse_results(*text, {kMaxSides, kMaxClasses}, results, error)) {
    if (results.sides == request.sides &&
        std::fabs(results.radius - request.radius) <= 1e-12 * request.radius &&
        results.show == request.show &&
        (request.classes <= 0 || results.classes == request.classes)) {
      return results;
    }
    error = "the parameters are not those of the run";
  }
  fault = std::string(results::kResultsName) + ": " + error;
  return std::nullopt;
}

void log_results_fault(const run_outcome& outcome) {
  std::fprintf(stderr, "polygons-web: run %s has no results: %s\n", outcome.id.c_str(),
               outcome.results_fault.c_str());
}

}  // namespace

// The report beside the results for the run's data links; without it they
// answer as for an expired run.
void run_executor::keep_report(const run_outcome& outcome) const {
  std::string error;
  if (!write_run_file(options_.workdir, outcome.id, kReportName, outcome.report, error)) {
    std::fprintf(stderr, "polygons-web: run %s keeps no report: %s\n", outcome.id.c_str(),
                 error.c_str());
  }
}

int http_status(run_outcome::state state) {
  switch (state) {
    case run_outcome::state::finished: return 200;
    case run_outcome::state::busy: return 503;
    case run_outcome::state::client_busy: return 429;
    case run_outcome::state::timed_out: return 504;
    case run_outcome::state::abandoned: return 499;
    case run_outcome::state::failed: return 500;
  }
  return 500;
}

bool asks_to_wait(run_outcome::state state) {
  return state == run_outcome::state::busy || state == run_outcome::state::client_busy;
}

std::string outcome_message(const run_outcome& outcome, std::chrono::seconds limit) {
  switch (outcome.result) {
    case run_outcome::state::finished: return "";
    case run_outcome::state::busy: return busy_message();
    case run_outcome::state::client_busy: return client_busy_message();
    case run_outcome::state::timed_out: return time_limit_message(limit);
    case run_outcome::state::abandoned: return "The run was stopped: the client hung up.";
    case run_outcome::state::failed: return "The run failed: " + outcome.failure + ".";
  }
  return "";
}

std::string chart_url(std::string_view id) {
  return "/runs/" + std::string(id) + "/" + std::string(kChartName);
}

run_executor::run_executor(service_options options, std::string plot_template)
    : options_(std::move(options)),
      plot_template_(std::move(plot_template)),
      child_environment_(child_environment(options_)),
      costs_(options_.costs),
      slots_(running_limit(options_), options_.max_waiting, kMaxWaitingPerClient, kQuickLane),
      stop_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  std::error_code ignored;
  // Searchable by a front server that serves the charts as another user.
  if (fs::create_directories(runs_root(options_.workdir), ignored)) {
    fs::permissions(runs_root(options_.workdir), fs::perms(0755), ignored);
  }
}

run_executor::~run_executor() {
  if (stop_fd_ >= 0) ::close(stop_fd_);
}

void run_executor::stop() {
  slots_.close();
  const std::uint64_t one = 1;
  if (stop_fd_ >= 0 && ::write(stop_fd_, &one, sizeof one) < 0) {
    std::perror("polygons-web: stopping runs");
  }
}

bool run_executor::calibrate(std::string& error) {
  const run_origin calibration{"calibration", -1, ""};
  std::optional<run_costs> measured = calibrated_costs(
      [&](const run_request& request) -> std::optional<double> {
        run_outcome outcome = run(request, calibration, results_need::required);
        if (!outcome.id.empty()) remove_run_dir(options_.workdir, outcome.id);
        if (outcome.result != run_outcome::state::finished) return std::nullopt;
        return outcome.seconds;
      },
      error);
  if (measured) costs_ = *measured;
  return measured.has_value();
}

run_outcome run_executor::run(const run_request& request, const run_origin& origin,
                              results_need need, run_data data) {
  run_outcome outcome;
  outcome.exact = exact_answer_for(request.sides, request.radius);
  slot_request wanted{origin.client, estimated_seconds(request, costs_), options_.time_limit, {},
                      origin.network};
  if (const int socket = origin.client_socket; socket >= 0) {
    wanted.hung_up = [socket] { return peer_hung_up(socket); };
  }
  slot_hold slot(slots_, wanted);
  if (!slot.held()) {
    outcome.result = refusal_state(slot.admitted());
    if (options_.log_runs && outcome.result == run_outcome::state::abandoned) {
      log_run(request, origin, outcome, 0);
    }
    return outcome;
  }

  std::string error;
  for (int attempt = 0; attempt < 3 && outcome.id.empty(); ++attempt) {
    std::string id = new_run_id();
    if (create_run_dir(options_.workdir, id, error)) outcome.id = id;
  }
  if (outcome.id.empty()) {
    outcome.failure = "its directory could not be created";
    outcome.diagnostics = error;
    log_failure(outcome);
    return outcome;
  }
  // Released on every way out, so the directory is swept in time.
  claim_hold active(active_ids_, outcome.id);

  spawn_request child;
  child.program = options_.program;
  child.args = {outcome.id};
  child.cwd = options_.workdir;
  child.environment = child_environment_;
  child.input = parameter_lines(request) + run_template(plot_template_, request, outcome.exact.mean);
  child.time_limit = options_.time_limit;
  child.client_socket = origin.client_socket;
  child.stop_fd = stop_fd_;
  spawn_result ran = run_child(child);
  outcome.seconds = static_cast<double>(ran.elapsed.count()) / 1000.0;
  slot.set_used(outcome.seconds);

  outcome.report = std::move(ran.out);
  outcome.diagnostics = std::move(ran.err);
  classify_end(ran, outcome);

  if (outcome.result == run_outcome::state::finished) {
    outcome.results = take_results(options_.workdir, outcome.id, request, outcome.results_fault);
  }
  if (outcome.result == run_outcome::state::finished && !outcome.results) {
    if (need == results_need::required) {
      outcome.result = run_outcome::state::failed;
      outcome.failure = "its results could not be read";
      outcome.diagnostics = outcome.results_fault + "\n" + outcome.diagnostics;
    } else {
      log_results_fault(outcome);
    }
  }
  if (outcome.result == run_outcome::state::finished) {
    outcome.chart_fault = chart_fault(options_.workdir, outcome.id);
    outcome.has_chart = outcome.chart_fault.empty();
  }
  if (!outcome.has_chart) {
    remove_run_dir(options_.workdir, outcome.id);
  } else {
    // The cap holds however fast charts come: older charts go, no run is
    // refused. This run's chart counts as kept, the newest; of runs that end
    // at once, the last to trim counts all of theirs.
    if (data == run_data::kept) {
      keep_report(outcome);
    } else {
      remove_run_file(options_.workdir, outcome.id, results::kResultsName);
    }
    active.release();
    trim_run_dirs(options_.workdir, options_.max_disk_bytes,
                  [this](std::string_view id) { return in_progress(id); });
  }
  if (outcome.result == run_outcome::state::failed) log_failure(outcome);
  if (options_.log_runs) {
    log_run(request, origin, outcome, outcome.seconds);
  }
  return outcome;
}

}  // namespace polygons::web
