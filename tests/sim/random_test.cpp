#include "sim/random.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

namespace polygons::sim {
namespace {

SeedState seeded(std::int32_t iseed) {
  SeedState state;
  random_init(state, iseed);
  return state;
}

TEST(Generator, ScaleIsTheExactDouble) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(scale()), 0x3E0000000A9FFFFEu);
  EXPECT_NE(scale(), 1.0 / kM1);
}

TEST(Generator, SeedOneGivesTheListedDrawsAndStates) {
  SeedState state = seeded(1);
  EXPECT_EQ(state, (SeedState{1, 1}));
  struct Step {
    std::int32_t z;
    SeedState after;
    double uniform;
  };
  const Step steps[] = {
      {2147482884, {40014, 40692}, 0.9999996838159714},
      {2092764894, {1601120196, 1655838864}, 0.9745196331451482},
      {1390461064, {1346387765, 2103410263}, 0.647483914641724},
  };
  SeedState copy = state;
  for (const Step& step : steps) {
    EXPECT_EQ(next_integer(state), step.z);
    EXPECT_EQ(state, step.after);
    EXPECT_DOUBLE_EQ(for_random_number(copy), step.uniform);
    EXPECT_EQ(copy, step.after);
  }
}

TEST(Generator, SeedingReducesTheWordsAsDocumented) {
  struct Case {
    std::int32_t iseed;
    SeedState expected;
  };
  const Case cases[] = {
      {12345, {12345, 12345}},         {-1, {171, 499}},  // u = 4294967295
      {2147483562, {2147483562, 164}},                    // s1 at its top, s2 reduced once
      {2147483563, {1, 165}},                             // both reduced once
      {2147483647, {85, 249}},         {-2147483647 - 1, {86, 250}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(seeded(c.iseed), c.expected) << "iseed " << c.iseed;
  }
}

TEST(Generator, Seed12345FirstDraw) {
  SeedState state = seeded(12345);
  EXPECT_EQ(next_integer(state), 2139113652);
}

TEST(Generator, ZeroWordsGiveTheUnseededState) {
  SeedState state;
  const std::uint32_t words[2] = {0, 0};
  for_random_seed_put(state, words);
  EXPECT_EQ(state, SeedState{});
  EXPECT_EQ(state, (SeedState{2147483562, 2147483398}));
  EXPECT_EQ(next_integer(state), 842);
}

TEST(Generator, DrawsStayInsideTheOpenUnitInterval) {
  // The extreme combined integers map strictly inside (0, 1).
  EXPECT_GT(uniform_of(1), 0.0);
  EXPECT_LT(uniform_of(kM1 - 1), 1.0);
  SeedState state = seeded(-7);
  for (int i = 0; i < 100000; ++i) {
    const std::int32_t z = next_integer(state);
    ASSERT_GE(z, 1);
    ASSERT_LE(z, kM1 - 1);
  }
}

TEST(Generator, ClockSeedingGivesAValidState) {
  SeedState state;
  random_init(state, 0);
  EXPECT_GE(state.s1, 1);
  EXPECT_LE(state.s1, kM1 - 1);
  EXPECT_GE(state.s2, 1);
  EXPECT_LE(state.s2, kM2 - 1);
  EXPECT_EQ(for_random_seed_bit_size(), 64);
}

TEST(JumpAhead, EqualsSteppingOneDrawAtATime) {
  const std::uint64_t checkpoints[] = {0, 1, 2, 3, 17, 1000, 65536, 999983};
  for (std::int32_t iseed : {1, 12345, -1, 2147483562}) {
    const SeedState start = seeded(iseed);
    SeedState stepped = start;
    std::uint64_t done = 0;
    for (std::uint64_t target : checkpoints) {
      while (done < target) {
        next_integer(stepped);
        ++done;
      }
      EXPECT_EQ(seed_ahead(start, target), stepped) << "iseed " << iseed << ", steps " << target;
      SeedState moved = start;
      advance(moved, target);
      EXPECT_EQ(moved, stepped) << "iseed " << iseed << ", steps " << target;
    }
  }
}

TEST(JumpAhead, LargeJumpsCompose) {
  const SeedState start = seeded(4711);
  const std::uint64_t a = 5'000'000'000'000ull, b = 123'456'789'012ull;
  EXPECT_EQ(seed_ahead(seed_ahead(start, a), b), seed_ahead(start, a + b));
  // Each component returns to itself after its period m - 1.
  EXPECT_EQ(seed_ahead(start, static_cast<std::uint64_t>(kM1 - 1)).s1, start.s1);
  EXPECT_EQ(seed_ahead(start, static_cast<std::uint64_t>(kM2 - 1)).s2, start.s2);
  // The largest jump a run can make (2.33e9 trials of 2^31 - 1 sides) is valid.
  const SeedState far = seed_ahead(start, 2'330'000'000ull * 2'147'483'647ull);
  EXPECT_GE(far.s1, 1);
  EXPECT_GE(far.s2, 1);
}

}  // namespace
}  // namespace polygons::sim
