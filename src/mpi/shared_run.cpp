#include "mpi/shared_run.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "run/engine_policy.hpp"
#include "run/progress.hpp"
#include "text/io.hpp"

namespace polygons::mpi {

namespace {

// A rank failed before the trials; every rank knows it.
struct JobStopped {
  Failure failure;
};

std::int64_t chunks_of(const JobMessage& job) {
  sim::EngineOptions options;
  options.chunk_trials = job.chunk_trials;
  return sim::chunk_count(job.run, options);
}

// Whether the launcher, the parent of a rank on the machine it was started
// on, writes its standard error to a terminal. mpirun passes a rank's
// standard error on through a pipe, so the rank's own is never one.
bool launcher_writes_to_terminal() {
  const std::string its_stderr = "/proc/" + std::to_string(getppid()) + "/fd/2";
  const int fd = open(its_stderr.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool terminal = isatty(fd) == 1;
  close(fd);
  return terminal;
}

Failure memory_failure(const sim::TrialRun& run) {
  return {text::kExitIoFailure, "cannot allocate the work arrays of " + std::to_string(run.n) + " sides"};
}

// This rank's share of `job`: its chunk records, and its class counts in
// `counts`. Every rank reports, once its work arrays are allocated or have
// failed, whether it is ready; throws JobStopped when one is not. A failure
// known before (`early`) is reported at once.
std::vector<sim::ChunkStats> run_own_share(const JobMessage& job, const Session& session,
                                           sim::EngineOptions options,
                                           std::vector<std::int64_t>& counts,
                                           const std::optional<Failure>& early) {
  bool reported = false;
  auto report = [&](const std::optional<Failure>& own) {
    reported = true;
    if (std::optional<Failure> failure = agree(own)) throw JobStopped{*failure};
  };
  if (early) report(early);
  options.chunk_trials = job.chunk_trials;
  options.before_trials = [&] { report(std::nullopt); };
  try {
    return sim::run_share(job.run, options,
                          share_of(session.rank(), session.ranks(), chunks_of(job)), counts);
  } catch (const std::bad_alloc&) {
    if (reported) throw;
  } catch (const std::length_error&) {
    if (reported) throw;
  }
  report(memory_failure(job.run));
  return {};
}

}  // namespace

run::TrialRunner RankZero::runner() {
  return [this](const sim::TrialRun& run, const sim::EngineOptions& options,
                std::vector<std::int64_t>& class_count, sim::SeedState& rng) {
    return run_trials(run, options, class_count, rng);
  };
}

sim::TrialResults RankZero::run_trials(const sim::TrialRun& run, const sim::EngineOptions& options,
                                       std::vector<std::int64_t>& class_count,
                                       sim::SeedState& rng) {
  const JobMessage job{-1, run, options.chunk_trials};
  broadcast_job(job);
  run_sent_ = true;

  // Rank 0 sees only its own share go by.
  sim::EngineOptions own = options;
  run::ProgressLine share_line(session_.ranks() > 1 ? "rank 0's share of the trials" : "the trials");
  if (own.progress != nullptr || launcher_writes_to_terminal()) own.progress = &share_line;

  std::vector<sim::ChunkStats> records;
  try {
    records = run_own_share(job, session_, own, class_count, std::nullopt);
  } catch (const JobStopped& stopped) {
    others_done_ = true;
    throw text::FatalError(stopped.failure.message, stopped.failure.status);
  }
  const std::vector<sim::ChunkStats> all =
      gather_records(records, 0, session_.ranks(), chunks_of(job));
  sum_counts(class_count, 0);
  others_done_ = true;
  return sim::merge_shares(run, all, class_count, rng);
}

int RankZero::finish(int status) {
  if (!run_sent_) {
    JobMessage stop;
    stop.stop_status = status;
    broadcast_job(stop);
  } else if (!others_done_) {
    session_.abort_job(status);
  }
  return status;
}

int serve_share(Session& session) {
  run::set_floating_point_mode();
  const JobMessage job = broadcast_job({});
  if (job.stop_status >= 0) return job.stop_status;

  std::optional<Failure> early;
  sim::EngineOptions options;
  try {
    options = run::engine_settings_for_run().options;
    options.progress = nullptr;
  } catch (const std::invalid_argument& e) {
    early = Failure{text::kExitBadInput, e.what()};
  }
  std::vector<std::int64_t> counts;
  std::vector<sim::ChunkStats> records;
  try {
    records = run_own_share(job, session, options, counts, early);
  } catch (const JobStopped& stopped) {
    return stopped.failure.status;
  } catch (const std::exception& e) {
    // The others wait for this rank's records, which will not come.
    text::warn(e.what());
    session.abort_job(text::kExitIoFailure);
  }
  gather_records(records, session.rank(), session.ranks(), chunks_of(job));
  sum_counts(counts, session.rank());
  return text::kExitOk;
}

}  // namespace polygons::mpi
