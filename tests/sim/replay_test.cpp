#include "sim/replay.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "every_kernel_set.hpp"
#include "sim/engine.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim {
namespace {

using simtest::bits;
using simtest::EveryKernelSet;
using simtest::perimeter_max;
using simtest::seeded;

// Every trial's perimeter of a whole run of N trials on two threads, as the
// engine counts them.
std::vector<double> run_perimeters(std::int32_t n, double R, std::int64_t N, std::int32_t iseed,
                                   const KernelSet& kernels) {
  std::vector<double> perimeters(static_cast<std::size_t>(N));
  EngineOptions options;
  options.threads = 2;
  options.kernels = &kernels;
  options.perimeters = perimeters.data();
  std::vector<std::int64_t> counts;
  SeedState rng = seeded(iseed);
  run_trials(n, R, N, K1ST, 10, 0.0, perimeter_max(n, R), counts, rng, options);
  return perimeters;
}

// The polygon through the replayed points: its chords 2 R sin(gap / 2).
double chord_sum(const ReplayedTrial& trial, double R) {
  const double two_pi = 8.0 * std::atan(1.0);
  const std::vector<double>& a = trial.angles;
  double sum = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double gap = i + 1 < a.size() ? a[i + 1] - a[i] : two_pi - a[i] + a[0];
    sum += 2.0 * std::sin(gap / 2.0);
  }
  return a.size() < 2 ? 0.0 : sum * R;
}

// The replay must be the run's own first trials, not a run of its own: a
// draw offset, another stream or a sort missed shows in the perimeters or in
// the points.
TEST_P(EveryKernelSet, ReplayGivesTheRunsOwnFirstTrials) {
  struct Case {
    std::int32_t n;
    double R;
    std::int64_t N;
    std::int32_t iseed;
  };
  for (const Case c : {Case{1, 1.0, 2000, 1}, Case{2, 2.5, 2000, 7}, Case{3, 1.0, 100000, 1},
                       Case{3, -1.0, 2000, -12345}, Case{7, 0.5, 5000, 99},
                       Case{3000, 1.0, 300, 2}}) {
    SCOPED_TRACE("sides " + std::to_string(c.n) + ", seed " + std::to_string(c.iseed));
    const std::vector<double> run = run_perimeters(c.n, c.R, c.N, c.iseed, set());
    const std::vector<ReplayedTrial> replayed = replay_trials(c.n, c.R, seeded(c.iseed), 6, &set());
    ASSERT_EQ(replayed.size(), 6U);
    for (std::size_t t = 0; t < replayed.size(); ++t) {
      EXPECT_EQ(bits(replayed[t].perimeter), bits(run[t])) << "trial " << t;
      ASSERT_EQ(replayed[t].angles.size(), static_cast<std::size_t>(c.n));
      EXPECT_NEAR(chord_sum(replayed[t], c.R), replayed[t].perimeter, 1e-12 * c.n)
          << "trial " << t;
    }
  }
}

}  // namespace
}  // namespace polygons::sim
