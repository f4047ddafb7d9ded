#include "sim/engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/kernels.hpp"
#include "sim/progress.hpp"
#include "sim/trials.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim {
namespace {

using simtest::class_sum;
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
    {10, 0.75, 20000, 50, 42, 0, "insertion sort, several chunks"},
    {16, 1.0, 4000, 25, 9, 0, "rank sort, narrowest"},
    {17, 1.0, 4000, 25, 8, 333, "rank sort, middle width"},
    {64, 1.0, 3000, 25, 10, 0, "rank sort, widest"},
    {65, 1.0, 3000, 25, 11, 500, "smallest bucket-sorted polygon"},
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

TEST(Engine, ManyClassesCountIntoOneSharedArray) {
  // Enough classes that the threads share one count array.
  const Case c{3, 1.0, 100000, 8'000'000, 77, 1000, "eight million classes"};
  const Outcome ref = reference(c);
  const Outcome eng = engine(c, 3);
  EXPECT_EQ(eng.counts, ref.counts);
  EXPECT_EQ(class_sum(eng.counts), c.N);
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

TEST(ThreadCount, ParsesOmpNumThreads) {
  struct Text {
    const char* text;
    std::optional<int> threads;
  };
  const Text cases[] = {
      {"1", 1},
      {"8", 8},
      {" 3 ", 3},
      {"4,2", 4},
      {"0", std::nullopt},
      {"-2", std::nullopt},
      {"", std::nullopt},
      {"two", std::nullopt},
      {"3x", std::nullopt},
      {"99999999999", std::nullopt},
      {"100000", 1024},
  };
  for (const Text& t : cases)
    EXPECT_EQ(parse_thread_count(t.text), t.threads) << '"' << t.text << '"';
}

TEST(ThreadCount, TakenFromTheEnvironmentWhenValid) {
  const char* saved = std::getenv("OMP_NUM_THREADS");
  const std::string kept = saved != nullptr ? saved : "";
  setenv("OMP_NUM_THREADS", "3", 1);
  EXPECT_EQ(engine_options_for_run().threads, 3);
  setenv("OMP_NUM_THREADS", "many", 1);
  const int fallback = engine_options_for_run().threads;
  unsetenv("OMP_NUM_THREADS");
  EXPECT_EQ(engine_options_for_run().threads, fallback);
  EXPECT_GE(fallback, 1);
  if (saved != nullptr) setenv("OMP_NUM_THREADS", kept.c_str(), 1);
}

TEST(InstructionSet, ChosenByPolygonsIsa) {
  const char* saved = std::getenv("POLYGONS_ISA");
  const std::string kept = saved != nullptr ? saved : "";
  for (const char* unset_or_empty : {static_cast<const char*>(nullptr), ""}) {
    if (unset_or_empty == nullptr) {
      unsetenv("POLYGONS_ISA");
    } else {
      setenv("POLYGONS_ISA", unset_or_empty, 1);
    }
    EXPECT_EQ(engine_options_for_run().kernels, &fastest_kernel_set());
  }
  setenv("POLYGONS_ISA", "generic", 1);
  EXPECT_EQ(engine_options_for_run().kernels, kernel_set_named("generic"));
  setenv("POLYGONS_ISA", "AVX2", 1);
  EXPECT_THROW(engine_options_for_run(), std::invalid_argument) << "names are lower case";
  setenv("POLYGONS_ISA", "sse9", 1);
  try {
    engine_options_for_run();
    ADD_FAILURE() << "an unknown set was taken";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("POLYGONS_ISA=\"sse9\" names no instruction set"),
              std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("generic"), std::string::npos) << e.what();
  }
  for (const KernelSet& set : kernel_sets()) {
    if (runs_here(set)) continue;
    setenv("POLYGONS_ISA", set.name, 1);
    EXPECT_THROW(engine_options_for_run(), std::invalid_argument)
        << set.name << " is refused where the processor lacks it";
  }
  if (saved != nullptr) {
    setenv("POLYGONS_ISA", kept.c_str(), 1);
  } else {
    unsetenv("POLYGONS_ISA");
  }
}

// Each test runs once per kernel set built into the program, and is skipped,
// saying so, for a set this processor cannot run.
class EveryKernelSet : public ::testing::TestWithParam<const KernelSet*> {
 protected:
  void SetUp() override {
    if (!runs_here(set())) {
      GTEST_SKIP() << "this processor cannot run the " << set().name << " kernels";
    }
  }
  const KernelSet& set() const { return *GetParam(); }
  const KernelSet& generic() const { return *kernel_set_named("generic"); }
};

std::vector<const KernelSet*> every_kernel_set() {
  std::vector<const KernelSet*> sets;
  for (const KernelSet& set : kernel_sets()) sets.push_back(&set);
  return sets;
}

INSTANTIATE_TEST_SUITE_P(Kernels, EveryKernelSet, ::testing::ValuesIn(every_kernel_set()),
                         [](const auto& info) { return std::string(info.param->name); });

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

TEST_P(EveryKernelSet, DrawsTheSequentialStream) {
  for (std::size_t count : {0u, 5u, 31u, 32u, 33u, 64u, 2046u, 2048u, 8000u}) {
    SeedState lanes = seeded(123);
    SeedState single = lanes;
    std::vector<std::int32_t> fast(count), slow(count);
    draw_integers(set(), lanes, fast.data(), count);
    for (std::int32_t& z : slow) z = next_integer(single);
    EXPECT_EQ(fast, slow) << count << " draws";
    EXPECT_EQ(lanes, single) << count << " draws";
  }
}

TEST_P(EveryKernelSet, SortFewOrdersAnyInputIncludingEqualDraws) {
  std::vector<std::vector<std::int32_t>> inputs = {
      {5},
      {9, 3, 7, 1, 5},
      {1, 1, 1, 1, 1, 1},
      {4, 2, 4, 2, 4, 2, 4},
      {2147483562, 1, 2147483562, 2, 1, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 3},
  };
  for (std::size_t n : {17u, 32u, 33u, 64u}) {
    std::vector<std::int32_t> z(n);
    for (std::size_t i = 0; i < n; ++i)
      z[i] = static_cast<std::int32_t>((i * 7919) % 13);  // many ties
    inputs.push_back(z);
    for (std::size_t i = 0; i < n; ++i) z[i] = static_cast<std::int32_t>(n - i);  // descending
    inputs.push_back(z);
  }
  for (std::vector<std::int32_t> z : inputs) {
    std::vector<std::int32_t> expected = z;
    std::sort(expected.begin(), expected.end());
    set().sort_few(z.data(), z.size());
    EXPECT_EQ(z, expected);
  }
}

TEST_P(EveryKernelSet, SinPiIsAccurate) {
  const double pi = 4.0 * std::atan(1.0);
  std::vector<double> x;
  for (int i = 0; i <= 4096; ++i) x.push_back(i / 4096.0);
  x.push_back(1e-9);
  x.push_back(1.0 - 1e-9);
  std::vector<double> y = x;
  set().sin_pi_turns(y.data(), y.size(), pi);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = x[i] < 0.5 ? x[i] : 1.0 - x[i];
    EXPECT_NEAR(y[i], std::sin(pi * t), 4e-16 * std::max(1e-300, std::sin(pi * t)) + 1e-300)
        << x[i];
  }
  EXPECT_EQ(y[0], 0.0);
  EXPECT_EQ(y[4096], 0.0);
}

// The floating-point kernels agree with the generic ones bit for bit only as
// long as every set performs the same operations in the same order; a fused
// multiply-add, or a sum regrouped for a wider vector, shows here.
TEST_P(EveryKernelSet, GivesTheGenericFiguresBitForBit) {
  const double pi = 4.0 * std::atan(1.0);
  for (std::size_t n : {2u, 3u, 4u}) {
    SCOPED_TRACE(std::to_string(n) + " vertices");
    const std::size_t trials = 1001;
    std::vector<std::int32_t> z(trials * n);
    SeedState state = seeded(31);
    draw_integers(generic(), state, z.data(), z.size());
    std::vector<double> expected(z.size()), actual(z.size());
    generic().gaps_of_small_polygons(z.data(), trials, n, scale(), expected.data());
    set().gaps_of_small_polygons(z.data(), trials, n, scale(), actual.data());
    generic().sin_pi_turns(expected.data(), expected.size(), pi);
    set().sin_pi_turns(actual.data(), actual.size(), pi);
    for (std::size_t i = 0; i < z.size(); ++i) {
      ASSERT_EQ(bits(actual[i]), bits(expected[i])) << "side " << i << ": " << actual[i];
    }
    for (std::size_t count = 1; count <= 200; count += 7) {
      double mean[2], squares[2];
      generic().block_moments(expected.data(), count, mean[0], squares[0]);
      set().block_moments(expected.data(), count, mean[1], squares[1]);
      EXPECT_EQ(bits(mean[1]), bits(mean[0])) << count << " values";
      EXPECT_EQ(bits(squares[1]), bits(squares[0])) << count << " values";
    }
  }
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const Outcome expected = engine(c, 2, &generic());
    const Outcome actual = engine(c, 2, &set());
    EXPECT_EQ(actual.counts, expected.counts);
    EXPECT_EQ(bits(actual.results.perim_avg), bits(expected.results.perim_avg));
    EXPECT_EQ(bits(actual.results.perim_stdev), bits(expected.results.perim_stdev));
  }
}

TEST(Progress, TextShowsShareAndTimeLeft) {
  EXPECT_EQ(progress_text(0.421, 12.2), " polygons: 42% of the trials done, about 13 s left");
  EXPECT_EQ(progress_text(0.5, 600.0), " polygons: 50% of the trials done, about 10 min left");
  EXPECT_EQ(progress_text(0.01, 36000.0), " polygons: 1% of the trials done, about 10 h left");
  EXPECT_EQ(progress_text(0.0, -1.0), " polygons: 0% of the trials done, time left unknown");
}

}  // namespace
}  // namespace polygons::sim
