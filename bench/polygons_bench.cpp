// Times the straightforward trial loop and the trial engine on the same
// inputs, on one thread and on all threads, and prints trials per second and
// the ratios. Each figure is the best of three runs of about the given
// length. Usage: polygons_bench [seconds per run, default 1]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "sim/engine.hpp"
#include "sim/random.hpp"
#include "sim/trials.hpp"

namespace {

using polygons::sim::EngineOptions;
using polygons::sim::K1ST;
using polygons::sim::SeedState;

constexpr std::int32_t kClasses = 50;
constexpr std::int32_t kSeed = 4711;

double perimeter_max(std::int32_t sides) {
  const double pi = 4.0 * std::atan(1.0);
  return static_cast<double>(2 * sides) * std::sin(pi / sides);
}

// One run of N trials; returns its wall-clock seconds.
using Runner = std::function<void(std::int32_t sides, std::int64_t N)>;

double seconds_of(const Runner& run, std::int32_t sides, std::int64_t N) {
  const auto start = std::chrono::steady_clock::now();
  run(sides, N);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Trials per second, from a run grown until it lasts about `target` seconds.
double trials_per_second(const Runner& run, std::int32_t sides, double target) {
  std::int64_t N = 16;
  double seconds = seconds_of(run, sides, N);
  while (seconds < target / 8.0) {
    N *= 4;
    seconds = seconds_of(run, sides, N);
  }
  N = static_cast<std::int64_t>(static_cast<double>(N) * target / seconds) + 1;
  // The best of three runs: other work on the machine only ever slows a run.
  double best = seconds_of(run, sides, N);
  for (int repeat = 1; repeat < 3; ++repeat) best = std::min(best, seconds_of(run, sides, N));
  return static_cast<double>(N) / best;
}

Runner reference_runner() {
  return [](std::int32_t sides, std::int64_t N) {
    SeedState rng;
    polygons::sim::random_init(rng, kSeed);
    std::vector<std::int64_t> counts;
    polygons::sim::simulate_class(sides, 1.0, N, K1ST, kClasses, 0.0, perimeter_max(sides), counts, rng);
  };
}

Runner engine_runner(int threads) {
  return [threads](std::int32_t sides, std::int64_t N) {
    SeedState rng;
    polygons::sim::random_init(rng, kSeed);
    std::vector<std::int64_t> counts;
    EngineOptions options;
    options.threads = threads;
    polygons::sim::run_trials(sides, 1.0, N, K1ST, kClasses, 0.0, perimeter_max(sides), counts, rng,
                              options);
  };
}

}  // namespace

int main(int argc, char** argv) {
  const double target = argc > 1 ? std::atof(argv[1]) : 1.0;
  if (!(target > 0.0)) {
    std::fprintf(stderr, "usage: polygons_bench [seconds per measurement]\n");
    return 2;
  }
  const int all = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::printf("trials per second; reference = straightforward loop on 1 thread; %d hardware threads\n", all);
  std::printf("%6s %14s %14s %14s %10s %10s %10s\n", "sides", "reference", "engine 1 thr",
              "engine all", "1 thr/ref", "all/ref", "all/1 thr");
  for (std::int32_t sides : {3, 10, 30, 100, 1000}) {
    const double ref = trials_per_second(reference_runner(), sides, target);
    const double one = trials_per_second(engine_runner(1), sides, target);
    const double many = trials_per_second(engine_runner(all), sides, target);
    std::printf("%6d %14.4g %14.4g %14.4g %10.1f %10.1f %10.2f\n", sides, ref, one, many, one / ref,
                many / ref, many / one);
    std::fflush(stdout);
  }
  return 0;
}
