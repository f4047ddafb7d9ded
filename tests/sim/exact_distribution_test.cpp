#include "sim/exact_distribution.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace polygons::sim {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(ExactDistribution, OneSideAndRadiusZeroArePointMassesAtZero) {
  const std::vector<double> edges = {-1.0, 0.0, 1e-300, 1.0};
  for (const auto& [sides, radius] : {std::pair{1, 1.0}, {1, -2.0}, {7, 0.0}}) {
    SCOPED_TRACE(sides);
    EXPECT_EQ(exact_perimeter_cdf(sides, radius, -1e-300), 0.0);
    EXPECT_EQ(exact_perimeter_cdf(sides, radius, 0.0), 1.0);
    EXPECT_EQ(exact_class_probabilities(sides, radius, edges), (std::vector<double>{0, 1, 0}));
  }
}

// Two sides: the perimeter is 4 R sin(pi U), U uniform on [0, 1].
TEST(ExactDistribution, TwoSidesFollowTheArcsine) {
  for (double x : {0.1, 1.0, 2.0, 3.5, 3.999}) {
    const double exact = 2.0 * std::asin(x / 4.0) / kPi;
    EXPECT_NEAR(exact_perimeter_cdf(2, 1.0, x), exact, 1e-15) << x;
    EXPECT_NEAR(exact_perimeter_cdf(2, -1.0, -x), 1.0 - exact, 1e-15) << x;
  }
}

TEST(ExactDistribution, RejectsWhatItCannotCompute) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::nan("");
  EXPECT_THROW(exact_perimeter_cdf(0, 1.0, 1.0), std::invalid_argument);
  EXPECT_THROW(exact_perimeter_cdf(kMaxExactSides + 1, 1.0, 1.0), std::invalid_argument);
  EXPECT_THROW(exact_perimeter_cdf(3, inf, 1.0), std::invalid_argument);
  EXPECT_THROW(exact_perimeter_cdf(3, 1.0, nan), std::invalid_argument);
  for (const std::vector<double>& edges :
       {std::vector<double>{0.0, 1.0, 1.0}, {0.0, nan}, {2.0, 1.0}, {0.0, inf}}) {
    EXPECT_THROW(exact_class_probabilities(3, 1.0, edges), std::invalid_argument);
  }
}

}  // namespace
}  // namespace polygons::sim
