#include "sim/sides.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "every_kernel_set.hpp"
#include "sim/random_lanes.hpp"
#include "sim/sine_and_moments.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim::simtest {
namespace {

const double kPi = 4.0 * std::atan(1.0);

// The sum of sides of one trial written out plainly: the draws sorted, the
// gaps in order with the span last, added one by one or, from
// kEightPartialsFrom sides, side i into running sum i mod 8.
double plain_sum_of_sides(std::vector<std::int32_t> z) {
  std::sort(z.begin(), z.end());
  const std::size_t n = z.size();
  std::vector<double> sides;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    sides.push_back(sin_pi(static_cast<double>(z[i + 1] - z[i]) * scale(), kPi));
  }
  sides.push_back(sin_pi(static_cast<double>(z[n - 1] - z[0]) * scale(), kPi));
  if (n < kEightPartialsFrom) {
    double sum = 0.0;
    for (double side : sides) sum += side;
    return sum;
  }
  double partial[8] = {};
  for (std::size_t i = 0; i < n; ++i) partial[i % 8] += sides[i];
  double sum = 0.0;
  for (double p : partial) sum += p;
  return sum;
}

// The trials of the stream of seed 17, n draws each, in stream order.
std::vector<std::vector<std::int32_t>> trials_of_stream(std::size_t n, std::size_t count) {
  SeedState state = seeded(17);
  std::vector<std::vector<std::int32_t>> trials(count, std::vector<std::int32_t>(n));
  for (std::vector<std::int32_t>& trial : trials) {
    for (std::int32_t& z : trial) z = next_integer(state);
  }
  return trials;
}

// Trials side by side: drawn from the stream in its order, each sorted and
// its sides added as the plain sum does, by every kernel set.
TEST_P(EveryKernelSet, SidesInLanesAreThePlainSumsOfTheStreamsTrials) {
  for (std::size_t n : {1u, 2u, 3u, 5u, 16u, 31u, 32u, 33u, 64u, 100u, 1000u}) {
    SCOPED_TRACE(std::to_string(n) + " vertices");
    const std::size_t groups = 3, count = groups * kDrawLanes;
    SeedState state = seeded(17);
    std::vector<std::int32_t> z(count * n);
    draw_trials(set().draw_lanes, TrialDraws(n), state, z.data(), groups);
    SeedState after = seeded(17);
    advance(after, count * n);
    EXPECT_EQ(state, after);
    std::vector<double> sums(count);
    set().sides_in_lanes(z.data(), n, groups, sorting_network(n, set().network_shape), scale(),
                         kPi, sums.data());
    const auto trials = trials_of_stream(n, count);
    for (std::size_t t = 0; t < count; ++t) {
      ASSERT_EQ(bits(sums[t]), bits(plain_sum_of_sides(trials[t]))) << "trial " << t;
    }
  }
}

TEST_P(EveryKernelSet, SidesOfSortedAreThePlainSums) {
  for (std::size_t n : {129u, 300u, 1025u, 2049u, 4097u, 10001u}) {
    for (std::vector<std::int32_t> z : trials_of_stream(n, 5)) {
      const double expected = plain_sum_of_sides(z);
      std::sort(z.begin(), z.end());
      EXPECT_EQ(bits(set().sides_of_sorted(z.data(), n, scale(), kPi)), bits(expected))
          << n << " vertices";
    }
  }
}

}  // namespace
}  // namespace polygons::sim::simtest
