#include "sim/sine_and_moments.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "every_kernel_set.hpp"
#include "sim/random_lanes.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim::simtest {
namespace {

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
}

}  // namespace
}  // namespace polygons::sim::simtest
