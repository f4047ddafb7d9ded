#include "sim/trials.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "sim_test_support.hpp"

namespace polygons::sim {
namespace {

using simtest::class_sum;
using simtest::kK1st;
using simtest::perimeter_max;
using simtest::seeded;

struct TrialRun {
  TrialResults results;
  std::vector<std::int64_t> counts;
  SeedState after;
};

TrialRun reference_run(std::int32_t n, double R, std::int64_t N, std::int32_t klass,
                       std::int32_t iseed) {
  TrialRun run;
  run.after = seeded(iseed);
  run.results =
      simulate_class(n, R, N, kK1st, klass, 0.0, perimeter_max(n, R), run.counts, run.after);
  return run;
}

TEST(ReferenceTrials, WorkedRunReproducesEveryFigure) {
  const TrialRun run = reference_run(3, 1.0, 1000, 11, 1);
  EXPECT_NEAR(perimeter_max(3, 1.0), 5.196152423, 5e-10);
  EXPECT_NEAR(run.results.class_width, 0.4723774930, 5e-11);
  const std::vector<std::int64_t> expected = {5, 16, 23, 31, 48, 57, 87, 117, 186, 214, 216};
  EXPECT_EQ(std::vector<std::int64_t>(run.counts.begin(), run.counts.end() - 1), expected);
  EXPECT_NEAR(run.results.perim_avg, 3.806023343, 5e-10);
  EXPECT_NEAR(run.results.perim_stdev, 1.092569534, 5e-10);
}

TEST(ReferenceTrials, ConsumesExactlyNTimesNDraws) {
  const TrialRun run = reference_run(7, 2.5, 1234, 9, 99);
  EXPECT_EQ(run.after, seed_ahead(seeded(99), 7 * 1234));
}

TEST(ReferenceTrials, CountsSumToN) {
  struct Case {
    std::int32_t n;
    double R;
    std::int64_t N;
    std::int32_t klass;
    std::int32_t iseed;
  };
  const Case cases[] = {{3, 1.0, 1000, 11, 1}, {4, 3.0, 2001, 7, 5},    {2, 1.0, 1500, 40, -3},
                        {10, 0.5, 999, 1, 8},  {25, 1e3, 1000, 100, 2}, {1, 1.0, 1000, 5, 1}};
  for (const Case& c : cases) {
    const TrialRun run = reference_run(c.n, c.R, c.N, c.klass, c.iseed);
    EXPECT_EQ(class_sum(run.counts), c.N) << "sides " << c.n;
    EXPECT_EQ(run.counts.size(), static_cast<std::size_t>(c.klass + 1));
  }
}

TEST(ReferenceTrials, OneVertexGivesZeroPerimeters) {
  const TrialRun run = reference_run(1, 2.0, 1000, 5, 3);
  EXPECT_EQ(run.counts[0], 1000);
  EXPECT_EQ(class_sum(run.counts), 1000);
  EXPECT_EQ(run.results.perim_avg, 0.0);
  EXPECT_EQ(run.results.perim_stdev, 0.0);
}

TEST(ReferenceTrials, TwoVerticesMatchTheTheory) {
  // P = 2 * 2 sin(pi g) with g uniform: mean 8/pi, variance 16 (1/2 - 4/pi^2).
  const double pi = 4.0 * std::atan(1.0);
  const TrialRun run = reference_run(2, 1.0, 40000, 20, 11);
  EXPECT_EQ(perimeter_max(2, 1.0), 4.0);
  EXPECT_NEAR(run.results.perim_avg, 8.0 / pi, 0.03);
  EXPECT_NEAR(run.results.perim_stdev, std::sqrt(16.0 * (0.5 - 4.0 / (pi * pi))), 0.03);
  EXPECT_EQ(class_sum(run.counts), 40000);
}

TEST(ReferenceTrials, OneClassHoldsEveryTrial) {
  const TrialRun run = reference_run(5, 1.0, 1000, 1, 21);
  ASSERT_EQ(run.counts.size(), 2u);
  EXPECT_EQ(run.counts[0], 1000);
  EXPECT_DOUBLE_EQ(run.results.class_width, perimeter_max(5, 1.0));
}

TEST(ReferenceTrials, NegativeRadiusMirrorsThePositiveRun) {
  const TrialRun plus = reference_run(4, 1.5, 3000, 13, 77);
  const TrialRun minus = reference_run(4, -1.5, 3000, 13, 77);
  EXPECT_EQ(plus.counts, minus.counts);
  EXPECT_LT(minus.results.class_width, 0.0);
  EXPECT_EQ(minus.results.perim_avg, -plus.results.perim_avg);
  EXPECT_EQ(minus.results.perim_stdev, plus.results.perim_stdev);
}

TEST(ReferenceTrials, SameSeedSameResults) {
  const TrialRun a = reference_run(6, 1.0, 2500, 17, 4711);
  const TrialRun b = reference_run(6, 1.0, 2500, 17, 4711);
  EXPECT_EQ(a.counts, b.counts);
  EXPECT_EQ(a.results.perim_avg, b.results.perim_avg);
  EXPECT_EQ(a.results.perim_stdev, b.results.perim_stdev);
}

TEST(ReferenceTrials, SingleTrialHasZeroDeviation) {
  TrialRun run;
  run.after = seeded(1);
  run.results =
      simulate_class(3, 1.0, 1, kK1st, 11, 0.0, perimeter_max(3, 1.0), run.counts, run.after);
  EXPECT_EQ(class_sum(run.counts), 1);
  EXPECT_EQ(run.results.perim_stdev, 0.0);
  EXPECT_GT(run.results.perim_avg, 0.0);
}

TEST(ClassSlot, BoundariesAndTheUpperEnd) {
  const std::int32_t klass = 4;
  const std::int64_t slots = class_slots(kK1st, klass);
  const double width = class_width_of(kK1st, klass, 0.0, 8.0);  // 2.0
  EXPECT_EQ(slots, 5);
  EXPECT_EQ(width, 2.0);
  struct Case {
    double perimeter;
    std::int64_t slot;
  };
  const Case cases[] = {
      {0.0, 0},
      {1.999, 0},
      {2.0, 1},
      {5.5, 2},
      {7.999, 3},
      {8.0, 4},        // the upper end goes to the overflow slot
      {8.0000001, 4},  // rounding past the end stays in the array
      {-0.0, 0},
      {-1.0, 0},
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {std::numeric_limits<double>::infinity(), 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(class_slot_of(c.perimeter, 0.0, width, kK1st, slots), c.slot) << c.perimeter;
  }
}

TEST(ClassSlot, NegativeWidthKeepsTheRatioPositive) {
  const double width = class_width_of(kK1st, 4, 0.0, -8.0);
  EXPECT_EQ(class_slot_of(-3.0, 0.0, width, kK1st, 5), 1);
  EXPECT_EQ(class_slot_of(-8.0, 0.0, width, kK1st, 5), 4);
}

TEST(ClassSlot, HugeClassCountsDoNotOverflowTheSize) {
  EXPECT_EQ(class_slots(kK1st, 2147483647), 2147483648ll);
}

TEST(ClassCounts, OverflowSlotFoldsIntoTheLastClass) {
  std::vector<std::int64_t> counts = {3, 0, 5, 2};
  fold_overflow(counts);
  EXPECT_EQ(counts, (std::vector<std::int64_t>{3, 0, 7, 2}));
}

TEST(RunningStats, MatchesTwoPassFormulas) {
  const std::vector<double> values = {3.0, 1.0, 4.0, 1.0, 5.0, 9.0, 2.0, 6.0};
  RunningStats stats;
  for (double v : values) stats.add(v);
  double mean = 0.0;
  for (double v : values) mean += v;
  mean /= static_cast<double>(values.size());
  double ss = 0.0;
  for (double v : values) ss += (v - mean) * (v - mean);
  EXPECT_EQ(stats.count, 8);
  EXPECT_NEAR(stats.avg, mean, 1e-15);
  EXPECT_NEAR(stats.variance, ss / 7.0, 1e-14);
}

TEST(RunningStats, StaysAccurateFarOutInTheCount) {
  // Counts past 2^31 keep their place in the recurrence.
  RunningStats stats;
  stats.count = 3'000'000'000ll;
  stats.avg = 2.0;
  stats.variance = 1.0;
  stats.add(2.0);
  EXPECT_EQ(stats.count, 3'000'000'001ll);
  EXPECT_EQ(stats.avg, 2.0);
  EXPECT_NEAR(stats.variance, 1.0, 1e-9);
}

}  // namespace
}  // namespace polygons::sim
