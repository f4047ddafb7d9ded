// Times the trial engine. First, for each kernel set this processor can run
// (only the one POLYGONS_ISA names, when it is set): the cost of one draw
// (one vertex of one trial) in nanoseconds on one thread, its ratio to that
// of triangles, and the speed-up of two threads over one. Then, with the
// run's kernel set, the engine against the straightforward trial loop on one
// thread and on all threads, in trials per second, and short runs of one
// chunk each, which keep the running recurrence (sim/chunk.hpp) instead of
// the chunks' moments. The runs of a row are interleaved and each figure is
// the best of five of about the given length: other work on the machine only
// ever slows a run. Usage: polygons_bench [seconds per run, default 0.5]

#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "run/engine_policy.hpp"
#include "run/report.hpp"
#include "sim/engine.hpp"
#include "sim/random.hpp"
#include "sim/trials.hpp"

namespace {

using polygons::run::perimeter_max;
using polygons::sim::EngineOptions;
using polygons::sim::K1ST;
using polygons::sim::KernelSet;
using polygons::sim::SeedState;

constexpr std::int32_t kClasses = 50;
constexpr std::int32_t kSeed = 4711;
constexpr int kRepeats = 5;

// One run of N trials.
using Runner = std::function<void(std::int32_t sides, std::int64_t N)>;

struct Timing {
  double wall = 0.0;  // seconds
  double cpu = 0.0;   // processor seconds of all threads
};

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Timing time_of(const Runner& run, std::int32_t sides, std::int64_t N) {
  const double cpu_start = cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  run(sides, N);
  Timing t;
  t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.cpu = cpu_seconds() - cpu_start;
  return t;
}

struct Rate {
  double trials_per_second = 0.0;
  double cores = 0.0;  // processor time over wall time: the cores the run really had
};

// The trial count at which `run` lasts about `target` seconds.
std::int64_t trials_lasting(const Runner& run, std::int32_t sides, double target) {
  std::int64_t N = 16;
  double seconds = time_of(run, sides, N).wall;
  while (seconds < target / 8.0) {
    N *= 4;
    seconds = time_of(run, sides, N).wall;
  }
  return static_cast<std::int64_t>(static_cast<double>(N) * target / seconds) + 1;
}

// Each runner's best of kRepeats runs, the runners taking turns; every one
// runs about `target` seconds, or N trials when N > 0.
std::vector<Rate> rates_of(const std::vector<Runner>& runners, std::int32_t sides, double target,
                           std::int64_t N = 0) {
  std::vector<std::int64_t> trials;
  for (const Runner& run : runners) trials.push_back(N > 0 ? N : trials_lasting(run, sides, target));
  std::vector<Timing> best(runners.size());
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    for (std::size_t r = 0; r < runners.size(); ++r) {
      const Timing t = time_of(runners[r], sides, trials[r]);
      if (repeat == 0 || t.wall < best[r].wall) best[r] = t;
    }
  }
  std::vector<Rate> rates;
  for (std::size_t r = 0; r < runners.size(); ++r) {
    rates.push_back({static_cast<double>(trials[r]) / best[r].wall, best[r].cpu / best[r].wall});
  }
  return rates;
}

Runner reference_runner() {
  return [](std::int32_t sides, std::int64_t N) {
    SeedState rng;
    polygons::sim::random_init(rng, kSeed);
    std::vector<std::int64_t> counts;
    polygons::sim::simulate_class(sides, 1.0, N, K1ST, kClasses, 0.0, perimeter_max(sides, 1.0),
                                  counts, rng);
  };
}

Runner engine_runner(int threads, const KernelSet* kernels) {
  return [threads, kernels](std::int32_t sides, std::int64_t N) {
    SeedState rng;
    polygons::sim::random_init(rng, kSeed);
    std::vector<std::int64_t> counts;
    EngineOptions options;
    options.threads = threads;
    options.kernels = kernels;
    polygons::sim::run_trials(sides, 1.0, N, K1ST, kClasses, 0.0, perimeter_max(sides, 1.0), counts,
                              rng, options);
  };
}

// Runs of one chunk each on one thread, `N` trials in all.
Runner one_chunk_runner(const KernelSet* kernels) {
  return [one_run = engine_runner(1, kernels)](std::int32_t sides, std::int64_t N) {
    const std::int64_t chunk = polygons::sim::chunk_trials_for(sides, 1);
    for (std::int64_t done = 0; done < N; done += chunk) one_run(sides, std::min(chunk, N - done));
  };
}

// Nanoseconds per draw on one thread and on two, sizes 3 to 10000.
void cost_per_draw(const KernelSet& kernels, double target) {
  std::printf("\n%s kernels: nanoseconds per draw (one vertex of one trial)\n", kernels.name);
  std::printf("%6s %10s %10s %10s %8s %8s\n", "sides", "1 thread", "to 3 sides", "2 threads",
              "2/1", "cores");
  double triangle = 0.0;
  for (std::int32_t sides : {3, 5, 7, 10, 16, 30, 64, 100, 300, 1000, 10000}) {
    // Both take the trials that one thread runs in about `target` seconds.
    const Runner one = engine_runner(1, &kernels);
    const std::int64_t N = trials_lasting(one, sides, target);
    const std::vector<Rate> r = rates_of({one, engine_runner(2, &kernels)}, sides, target, N);
    const double ns_one = 1e9 / (r[0].trials_per_second * sides);
    const double ns_two = 1e9 / (r[1].trials_per_second * sides);
    if (sides == 3) triangle = ns_one;
    std::printf("%6d %10.3f %10.2f %10.3f %8.2f %8.2f\n", sides, ns_one, ns_one / triangle, ns_two,
                ns_one / ns_two, r[1].cores);
    std::fflush(stdout);
  }
}

void against_reference(const KernelSet& kernels, double target) {
  const int all = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::printf(
      "\ntrials per second; reference = straightforward loop on 1 thread; %d hardware threads; "
      "%s kernels\n",
      all, kernels.name);
  std::printf("%6s %12s %12s %12s %10s %10s %10s %8s %12s\n", "sides", "reference", "engine 1",
              "engine all", "1/ref", "all/ref", "all/1", "cores", "1 chunk");
  for (std::int32_t sides : {3, 10, 30, 100, 1000}) {
    const std::vector<Rate> r = rates_of({reference_runner(), engine_runner(1, &kernels),
                                          engine_runner(all, &kernels), one_chunk_runner(&kernels)},
                                         sides, target);
    const Rate &ref = r[0], &one = r[1], &many = r[2], &short_runs = r[3];
    std::printf("%6d %12.4g %12.4g %12.4g %10.1f %10.1f %10.2f %8.2f %12.4g\n", sides,
                ref.trials_per_second, one.trials_per_second, many.trials_per_second,
                one.trials_per_second / ref.trials_per_second,
                many.trials_per_second / ref.trials_per_second,
                many.trials_per_second / one.trials_per_second, many.cores,
                short_runs.trials_per_second);
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const double target = argc > 1 ? std::atof(argv[1]) : 0.5;
  if (!(target > 0.0)) {
    std::fprintf(stderr, "usage: polygons_bench [seconds per measurement]\n");
    return 2;
  }
  const KernelSet* kernels = nullptr;
  try {
    kernels = &polygons::run::kernels_for_run();
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "polygons_bench: %s\n", e.what());
    return 2;
  }
  const char* named = std::getenv("POLYGONS_ISA");
  for (const KernelSet& set : polygons::sim::kernel_sets()) {
    const bool chosen = named != nullptr && *named != '\0' ? &set == kernels : runs_here(set);
    if (chosen) cost_per_draw(set, target);
  }
  std::printf(
      "cores: processor time over wall time of the two-thread run; below 2, the machine\n"
      "was busy with other work and the two-thread figures are low.\n");
  against_reference(*kernels, target);
  std::printf(
      "cores: processor time over wall time of the all-threads run.\n"
      "1 chunk: engine on one thread, in runs of one chunk each.\n");
  return 0;
}
