#include "sim/sine_and_moments.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "every_kernel_set.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim::simtest {
namespace {

TEST(SinPi, IsAccurate) {
  const double pi = 4.0 * std::atan(1.0);
  std::vector<double> x;
  for (int i = 0; i <= 4096; ++i) x.push_back(i / 4096.0);
  x.push_back(1e-9);
  x.push_back(1.0 - 1e-9);
  for (double value : x) {
    const double t = value < 0.5 ? value : 1.0 - value;
    EXPECT_NEAR(sin_pi(value, pi), std::sin(pi * t),
                4e-16 * std::max(1e-300, std::sin(pi * t)) + 1e-300)
        << value;
  }
  EXPECT_EQ(sin_pi(0.0, pi), 0.0);
  EXPECT_EQ(sin_pi(1.0, pi), 0.0);
}

// The moments agree with the generic ones bit for bit only as long as every
// set performs the same operations in the same order; a fused multiply-add,
// or a sum regrouped for a wider vector, shows here.
TEST_P(EveryKernelSet, MomentsAreTheGenericOnesBitForBit) {
  const double pi = 4.0 * std::atan(1.0);
  std::vector<double> values;
  for (int i = 0; i < 200; ++i) values.push_back(3.0 + sin_pi(i / 199.0, pi));
  for (std::size_t count = 1; count <= values.size(); count += 7) {
    double mean[2], squares[2];
    generic().block_moments(values.data(), count, mean[0], squares[0]);
    set().block_moments(values.data(), count, mean[1], squares[1]);
    EXPECT_EQ(bits(mean[1]), bits(mean[0])) << count << " values";
    EXPECT_EQ(bits(squares[1]), bits(squares[0])) << count << " values";
  }
}

}  // namespace
}  // namespace polygons::sim::simtest
