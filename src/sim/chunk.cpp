#include "sim/chunk.hpp"

#include <algorithm>
#include <atomic>

#include "sim/engine.hpp"
#include "sim/sine_and_moments.hpp"
#include "sim/trials.hpp"

namespace polygons::sim {

namespace {

// Draws generated, sorted and measured together, so that the loops run over
// many values at once even for triangles.
constexpr std::size_t kBlockDraws = 2048;

// About kBlockDraws draws of whole trials. The moments are taken block by
// block, so the figures depend on this size.
std::size_t block_trials_for(std::size_t n) { return std::max<std::size_t>(1, kBlockDraws / n); }

// Trials sorted side by side come in whole groups of kDrawLanes, which need
// not end with a block: a block's groups and those left over from the one
// before.
std::size_t groups_for(std::size_t trials) { return (trials + kDrawLanes - 1) / kDrawLanes; }

bool side_by_side(const RunSetup& run) { return run.n <= run.kernels->lanes_max; }

// The trials whose draws a block holds at once.
std::size_t drawn_trials_for(const RunSetup& run) {
  const std::size_t block = block_trials_for(run.n);
  return side_by_side(run) ? groups_for(block) * kDrawLanes : block;
}

}  // namespace

void Moments::merge(const Moments& b) {
  if (b.count == 0.0) return;
  if (count == 0.0) {
    *this = b;
    return;
  }
  const double total = count + b.count;
  const double delta = b.mean - mean;
  mean += delta * (b.count / total);
  squares += b.squares + delta * delta * (count * b.count / total);
  count = total;
}

Workspace::Workspace(const RunSetup& run, bool private_counts)
    : block_trials(block_trials_for(run.n)),
      trial_draws(run.n),
      z(drawn_trials_for(run) * run.n),
      sums(block_trials + kDrawLanes),
      perimeters(block_trials),
      positions(block_trials) {
  if (side_by_side(run)) {
    const std::vector<Comparator> steps = sorting_network(run.n, run.kernels->network_shape);
    network.assign(steps.begin(), steps.end());
  } else {
    bucket = bucket_sort_for(run.n);
  }
  if (private_counts) counts.assign(static_cast<std::size_t>(run.slots), 0);
}

double Workspace::bytes(const RunSetup& run, bool private_counts) {
  const double trials = static_cast<double>(block_trials_for(run.n) + kDrawLanes);
  const double draws = static_cast<double>(drawn_trials_for(run) * run.n) * sizeof(std::int32_t);
  const double per_trial = 3 * sizeof(double);
  const double sorting =
      side_by_side(run) ? sorting_network_bytes(run.n) : bucket_sort_bytes(run.n);
  const double counts = private_counts ? static_cast<double>(run.slots) * 8.0 : 0.0;
  return draws + trials * per_trial + sorting + counts;
}

namespace {

void count_trial(std::int64_t slot, Workspace& w, const RunSetup& run) {
  if (run.shared_counts != nullptr) {
    std::atomic_ref<std::int64_t>(run.shared_counts[slot]).fetch_add(1, std::memory_order_relaxed);
  } else {
    ++w.counts[static_cast<std::size_t>(slot)];
  }
}

struct ChunkAccount {
  RunningStats running;
  Moments moments;
};

// The sums of sides of `groups` groups of trials of up to lanes_max
// vertices, many trials side by side, into `sums`.
void sums_in_lanes(std::size_t groups, SeedState& state, const RunSetup& run, Workspace& w,
                   double* sums) {
  draw_trials(run.kernels->draw_lanes, w.trial_draws, state, w.z.data(), groups);
  run.kernels->sides_in_lanes(w.z.data(), run.n, groups, w.network, scale(), run.pi, sums);
}

// The sums of sides of `block` larger trials, one at a time.
void sums_one_by_one(std::size_t block, SeedState& state, const RunSetup& run, Workspace& w) {
  const std::size_t n = run.n;
  draw_integers(run.kernels->draw_lanes, state, w.z.data(), block * n);
  for (std::size_t t = 0; t < block; ++t) {
    const std::int32_t* sorted = run.kernels->bucket_sort(w.z.data() + t * n, n, w.bucket);
    w.sums[t] = run.kernels->sides_of_sorted(sorted, n, scale(), run.pi);
  }
}

// The perimeters of the block's trials and their class positions
// k1st + (P - perim_min) / width, kept inside the array as class_slot_of
// does; a loop of its own so that the divisions run side by side.
void perimeters_of_block(std::size_t block, const RunSetup& run, Workspace& w) {
  const double first = static_cast<double>(run.k1st);
  const double last = first + static_cast<double>(run.slots - 1);
  for (std::size_t t = 0; t < block; ++t) {
    const double perimeter = (2.0 * w.sums[t]) * run.R;
    double position = first + (perimeter - run.perim_min) / run.class_width;
    position = position >= first ? position : first;
    position = position < last ? position : last;
    w.perimeters[t] = perimeter;
    w.positions[t] = position;
  }
}

// The block's trials into the class counts, and its perimeters into the
// running recurrence or the chunk's moments.
template <bool Running>
void account_for_block(std::size_t block, const RunSetup& run, Workspace& w,
                       ChunkAccount& account) {
  for (std::size_t t = 0; t < block; ++t) {
    count_trial(static_cast<std::int64_t>(w.positions[t]) - run.k1st, w, run);
    if constexpr (Running) account.running.add(w.perimeters[t]);
  }
  if constexpr (!Running) {
    Moments moments;
    moments.count = static_cast<double>(block);
    run.kernels->block_moments(w.perimeters.data(), block, moments.mean, moments.squares);
    account.moments.merge(moments);
  }
}

// The trials of a chunk from trial `first` of the run on.
template <bool Running>
void run_blocks(SeedState state, std::int64_t first, std::int64_t trials, const RunSetup& run,
                Workspace& w, ChunkAccount& account) {
  std::size_t ready = 0;  // sums of trials not yet counted, at the front of w.sums
  while (trials > 0) {
    const std::size_t block = static_cast<std::size_t>(
        std::min<std::int64_t>(trials, static_cast<std::int64_t>(w.block_trials)));
    if (!side_by_side(run)) {
      sums_one_by_one(block, state, run, w);
      ready = block;
    } else if (ready < block) {
      const std::size_t groups = groups_for(block - ready);
      sums_in_lanes(groups, state, run, w, w.sums.data() + ready);
      ready += groups * kDrawLanes;
    }
    perimeters_of_block(block, run, w);
    if (run.perimeters != nullptr) {
      std::copy_n(w.perimeters.data(), block, run.perimeters + first);
    }
    account_for_block<Running>(block, run, w, account);
    std::copy(w.sums.begin() + static_cast<std::ptrdiff_t>(block),
              w.sums.begin() + static_cast<std::ptrdiff_t>(ready), w.sums.begin());
    ready -= block;
    trials -= static_cast<std::int64_t>(block);
    first += static_cast<std::int64_t>(block);
    if (w.ticks != nullptr) w.ticks->tick();
    if (run.abandoned != nullptr && run.abandoned->load(std::memory_order_relaxed)) return;
  }
}

}  // namespace

ChunkStats run_chunk(std::int64_t c, const RunSetup& run, Workspace& w) {
  const std::int64_t first = c * run.chunk;
  const std::int64_t trials = std::min(run.chunk, run.trials - first);
  // Each chunk starts where the one stream is after the draws of the chunks
  // before it, whichever thread takes it.
  const SeedState state = seed_ahead(run.start, static_cast<std::uint64_t>(first) * run.n);
  ChunkAccount account;
  ChunkStats stats;
  if (run.running_recurrence) {
    run_blocks<true>(state, first, trials, run, w, account);
    const RunningStats& r = account.running;
    stats.moments =
        Moments{static_cast<double>(r.count), r.avg, r.variance * static_cast<double>(r.count - 1)};
    stats.variance = r.variance;
  } else {
    run_blocks<false>(state, first, trials, run, w, account);
    stats.moments = account.moments;
  }
  return stats;
}

}  // namespace polygons::sim
