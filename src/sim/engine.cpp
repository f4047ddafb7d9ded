#include "sim/engine.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "sim/kernels.hpp"
#include "sim/memory.hpp"
#include "sim/progress.hpp"

namespace polygons::sim {

namespace {

constexpr std::int64_t kChunkDraws = std::int64_t{1} << 18;
constexpr std::int64_t kMaxChunks = std::int64_t{1} << 16;
// Draws generated, sorted and measured together, so that the sine loop runs
// over many values at once even for triangles.
constexpr std::size_t kBlockDraws = 2048;
// Each thread counts into an array of its own while all of them together
// stay below this many slots; beyond, the threads count into the one shared
// array, atomically.
constexpr std::int64_t kPrivateCountSlots = std::int64_t{1} << 24;
constexpr int kMaxThreads = 1024;

// Count, mean and sum of squared deviations of a stream of perimeters;
// two of them merge by the pairwise formula (Chan, Golub and LeVeque).
struct Moments {
  double count = 0.0;
  double mean = 0.0;
  double squares = 0.0;

  void merge(const Moments& b) {
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
};

struct ChunkStats {
  Moments moments;
  double variance = 0.0;  // of the running recurrence, when the run is one chunk
};

// What every chunk of a run shares.
struct RunSetup {
  std::size_t n = 0;
  double R = 0.0;
  double pi = 0.0;
  double perim_min = 0.0;
  double class_width = 0.0;
  std::int32_t k1st = 1;
  std::int64_t slots = 0;
  std::int64_t trials = 0;
  std::int64_t chunk = 0;
  std::int64_t chunks = 0;
  // A run of one chunk keeps the running recurrence of the straightforward
  // loop; longer runs take the moments of each block in two vectorised
  // passes and merge them.
  bool running_recurrence = true;
  SeedState start;
  const KernelSet* kernels = nullptr;
  std::int64_t* shared_counts = nullptr;  // set when the threads count into one array
};

// The work arrays of one thread, allocated before the threads start.
struct Workspace {
  Workspace(const RunSetup& run, bool private_counts)
      : block_trials(std::max<std::size_t>(1, kBlockDraws / run.n)),
        z(block_trials * run.n),
        sines(block_trials * run.n),
        perimeters(2 * block_trials),
        positions(2 * block_trials) {
    if (run.n > kSortFewMax) {
      // About two buckets per draw: fewer draws share a bucket, fewer out of order.
      int bits = 2;
      while ((std::size_t{1} << bits) < 2 * run.n && bits < 24) ++bits;
      bucket_shift = 31 - bits;
      sorted.resize(run.n);
      buckets.resize((std::size_t{1} << bits) + 1);
    }
    if (private_counts) counts.assign(static_cast<std::size_t>(run.slots), 0);
  }

  static double bytes(const RunSetup& run, bool private_counts) {
    const double block = static_cast<double>(std::max<std::size_t>(run.n, kBlockDraws));
    const double per_draw = sizeof(std::int32_t) + 5 * sizeof(double);
    const double sorting = static_cast<double>(run.n) * 5.0 * sizeof(std::int32_t);
    const double counts = private_counts ? static_cast<double>(run.slots) * 8.0 : 0.0;
    return block * per_draw + sorting + counts;
  }

  std::size_t block_trials;
  std::vector<std::int32_t> z;
  std::vector<double> sines;
  std::vector<double> perimeters;  // two blocks: the current and the previous one
  std::vector<double> positions;
  int bucket_shift = 0;
  std::vector<std::int32_t> sorted;
  std::vector<std::uint32_t> buckets;
  std::vector<std::int64_t> counts;
};

void insertion_sort(std::int32_t* z, std::size_t n) {
  for (std::size_t i = 1; i < n; ++i) {
    const std::int32_t value = z[i];
    std::size_t j = i;
    while (j > 0 && z[j - 1] > value) {
      z[j] = z[j - 1];
      --j;
    }
    z[j] = value;
  }
}

// The draws are uniform, so spreading them over about 2n buckets by their top
// bits leaves them nearly in order; an insertion pass finishes the job.
void bucket_sort(std::int32_t* z, std::size_t n, Workspace& w) {
  std::fill(w.buckets.begin(), w.buckets.end(), 0u);
  for (std::size_t i = 0; i < n; ++i)
    ++w.buckets[(static_cast<std::uint32_t>(z[i]) >> w.bucket_shift) + 1];
  for (std::size_t b = 1; b < w.buckets.size(); ++b) w.buckets[b] += w.buckets[b - 1];
  for (std::size_t i = 0; i < n; ++i) {
    w.sorted[w.buckets[static_cast<std::uint32_t>(z[i]) >> w.bucket_shift]++] = z[i];
  }
  insertion_sort(w.sorted.data(), n);
  std::memcpy(z, w.sorted.data(), n * sizeof(std::int32_t));
}

// Ascending order of the combined integers is ascending order of the draws,
// since a draw is an increasing function of its integer.
// Polygons of two to four vertices are sorted by KernelSet::gaps_of_small_polygons.
inline void sort_draws(std::int32_t* z, std::size_t n, const RunSetup& run, Workspace& w) {
  if (n < 2) return;
  if (n <= kSortFewMax) {
    run.kernels->sort_few(z, n);
  } else {
    bucket_sort(z, n, w);
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

// The trials of one block go through three stages: draws, sorted draws to
// perimeters, and the statistics. The running recurrence is one long chain of
// dependent divisions, so the statistics of the previous block are taken
// inside the sorting loop of the current one, where the processor overlaps
// the two.
struct BlockBuffers {
  double* perimeters;
  double* positions;
};

struct ChunkAccount {
  RunningStats running;
  Moments moments;
};

template <bool Running>
inline void account_trial(double perimeter, double position, const RunSetup& run, Workspace& w,
                          ChunkAccount& account) {
  count_trial(static_cast<std::int64_t>(position) - run.k1st, w, run);
  if constexpr (Running) account.running.add(perimeter);
}

// Sorted draws to perimeters for `block` trials of n vertices, accounting
// the `pending` trials of the previous block on the way; a fixed vertex count
// (Sides > 0) lets the compiler unroll the small polygons.
template <std::size_t Sides, bool Running>
void perimeters_of_block(std::size_t block, std::size_t n, const RunSetup& run, Workspace& w,
                         BlockBuffers current, std::size_t pending, BlockBuffers previous,
                         ChunkAccount& account) {
  if constexpr (Sides > 0) n = Sides;
  const double scale_factor = scale();
  std::size_t t = 0;
  if constexpr (Sides > 0) {
    run.kernels->gaps_of_small_polygons(w.z.data(), block, n, scale_factor, w.sines.data());
  } else {
    const std::size_t both = std::min(block, pending);
    for (; t < both; ++t) {
      std::int32_t* z = w.z.data() + t * n;
      sort_draws(z, n, run, w);
      gaps_of(z, n, scale_factor, w.sines.data() + t * n);
      account_trial<Running>(previous.perimeters[t], previous.positions[t], run, w, account);
    }
    for (std::size_t u = t; u < block; ++u) {
      std::int32_t* z = w.z.data() + u * n;
      sort_draws(z, n, run, w);
      gaps_of(z, n, scale_factor, w.sines.data() + u * n);
    }
  }
  for (; t < pending; ++t) {
    account_trial<Running>(previous.perimeters[t], previous.positions[t], run, w, account);
  }
  if (block == 0) return;

  run.kernels->sin_pi_turns(w.sines.data(), block * n, run.pi);
  for (t = 0; t < block; ++t) {
    current.perimeters[t] = (2.0 * sum_of_sides(w.sines.data() + t * n, n)) * run.R;
  }
  // The class positions k1st + (P - perim_min) / width, kept inside the
  // array as class_slot_of does; a loop of its own so that the divisions run
  // side by side.
  const double first = static_cast<double>(run.k1st);
  const double last = first + static_cast<double>(run.slots - 1);
  for (t = 0; t < block; ++t) {
    double position = first + (current.perimeters[t] - run.perim_min) / run.class_width;
    position = position >= first ? position : first;
    position = position < last ? position : last;
    current.positions[t] = position;
  }
  if constexpr (!Running) {
    Moments moments;
    moments.count = static_cast<double>(block);
    run.kernels->block_moments(current.perimeters, block, moments.mean, moments.squares);
    account.moments.merge(moments);
  }
}

template <bool Running>
void run_blocks(SeedState state, std::int64_t trials, const RunSetup& run, Workspace& w,
                ChunkAccount& account) {
  const std::size_t size = w.block_trials;
  BlockBuffers current{w.perimeters.data(), w.positions.data()};
  BlockBuffers previous{w.perimeters.data() + size, w.positions.data() + size};
  std::size_t pending = 0;
  while (trials > 0 || pending > 0) {
    const std::size_t block =
        static_cast<std::size_t>(std::min<std::int64_t>(trials, static_cast<std::int64_t>(size)));
    draw_integers(*run.kernels, state, w.z.data(), block * run.n);
    switch (run.n) {
      case 2:
        perimeters_of_block<2, Running>(block, run.n, run, w, current, pending, previous, account);
        break;
      case 3:
        perimeters_of_block<3, Running>(block, run.n, run, w, current, pending, previous, account);
        break;
      case 4:
        perimeters_of_block<4, Running>(block, run.n, run, w, current, pending, previous, account);
        break;
      default:
        perimeters_of_block<0, Running>(block, run.n, run, w, current, pending, previous, account);
        break;
    }
    std::swap(current, previous);
    pending = block;
    trials -= static_cast<std::int64_t>(block);
  }
}

ChunkStats run_chunk(std::int64_t c, const RunSetup& run, Workspace& w) {
  const std::int64_t first = c * run.chunk;
  const std::int64_t trials = std::min(run.chunk, run.trials - first);
  const SeedState state = jumped(run.start, static_cast<std::uint64_t>(first) * run.n);
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

// The names of the kernel sets, of all or only of those this processor can run.
std::string kernel_set_names(bool only_those_running_here) {
  std::string names;
  for (const KernelSet& set : kernel_sets()) {
    if (only_those_running_here && !runs_here(set)) continue;
    if (!names.empty()) names += ", ";
    names += set.name;
  }
  return names;
}

// The set POLYGONS_ISA names; unset or empty, the fastest this processor can
// run. A set that cannot be had is refused rather than replaced, so that a
// run asked to use one set never reports figures of another.
const KernelSet* kernels_for_run() {
  const char* env = std::getenv("POLYGONS_ISA");
  if (env == nullptr || *env == '\0') return &fastest_kernel_set();
  const KernelSet* set = kernel_set_named(env);
  if (set == nullptr) {
    throw std::invalid_argument("POLYGONS_ISA=\"" + std::string(env) +
                                "\" names no instruction set; the program has " +
                                kernel_set_names(false));
  }
  if (!runs_here(*set)) {
    throw std::invalid_argument("POLYGONS_ISA=\"" + std::string(env) +
                                "\" names an instruction set this processor lacks; it can run " +
                                kernel_set_names(true));
  }
  return set;
}

}  // namespace

int available_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  return static_cast<int>(std::min<unsigned>(std::thread::hardware_concurrency(), kMaxThreads));
}

std::int64_t chunk_trials_for(std::int32_t n, std::int64_t N) {
  const std::int64_t by_draws =
      std::max<std::int64_t>(1, kChunkDraws / std::max<std::int32_t>(n, 1));
  const std::int64_t by_count = (std::max<std::int64_t>(N, 1) + kMaxChunks - 1) / kMaxChunks;
  return std::max(by_draws, by_count);
}

std::optional<int> parse_thread_count(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma != std::string_view::npos) text = text.substr(0, comma);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1) return std::nullopt;
  return std::min(value, kMaxThreads);
}

EngineOptions engine_options_for_run() {
  EngineOptions options;
  options.threads = std::clamp(available_processors(), 1, kMaxThreads);
  if (const char* env = std::getenv("OMP_NUM_THREADS"); env != nullptr) {
    if (const std::optional<int> threads = parse_thread_count(env)) {
      options.threads = *threads;
    } else {
      std::fprintf(
          stderr,
          "polygons: OMP_NUM_THREADS=\"%s\" is not a positive number of threads; using %d\n", env,
          options.threads);
    }
  }
  options.kernels = kernels_for_run();
  options.show_progress = isatty(STDERR_FILENO) == 1;
  return options;
}

TrialResults run_trials(std::int32_t n, double R, std::int64_t N, std::int32_t k1st,
                        std::int32_t klass, double perim_min, double perim_max,
                        std::vector<std::int64_t>& class_count, SeedState& rng,
                        const EngineOptions& options) {
  RunSetup run;
  run.n = static_cast<std::size_t>(std::max<std::int32_t>(n, 1));
  run.R = R;
  run.pi = 4.0 * std::atan(1.0);
  run.perim_min = perim_min;
  run.class_width = class_width_of(k1st, klass, perim_min, perim_max);
  run.k1st = k1st;
  run.slots = class_slots(k1st, klass);
  run.trials = std::max<std::int64_t>(N, 1);
  run.chunk = options.chunk_trials > 0 ? options.chunk_trials : chunk_trials_for(n, run.trials);
  run.chunks = (run.trials + run.chunk - 1) / run.chunk;
  run.running_recurrence = run.chunks == 1;
  run.start = rng;
  run.kernels = options.kernels != nullptr ? options.kernels : &fastest_kernel_set();

  const int threads = static_cast<int>(std::clamp<std::int64_t>(
      options.threads, 1, std::min<std::int64_t>(run.chunks, kMaxThreads)));
  const bool private_counts = run.slots * threads <= kPrivateCountSlots;
  class_count.assign(static_cast<std::size_t>(run.slots), 0);
  if (!private_counts) run.shared_counts = class_count.data();

  require_memory(Workspace::bytes(run, private_counts) * threads);
  std::vector<Workspace> workspaces;
  workspaces.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) workspaces.emplace_back(run, private_counts);
  std::vector<ChunkStats> chunks(static_cast<std::size_t>(run.chunks));

  std::atomic<std::int64_t> next_chunk{0};
  std::atomic<std::int64_t> trials_done{0};
  ProgressLine progress(options.show_progress);
  auto work = [&](int t) {
    for (;;) {
      const std::int64_t c = next_chunk.fetch_add(1, std::memory_order_relaxed);
      if (c >= run.chunks) return;
      chunks[static_cast<std::size_t>(c)] =
          run_chunk(c, run, workspaces[static_cast<std::size_t>(t)]);
      const auto count =
          static_cast<std::int64_t>(chunks[static_cast<std::size_t>(c)].moments.count);
      const std::int64_t done = trials_done.fetch_add(count, std::memory_order_relaxed) + count;
      if (t == 0) progress.update(static_cast<double>(done) / static_cast<double>(run.trials));
    }
  };
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<std::size_t>(threads - 1));
    // Results do not depend on how many threads take part (engine.hpp), so a
    // thread that cannot be started leaves its share to the others.
    for (int t = 1; t < threads; ++t) {
      try {
        helpers.emplace_back(work, t);
      } catch (const std::system_error&) {
        break;
      }
    }
    work(0);
  }
  progress.clear();

  if (private_counts) {
    for (const Workspace& w : workspaces) {
      for (std::size_t k = 0; k < class_count.size(); ++k) class_count[k] += w.counts[k];
    }
  }
  fold_overflow(class_count);
  rng = jumped(run.start, static_cast<std::uint64_t>(run.trials) * run.n);
  return merged(chunks, run.class_width);
}

}  // namespace polygons::sim
