#pragma once
// One run shared out among the ranks of an MPI job. Rank 0 is the program:
// it reads the input, checks it, writes the report and the files, and its
// trial runner sends the run to the other ranks and runs one share of the
// chunks itself. Every other rank waits for the run, runs its share and
// sends back its chunk records and class counts. The figures are those of
// the one-process program: the engine merges the records in chunk order.

#include <cstdint>
#include <vector>

#include "mpi/job.hpp"
#include "run/program.hpp"

namespace polygons::mpi {

class RankZero {
 public:
  explicit RankZero(Session& session) : session_(session) {}

  // The trial runner for run::run_program.
  run::TrialRunner runner();

  // After run_program ended with `status`: ranks still waiting for a run are
  // told to end with it, and a job whose ranks are still busy with a run is
  // ended at once. Returns `status`.
  int finish(int status);

 private:
  sim::TrialResults run_trials(const sim::TrialRun& run, const sim::EngineOptions& options,
                               std::vector<std::int64_t>& class_count, sim::SeedState& rng);

  Session& session_;
  bool run_sent_ = false;
  bool others_done_ = false;
};

// The part of every rank but 0, from the run to its share's records sent;
// returns the rank's exit status.
int serve_share(Session& session);

}  // namespace polygons::mpi
