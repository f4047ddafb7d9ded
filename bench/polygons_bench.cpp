// Times the straightforward trial loop and the trial engine on the same
// inputs, on one thread and on all threads, and prints trials per second and
// the ratios; and, on one thread, short runs of one chunk each, which keep
// the running recurrence (sim/chunk.hpp) instead of the chunks' moments.
// Each figure is the best of three runs of about the given length. The
// engine uses the kernel set POLYGONS_ISA names, as the program does, or the
// fastest. Usage: polygons_bench [seconds per run, default 1]

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
using polygons::sim::SeedState;

constexpr std::int32_t kClasses = 50;
constexpr std::int32_t kSeed = 4711;

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

// From a run grown until it lasts about `target` seconds, the best of three:
// other work on the machine only ever slows a run.
Rate rate_of(const Runner& run, std::int32_t sides, double target) {
  std::int64_t N = 16;
  double seconds = time_of(run, sides, N).wall;
  while (seconds < target / 8.0) {
    N *= 4;
    seconds = time_of(run, sides, N).wall;
  }
  N = static_cast<std::int64_t>(static_cast<double>(N) * target / seconds) + 1;
  Timing best = time_of(run, sides, N);
  for (int repeat = 1; repeat < 3; ++repeat) {
    const Timing t = time_of(run, sides, N);
    if (t.wall < best.wall) best = t;
  }
  return Rate{static_cast<double>(N) / best.wall, best.cpu / best.wall};
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

Runner engine_runner(int threads, const polygons::sim::KernelSet* kernels) {
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
Runner one_chunk_runner(const polygons::sim::KernelSet* kernels) {
  return [one_run = engine_runner(1, kernels)](std::int32_t sides, std::int64_t N) {
    const std::int64_t chunk = polygons::sim::chunk_trials_for(sides, 1);
    for (std::int64_t done = 0; done < N; done += chunk) one_run(sides, std::min(chunk, N - done));
  };
}

}  // namespace

int main(int argc, char** argv) {
  const double target = argc > 1 ? std::atof(argv[1]) : 1.0;
  if (!(target > 0.0)) {
    std::fprintf(stderr, "usage: polygons_bench [seconds per measurement]\n");
    return 2;
  }
  const polygons::sim::KernelSet* kernels = nullptr;
  try {
    kernels = &polygons::run::kernels_for_run();
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "polygons_bench: %s\n", e.what());
    return 2;
  }
  const int all = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::printf(
      "trials per second; reference = straightforward loop on 1 thread; %d hardware threads; "
      "%s kernels\n",
      all, kernels->name);
  std::printf("%6s %12s %12s %12s %10s %10s %10s %8s %12s\n", "sides", "reference", "engine 1",
              "engine all", "1/ref", "all/ref", "all/1", "cores", "1 chunk");
  for (std::int32_t sides : {3, 10, 30, 100, 1000}) {
    const Rate ref = rate_of(reference_runner(), sides, target);
    const Rate one = rate_of(engine_runner(1, kernels), sides, target);
    const Rate many = rate_of(engine_runner(all, kernels), sides, target);
    const Rate short_runs = rate_of(one_chunk_runner(kernels), sides, target);
    std::printf("%6d %12.4g %12.4g %12.4g %10.1f %10.1f %10.2f %8.2f %12.4g\n", sides,
                ref.trials_per_second, one.trials_per_second, many.trials_per_second,
                one.trials_per_second / ref.trials_per_second,
                many.trials_per_second / ref.trials_per_second,
                many.trials_per_second / one.trials_per_second, many.cores,
                short_runs.trials_per_second);
    std::fflush(stdout);
  }
  std::printf(
      "cores: processor time over wall time of the all-threads run; below the thread\n"
      "count, the machine was busy with other work and the all-thread figures are low.\n"
      "1 chunk: engine on one thread, in runs of one chunk each.\n");
  return 0;
}
