#include "sim/engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "every_kernel_set.hpp"
#include "sim/kernel_set.hpp"
#include "sim/trials.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim {
namespace {

using simtest::bits;
using simtest::class_sum;
using simtest::EveryKernelSet;
using simtest::perimeter_max;
using simtest::seeded;

struct Case {
  std::int32_t n;
  double R;
  std::int64_t N;
  std::int32_t klass;
  std::int32_t iseed;
  std::int64_t chunk;  // 0 = the run's own chunk size
  const char* why;
};

struct Outcome {
  TrialResults results;
  std::vector<std::int64_t> counts;
  SeedState after;
};

Outcome reference(const Case& c) {
  Outcome o;
  o.after = seeded(c.iseed);
  o.results =
      simulate_class(c.n, c.R, c.N, K1ST, c.klass, 0.0, perimeter_max(c.n, c.R), o.counts, o.after);
  return o;
}

Outcome engine(const Case& c, int threads, const KernelSet* kernels = nullptr) {
  Outcome o;
  o.after = seeded(c.iseed);
  EngineOptions options;
  options.threads = threads;
  options.chunk_trials = c.chunk;
  options.kernels = kernels;
  o.results = run_trials(c.n, c.R, c.N, K1ST, c.klass, 0.0, perimeter_max(c.n, c.R), o.counts,
                         o.after, options);
  return o;
}

void expect_relative(double actual, double expected, double tolerance) {
  EXPECT_LE(std::abs(actual - expected), tolerance * std::abs(expected))
      << actual << " vs " << expected;
}

// None of these runs has a perimeter within rounding of a class boundary, so
// the counts agree exactly.
const Case kCases[] = {
    {3, 1.0, 1000, 11, 1, 0, "the worked run, one chunk"},
    {3, 1.0, 200001, 21, 7, 0, "triangles over several chunks, the last one short"},
    {3, 1.0, 1000, 11, 1, 64, "small chunks, N not a multiple of the chunk"},
    {3, 1.0, 50, 11, 1, 64, "N smaller than one chunk"},
    {1, 2.0, 5000, 7, 3, 300, "one vertex: all perimeters 0"},
    {2, 1.0, 7777, 30, -5, 1000, "two vertices: twice one chord"},
    {4, -2.5, 30000, 40, 12345, 4096, "negative radius"},
    {5, 1.0, 3000, 1, 99, 128, "one class"},
    {10, 0.75, 20000, 50, 42, 0, "ten sides, several chunks"},
    {16, 1.0, 4000, 25, 9, 0, "a power of two"},
    {17, 1.0, 4000, 25, 8, 333, "trials side by side, groups across blocks"},
    {64, 1.0, 3000, 25, 10, 0, "sixty-four sides"},
    {65, 1.0, 3000, 25, 11, 500, "sixty-five sides"},
    {1792, 1.0, 20, 25, 12, 6, "largest polygon the avx512 kernels sort side by side"},
    {1793, 1.0, 20, 25, 13, 7, "smallest polygon every kernel set bucket-sorts"},
    {30, 3.0, 5000, 60, 2147483562, 0, "thirty sides"},
    {100, 1.0, 2000, 28, 4711, 0, "a hundred sides"},
    {1000, 1.0, 300, 11, -1, 0, "a thousand sides, more than one chunk"},
    {333, 10.0, 251, 9, 5, 17, "odd sides, odd chunk"},
};

TEST(Engine, AgreesWithTheStraightforwardLoop) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const Outcome ref = reference(c);
    const Outcome eng = engine(c, 2);
    EXPECT_EQ(eng.counts, ref.counts);
    EXPECT_EQ(class_sum(eng.counts), c.N);
    EXPECT_EQ(eng.results.class_width, ref.results.class_width);
    if (ref.results.perim_avg == 0.0) {
      EXPECT_EQ(eng.results.perim_avg, 0.0);
      EXPECT_EQ(eng.results.perim_stdev, 0.0);
    } else {
      expect_relative(eng.results.perim_avg, ref.results.perim_avg, 1e-12);
      // The perimeters themselves may differ in their last bits (the
      // straightforward chords lose bits to cancellation when many sides are
      // short), so a deviation far smaller than the average is compared on
      // the scale of the average.
      const double scale =
          std::max(std::abs(ref.results.perim_stdev), std::abs(ref.results.perim_avg));
      EXPECT_LE(std::abs(eng.results.perim_stdev - ref.results.perim_stdev), 1e-12 * scale)
          << eng.results.perim_stdev << " vs " << ref.results.perim_stdev;
    }
    EXPECT_EQ(eng.after, ref.after) << "the stream must end where the sequential run leaves it";
  }
}

TEST(Engine, WorkedRunIsExact) {
  const Case worked{3, 1.0, 1000, 11, 1, 0, "worked run"};
  const Outcome eng = engine(worked, 8);
  EXPECT_EQ(std::vector<std::int64_t>(eng.counts.begin(), eng.counts.end() - 1),
            (std::vector<std::int64_t>{5, 16, 23, 31, 48, 57, 87, 117, 186, 214, 216}));
  EXPECT_NEAR(eng.results.perim_avg, 3.806023343, 5e-10);
  EXPECT_NEAR(eng.results.perim_stdev, 1.092569534, 5e-10);
}

TEST(Engine, SameResultsOnAnyNumberOfThreads) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const Outcome one = engine(c, 1);
    for (int threads : {2, 3, 8}) {
      const Outcome many = engine(c, threads);
      EXPECT_EQ(many.counts, one.counts) << threads << " threads";
      EXPECT_EQ(many.results.perim_avg, one.results.perim_avg) << threads << " threads";
      EXPECT_EQ(many.results.perim_stdev, one.results.perim_stdev) << threads << " threads";
    }
  }
}

// As processes sharing a run do: each runs a range of the chunks (some
// ranges empty when there are more shares than chunks), the counts are
// summed, the records put in chunk order and merged.
TEST(Engine, SharesOfTheChunksMergeToTheWholeRun) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const Outcome whole = engine(c, 2);
    const TrialRun run{c.n, c.R, c.N, K1ST, c.klass, 0.0, perimeter_max(c.n, c.R), seeded(c.iseed)};
    EngineOptions options;
    options.threads = 2;
    options.chunk_trials = c.chunk;
    const std::int64_t chunks = chunk_count(run, options);
    for (std::int64_t shares : {2, 3, 5}) {
      std::vector<ChunkStats> records;
      std::vector<std::int64_t> counts(class_slots(K1ST, c.klass), 0);
      for (std::int64_t s = 0; s < shares; ++s) {
        int ready = 0;
        options.before_trials = [&] { ++ready; };
        std::vector<std::int64_t> share_counts;
        const std::vector<ChunkStats> share = run_share(
            run, options, {chunks * s / shares, chunks * (s + 1) / shares}, share_counts);
        EXPECT_EQ(ready, 1);
        records.insert(records.end(), share.begin(), share.end());
        for (std::size_t k = 0; k < counts.size(); ++k) counts[k] += share_counts[k];
      }
      ASSERT_EQ(static_cast<std::int64_t>(records.size()), chunks);
      SeedState after = run.start;
      const TrialResults merged = merge_shares(run, records, counts, after);
      EXPECT_EQ(counts, whole.counts) << shares << " shares";
      EXPECT_EQ(bits(merged.perim_avg), bits(whole.results.perim_avg)) << shares << " shares";
      EXPECT_EQ(bits(merged.perim_stdev), bits(whole.results.perim_stdev)) << shares << " shares";
      EXPECT_EQ(after, whole.after);
    }
  }
}

TEST(Engine, ManyClassesCountIntoOneSharedArray) {
  // Enough classes that the threads share one count array.
  const Case c{3, 1.0, 100000, 8'000'000, 77, 1000, "eight million classes"};
  const Outcome ref = reference(c);
  const Outcome eng = engine(c, 3);
  EXPECT_EQ(eng.counts, ref.counts);
  EXPECT_EQ(class_sum(eng.counts), c.N);
}

// What the progress sink throws (an interrupt, from the Python module) ends
// the run: every thread ends its chunk at its next block and takes no
// further one, so only a small part of the trials has a perimeter when the
// exception arrives, whether it came between chunks or inside a long one.
TEST(Engine, ProgressThatThrowsStopsEveryThread) {
  struct Interrupt : ProgressSink {
    bool from_tick = false;
    int ticks = 0;
    void start() override {}
    void update(double) override {
      if (!from_tick) throw std::runtime_error("interrupted");
    }
    // The first tick gives the other threads time to be well inside their
    // chunks, which take far longer; the second stops the run.
    void tick() override {
      if (!from_tick) return;
      if (++ticks == 1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (ticks == 2) throw std::runtime_error("interrupted");
    }
    void finish() override {}
  };
  struct Row {
    bool from_tick;
    std::int32_t n;
    std::int64_t N, chunk;
  };
  for (const Row row : {Row{false, 3, 4'000'000, 1000}, Row{true, 1000, 1'000'000, 500'000}}) {
    SCOPED_TRACE(row.from_tick ? "inside a chunk" : "between chunks");
    Interrupt interrupt;
    interrupt.from_tick = row.from_tick;
    std::vector<double> perimeters(static_cast<std::size_t>(row.N), -1.0);
    EngineOptions options;
    options.threads = 2;
    options.chunk_trials = row.chunk;
    options.progress = &interrupt;
    options.perimeters = perimeters.data();
    std::vector<std::int64_t> counts;
    SeedState rng = seeded(1);
    EXPECT_THROW(run_trials(row.n, 1.0, row.N, K1ST, 11, 0.0, perimeter_max(row.n, 1.0), counts,
                            rng, options),
                 std::runtime_error);
    const auto measured = std::count_if(perimeters.begin(), perimeters.end(),
                                        [](double p) { return p >= 0.0; });
    EXPECT_GE(measured, 1);
    EXPECT_LT(measured, row.N / 2);
  }
}

TEST(ChunkSize, IndependentOfThreadsAndBounded) {
  EXPECT_EQ(chunk_trials_for(3, 1000), 87381);
  EXPECT_EQ(chunk_trials_for(1000, 1000), 262);
  EXPECT_EQ(chunk_trials_for(1, 1000), 262144);
  EXPECT_EQ(chunk_trials_for(1'000'000, 10), 1);
  // At most 2^16 chunks however many trials.
  const std::int64_t most = 2'330'000'000;
  EXPECT_LE((most + chunk_trials_for(1000, most) - 1) / chunk_trials_for(1000, most), 65536);
}

// The kernels of every set perform the same operations in the same order
// (sine_and_moments_test.cpp pins them one by one), so whole runs agree too.
TEST_P(EveryKernelSet, EngineGivesTheGenericFiguresBitForBit) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const Outcome expected = engine(c, 2, &generic());
    const Outcome actual = engine(c, 2, &set());
    EXPECT_EQ(actual.counts, expected.counts);
    EXPECT_EQ(bits(actual.results.perim_avg), bits(expected.results.perim_avg));
    EXPECT_EQ(bits(actual.results.perim_stdev), bits(expected.results.perim_stdev));
  }
}

}  // namespace
}  // namespace polygons::sim
