#include "sim/engine.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <system_error>
#include <thread>

#include "sim/chunk.hpp"
#include "sim/memory.hpp"

namespace polygons::sim {

namespace {

constexpr std::int64_t kChunkDraws = std::int64_t{1} << 18;
constexpr std::int64_t kMaxChunks = std::int64_t{1} << 16;
// Each thread counts into an array of its own while all of them together
// stay below this many slots; beyond, the threads count into the one shared
// array, atomically.
constexpr std::int64_t kPrivateCountSlots = std::int64_t{1} << 24;

RunSetup run_setup(const TrialRun& trial_run, const EngineOptions& options) {
  RunSetup run;
  run.n = static_cast<std::size_t>(std::max<std::int32_t>(trial_run.n, 1));
  run.R = trial_run.R;
  run.pi = 4.0 * std::atan(1.0);
  run.perim_min = trial_run.perim_min;
  run.class_width = class_width_of(trial_run.k1st, trial_run.klass, trial_run.perim_min,
                                   trial_run.perim_max);
  run.k1st = trial_run.k1st;
  run.slots = class_slots(trial_run.k1st, trial_run.klass);
  run.trials = std::max<std::int64_t>(trial_run.N, 1);
  run.chunk = options.chunk_trials > 0 ? options.chunk_trials
                                       : chunk_trials_for(trial_run.n, run.trials);
  run.chunks = (run.trials + run.chunk - 1) / run.chunk;
  run.running_recurrence = run.chunks == 1;
  run.start = trial_run.start;
  run.kernels = options.kernels != nullptr ? options.kernels : &fastest_kernel_set();
  run.perimeters = options.perimeters;
  return run;
}

// The chunks of `range`, taken by `threads` threads in turn (fewer when the
// system will not start them all: results do not depend on how many threads
// take part).
std::vector<ChunkStats> run_chunks(RunSetup run, ChunkRange range,
                                   std::vector<Workspace>& workspaces, ProgressSink* progress) {
  std::vector<ChunkStats> chunks(static_cast<std::size_t>(range.last - range.first));
  std::atomic<bool> abandoned{false};
  run.abandoned = &abandoned;
  workspaces[0].ticks = progress;
  const std::int64_t share_trials =
      std::min(range.last * run.chunk, run.trials) - range.first * run.chunk;
  std::atomic<std::int64_t> next_chunk{range.first};
  std::atomic<std::int64_t> trials_done{0};
  if (progress != nullptr) progress->start();
  auto work = [&](std::size_t t) {
    for (;;) {
      const std::int64_t c = next_chunk.fetch_add(1, std::memory_order_relaxed);
      if (c >= range.last) return;
      ChunkStats& stats = chunks[static_cast<std::size_t>(c - range.first)];
      stats = run_chunk(c, run, workspaces[t]);
      const auto count = static_cast<std::int64_t>(stats.moments.count);
      const std::int64_t done = trials_done.fetch_add(count, std::memory_order_relaxed) + count;
      if (t == 0 && progress != nullptr) {
        progress->update(static_cast<double>(done) / static_cast<double>(share_trials));
      }
    }
  };
  std::vector<std::jthread> helpers;
  helpers.reserve(workspaces.size() - 1);
  for (std::size_t t = 1; t < workspaces.size(); ++t) {
    try {
      helpers.emplace_back(work, t);
    } catch (const std::system_error&) {
      break;
    }
  }
  try {
    work(0);
  } catch (...) {
    abandoned.store(true, std::memory_order_relaxed);  // the others stop too
    next_chunk.store(range.last, std::memory_order_relaxed);
    throw;  // once `helpers` has joined them
  }
  helpers.clear();  // joins
  if (progress != nullptr) progress->finish();
  return chunks;
}

// Chunks in chunk order, by the pairwise formula.
TrialResults merged(const std::vector<ChunkStats>& chunks, double class_width) {
  TrialResults result;
  result.class_width = class_width;
  if (chunks.size() == 1) {
    result.perim_avg = chunks[0].moments.mean;
    result.perim_stdev = std::sqrt(chunks[0].variance);
    return result;
  }
  Moments all;
  for (const ChunkStats& chunk : chunks) all.merge(chunk.moments);
  result.perim_avg = all.mean;
  result.perim_stdev = all.count > 1.0 ? std::sqrt(all.squares / (all.count - 1.0)) : 0.0;
  return result;
}

}  // namespace

std::int64_t chunk_trials_for(std::int32_t n, std::int64_t N) {
  const std::int64_t by_draws =
      std::max<std::int64_t>(1, kChunkDraws / std::max<std::int32_t>(n, 1));
  const std::int64_t by_count = (std::max<std::int64_t>(N, 1) + kMaxChunks - 1) / kMaxChunks;
  return std::max(by_draws, by_count);
}

std::int64_t chunk_count(const TrialRun& run, const EngineOptions& options) {
  return run_setup(run, options).chunks;
}

std::vector<ChunkStats> run_share(const TrialRun& trial_run, const EngineOptions& options,
                                  ChunkRange range, std::vector<std::int64_t>& class_count) {
  RunSetup run = run_setup(trial_run, options);
  range.last = std::clamp<std::int64_t>(range.last, 0, run.chunks);
  range.first = std::clamp<std::int64_t>(range.first, 0, range.last);
  class_count.assign(static_cast<std::size_t>(run.slots), 0);
  const int threads = static_cast<int>(
      std::min<std::int64_t>({std::max(options.threads, 1), range.last - range.first, kMaxThreads}));
  const bool private_counts = run.slots * threads <= kPrivateCountSlots;
  if (!private_counts) run.shared_counts = class_count.data();

  require_memory(Workspace::bytes(run, private_counts) * threads);
  std::vector<Workspace> workspaces;
  workspaces.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) workspaces.emplace_back(run, private_counts);
  if (options.before_trials) options.before_trials();
  if (threads == 0) return {};

  std::vector<ChunkStats> chunks = run_chunks(run, range, workspaces, options.progress);
  if (private_counts) {
    for (const Workspace& w : workspaces) {
      for (std::size_t k = 0; k < class_count.size(); ++k) class_count[k] += w.counts[k];
    }
  }
  return chunks;
}

TrialResults merge_shares(const TrialRun& run, const std::vector<ChunkStats>& chunks,
                          std::vector<std::int64_t>& class_count, SeedState& rng) {
  const RunSetup setup = run_setup(run, EngineOptions{});
  fold_overflow(class_count);
  advance(rng, static_cast<std::uint64_t>(setup.trials) * setup.n);
  return merged(chunks, setup.class_width);
}

TrialResults run_trials(const TrialRun& run, const EngineOptions& options,
                        std::vector<std::int64_t>& class_count, SeedState& rng) {
  const std::vector<ChunkStats> chunks =
      run_share(run, options, {0, chunk_count(run, options)}, class_count);
  return merge_shares(run, chunks, class_count, rng);
}

TrialResults run_trials(std::int32_t n, double R, std::int64_t N, std::int32_t k1st,
                        std::int32_t klass, double perim_min, double perim_max,
                        std::vector<std::int64_t>& class_count, SeedState& rng,
                        const EngineOptions& options) {
  return run_trials({n, R, N, k1st, klass, perim_min, perim_max, rng}, options, class_count, rng);
}

}  // namespace polygons::sim
