#include "mpi/job.hpp"

#include <mpi.h>

#include <algorithm>
#include <cstdlib>
#include <type_traits>

namespace polygons::mpi {

namespace {

static_assert(std::is_trivially_copyable_v<JobMessage>);

// One chunk record as it travels: count, mean, squares, variance.
constexpr int kRecordDoubles = 4;
// A field added to a chunk's record must travel too.
static_assert(sizeof(sim::ChunkStats) == kRecordDoubles * sizeof(double) &&
              sizeof(sim::Moments) == 3 * sizeof(double));
// Class counts travel in pieces of this many, within MPI's int counts.
constexpr std::size_t kCountPiece = std::size_t{1} << 24;

}  // namespace

Session::Session(int* argc, char*** argv) {
  // Only the main thread of each rank talks to the others.
  int provided = 0;
  MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided);
  MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks_);
}

int Session::end(int status) {
  MPI_Finalize();
  return status;
}

void Session::abort_job(int status) {
  MPI_Abort(MPI_COMM_WORLD, status);
  std::_Exit(status);
}

JobMessage broadcast_job(const JobMessage& message) {
  JobMessage job = message;
  MPI_Bcast(&job, sizeof job, MPI_BYTE, 0, MPI_COMM_WORLD);
  return job;
}

std::optional<Failure> agree(const std::optional<Failure>& own) {
  int rank = 0;
  int ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  const int own_mark = own ? rank : ranks;
  int first_failing = ranks;
  MPI_Allreduce(&own_mark, &first_failing, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  if (first_failing == ranks) return std::nullopt;

  Failure failure = rank == first_failing ? *own : Failure{};
  int length = static_cast<int>(failure.message.size());
  MPI_Bcast(&failure.status, 1, MPI_INT, first_failing, MPI_COMM_WORLD);
  MPI_Bcast(&length, 1, MPI_INT, first_failing, MPI_COMM_WORLD);
  failure.message.resize(static_cast<std::size_t>(length));
  MPI_Bcast(failure.message.data(), length, MPI_CHAR, first_failing, MPI_COMM_WORLD);
  return failure;
}

sim::ChunkRange share_of(int rank, int ranks, std::int64_t chunks) {
  return {chunks * rank / ranks, chunks * (rank + 1) / ranks};
}

std::vector<sim::ChunkStats> gather_records(const std::vector<sim::ChunkStats>& own, int rank,
                                            int ranks, std::int64_t chunks) {
  std::vector<double> sent;
  sent.reserve(own.size() * kRecordDoubles);
  for (const sim::ChunkStats& c : own) {
    sent.insert(sent.end(), {c.moments.count, c.moments.mean, c.moments.squares, c.variance});
  }
  std::vector<int> counts;
  std::vector<int> offsets;
  std::vector<double> received;
  if (rank == 0) {
    for (int r = 0; r < ranks; ++r) {
      const sim::ChunkRange share = share_of(r, ranks, chunks);
      counts.push_back(static_cast<int>((share.last - share.first) * kRecordDoubles));
      offsets.push_back(static_cast<int>(share.first * kRecordDoubles));
    }
    received.resize(static_cast<std::size_t>(chunks * kRecordDoubles));
  }
  MPI_Gatherv(sent.data(), static_cast<int>(sent.size()), MPI_DOUBLE, received.data(),
              counts.data(), offsets.data(), MPI_DOUBLE, 0, MPI_COMM_WORLD);

  std::vector<sim::ChunkStats> records(received.size() / kRecordDoubles);
  for (std::size_t c = 0; c < records.size(); ++c) {
    const double* r = &received[c * kRecordDoubles];
    records[c].moments = {r[0], r[1], r[2]};
    records[c].variance = r[3];
  }
  return records;
}

void sum_counts(std::vector<std::int64_t>& counts, int rank) {
  for (std::size_t at = 0; at < counts.size(); at += kCountPiece) {
    const int piece = static_cast<int>(std::min(kCountPiece, counts.size() - at));
    std::int64_t* data = counts.data() + at;
    MPI_Reduce(rank == 0 ? MPI_IN_PLACE : data, data, piece, MPI_INT64_T, MPI_SUM, 0,
               MPI_COMM_WORLD);
  }
}

}  // namespace polygons::mpi
