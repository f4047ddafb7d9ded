#include "sim/chunk.hpp"

#include <algorithm>
#include <atomic>

#include "sim/sine_and_moments.hpp"
#include "sim/trials.hpp"

namespace polygons::sim {

namespace {

// Draws generated, sorted and measured together, so that the sine loop runs
// over many values at once even for triangles.
constexpr std::size_t kBlockDraws = 2048;

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
    : block_trials(std::max<std::size_t>(1, kBlockDraws / run.n)),
      z(block_trials * run.n),
      sines(block_trials * run.n),
      perimeters(block_trials),
      positions(block_trials) {
  if (run.n > kSortFewMax) bucket = bucket_sort_for(run.n);
  if (private_counts) counts.assign(static_cast<std::size_t>(run.slots), 0);
}

double Workspace::bytes(const RunSetup& run, bool private_counts) {
  const double block = static_cast<double>(std::max<std::size_t>(run.n, kBlockDraws));
  const double per_draw = sizeof(std::int32_t) + 5 * sizeof(double);
  const double sorting = bucket_sort_bytes(run.n);
  const double counts = private_counts ? static_cast<double>(run.slots) * 8.0 : 0.0;
  return block * per_draw + sorting + counts;
}

namespace {

// Polygons of two to four vertices are sorted by KernelSet::gaps_of_small_polygons.
inline void sort_draws(std::int32_t* z, std::size_t n, const RunSetup& run, Workspace& w) {
  if (n < 2) return;
  if (n <= kSortFewMax) {
    run.kernels->sort_few(z, n);
  } else {
    bucket_sort(z, n, w.bucket);
  }
}

// The gaps between neighbouring vertices in full turns; the closing side's
// arc is one turn minus the span of the draws, and sin(pi (1 - s)) = sin(pi s),
// so the span itself stands in for it.
inline void gaps_of(const std::int32_t* z, std::size_t n, double scale, double* gaps) {
  for (std::size_t i = 0; i + 1 < n; ++i) gaps[i] = static_cast<double>(z[i + 1] - z[i]) * scale;
  gaps[n - 1] = static_cast<double>(z[n - 1] - z[0]) * scale;
}

// The sum of n side lengths. Many sides are added in eight running sums,
// which do not wait on each other, joined in a fixed order.
inline double sum_of_sides(const double* s, std::size_t n) {
  if (n < 32) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += s[i];
    return sum;
  }
  return sum_in_eight_partials(s, n);
}

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

// Sorted draws to perimeters and class positions for `block` trials of n
// vertices; a fixed vertex count (Sides > 0) lets the compiler unroll the
// small polygons.
template <std::size_t Sides>
void perimeters_of_block(std::size_t block, const RunSetup& run, Workspace& w) {
  const std::size_t n = Sides > 0 ? Sides : run.n;
  const double scale_factor = scale();
  if constexpr (Sides > 0) {
    run.kernels->gaps_of_small_polygons(w.z.data(), block, n, scale_factor, w.sines.data());
  } else {
    for (std::size_t t = 0; t < block; ++t) {
      std::int32_t* z = w.z.data() + t * n;
      sort_draws(z, n, run, w);
      gaps_of(z, n, scale_factor, w.sines.data() + t * n);
    }
  }
  run.kernels->sin_pi_turns(w.sines.data(), block * n, run.pi);
  for (std::size_t t = 0; t < block; ++t) {
    w.perimeters[t] = (2.0 * sum_of_sides(w.sines.data() + t * n, n)) * run.R;
  }
  // The class positions k1st + (P - perim_min) / width, kept inside the
  // array as class_slot_of does; a loop of its own so that the divisions run
  // side by side.
  const double first = static_cast<double>(run.k1st);
  const double last = first + static_cast<double>(run.slots - 1);
  for (std::size_t t = 0; t < block; ++t) {
    double position = first + (w.perimeters[t] - run.perim_min) / run.class_width;
    position = position >= first ? position : first;
    position = position < last ? position : last;
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

template <bool Running>
void run_blocks(SeedState state, std::int64_t trials, const RunSetup& run, Workspace& w,
                ChunkAccount& account) {
  while (trials > 0) {
    const std::size_t block = static_cast<std::size_t>(
        std::min<std::int64_t>(trials, static_cast<std::int64_t>(w.block_trials)));
    draw_integers(*run.kernels, state, w.z.data(), block * run.n);
    switch (run.n) {
      case 2:
        perimeters_of_block<2>(block, run, w);
        break;
      case 3:
        perimeters_of_block<3>(block, run, w);
        break;
      case 4:
        perimeters_of_block<4>(block, run, w);
        break;
      default:
        perimeters_of_block<0>(block, run, w);
        break;
    }
    account_for_block<Running>(block, run, w, account);
    trials -= static_cast<std::int64_t>(block);
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
    run_blocks<true>(state, trials, run, w, account);
    const RunningStats& r = account.running;
    stats.moments =
        Moments{static_cast<double>(r.count), r.avg, r.variance * static_cast<double>(r.count - 1)};
    stats.variance = r.variance;
  } else {
    run_blocks<false>(state, trials, run, w, account);
    stats.moments = account.moments;
  }
  return stats;
}

}  // namespace polygons::sim
