#pragma once
// The messages between the ranks of a job that shares one run. Rank 0 sends
// the run (or the status to end with) to every rank before any trial; every
// rank says whether it is ready before its trials; after them, rank 0
// gathers the records of every chunk and the class counts summed.
//
// Every function here is collective: each rank calls it, in the same order.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/engine.hpp"

namespace polygons::mpi {

// The MPI library for the life of the process: started by the constructor,
// ended by end().
class Session {
 public:
  Session(int* argc, char*** argv);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int rank() const { return rank_; }
  int ranks() const { return ranks_; }

  // Ends the job in order and gives back `status`, the process's exit status.
  int end(int status);
  // Ends every rank of the job at once with `status`, for a rank that fails
  // while the others wait for it.
  [[noreturn]] void abort_job(int status);

 private:
  int rank_ = 0;
  int ranks_ = 1;
};

// What rank 0 tells every rank before any trial.
struct JobMessage {
  std::int32_t stop_status = -1;  // -1: run `run`; otherwise end with this status
  sim::TrialRun run;
  std::int64_t chunk_trials = 0;  // as sim::EngineOptions::chunk_trials
};

// Rank 0's `message`, on every rank.
JobMessage broadcast_job(const JobMessage& message);

// Why a rank cannot run its trials: the exit status and the message.
struct Failure {
  int status = 0;
  std::string message;
};

// Every rank gives its own failure, or none, once it is ready for its
// trials; all learn the failure of the lowest failing rank, if any.
std::optional<Failure> agree(const std::optional<Failure>& own);

// The chunks rank `rank` of `ranks` runs: a contiguous range, all ranges
// about equal, in rank order.
sim::ChunkRange share_of(int rank, int ranks, std::int64_t chunks);

// The records of all `chunks` chunks in chunk order, on rank 0 (empty on the
// others), from each rank's records of its share.
std::vector<sim::ChunkStats> gather_records(const std::vector<sim::ChunkStats>& own, int rank,
                                            int ranks, std::int64_t chunks);

// The class counts summed exactly over the ranks, into `counts` on rank 0.
// Every rank's `counts` has the same size.
void sum_counts(std::vector<std::int64_t>& counts, int rank);

}  // namespace polygons::mpi
