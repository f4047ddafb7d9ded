#include "sim/exact_distribution.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "sim/engine.hpp"
#include "sim/few_sides_law.hpp"
#include "sim_test_support.hpp"

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

// P(S <= s), S the perimeter on a circle of radius 1/2, from
// exact_distribution_reference.py (mpmath, 30 digits, integrals over the
// arcs split at their singular points): a check of the integral of 3 sides
// and of the table of 4 sides, made arc by arc, by computations of their own.
TEST(ExactDistribution, MatchesHighPrecisionReferences) {
  const struct {
    std::int32_t sides;
    double s, p;
  } rows[] = {
      {4, 0.5, 0.0020577094776215758007},
      {4, 1.0, 0.017582623755085667517},
      {4, 1.5, 0.067384209102037151832},
      {4, 1.9, 0.16379024731014069088},
      {4, 2.0, 0.20420668804634324199},
      {4, 2.1, 0.25789851847155532464},
      {4, 2.4, 0.51479768011793661100},
      {4, 2.55, 0.70371882431631162461},
      {4, 2.598, 0.77432635395369963764},
      {4, 2.65, 0.84829165186822390379},
      {4, 2.75, 0.95687045221620377561},
      {4, 2.8, 0.99069886165087951720},
      {4, 2.82, 0.99850569298222694168},
      {3, 0.3, 0.0068780028658500905150},
      {3, 1.0, 0.081287832447960992162},
      {3, 1.99, 0.44692168924752653059},
      {3, 2.0, 0.45590884066929891751},
      {3, 2.3, 0.73846655574762280054},
      {3, 2.59, 0.99313877099396264875},
      {2, 0.1, 0.031844266473320688745},
      {2, 1.999, 0.97986747624362212670},
  };
  for (const auto& [sides, s, p] : rows) {
    EXPECT_NEAR(exact_perimeter_cdf(sides, 0.5, s), p, 1e-13) << sides << " sides at " << s;
  }
}

// Fine classes over the mass of the perimeter (from 1000 standard deviations
// below the mean, or 0: one long arc makes a long lower tail, to 40 above)
// hold all of it and give back the exact
// mean and variance, up to the classing error.
TEST(ExactDistribution, FineClassesHoldTheExactMoments) {
  constexpr int kClasses = 20000;
  std::vector<std::int32_t> all_sides = {3, 30, 100, 1000, 10000};
  for (std::int32_t sides = kFirstTableSides; sides <= kLastTableSides; ++sides) {
    all_sides.push_back(sides);  // each of the table's
  }
  for (std::int32_t sides : all_sides) {
    SCOPED_TRACE(sides);
    const PerimeterMoments exact = exact_perimeter_moments(sides, 1.0);
    const double low = std::max(0.0, exact.mean - 1000.0 * exact.stdev);
    const double top = simtest::perimeter_max(sides, 1.0);
    const double high = std::min(top, exact.mean + 40.0 * exact.stdev);
    std::vector<double> edges(kClasses + 1);
    for (int i = 0; i <= kClasses; ++i) edges[i] = low + (high - low) * i / kClasses;
    edges.back() = std::nextafter(high, 2.0 * high);
    const std::vector<double> p = exact_class_probabilities(sides, 1.0, edges);
    double total = 0.0, mean = 0.0, square = 0.0;
    for (int i = 0; i < kClasses; ++i) {
      const double centre = (0.5 * (edges[i] + edges[i + 1]) - exact.mean) / exact.stdev;
      total += p[i];
      mean += p[i] * centre;
      square += p[i] * centre * centre;
    }
    const double width = (high - low) / kClasses / exact.stdev;  // in standard deviations
    EXPECT_NEAR(total, 1.0, 1e-10);
    EXPECT_NEAR(mean, 0.0, 1e-7);
    EXPECT_NEAR(square - width * width / 12.0, 1.0, 1e-5);  // Sheppard's correction
  }
}

// The engine's class counts of a million trials lie within their noise of
// the exact probabilities: every class within 5 standard errors.
TEST(ExactDistribution, AgreesWithTheEngine) {
  constexpr std::int64_t kTrials = 1'000'000;
  constexpr std::int32_t kClasses = 40;
  const struct {
    std::int32_t sides;
    std::int32_t seed;
  } runs[] = {{3, 5}, {4, 7}, {9, 13}, {30, 11}, {100, 17}, {1000, 23}};
  for (const auto& [sides, seed] : runs) {
    SCOPED_TRACE(sides);
    SeedState rng = simtest::seeded(seed);
    std::vector<std::int64_t> counts;
    EngineOptions options;
    options.threads = 2;
    const double top = simtest::perimeter_max(sides, 1.0);
    const TrialResults run =
        run_trials(sides, 1.0, kTrials, K1ST, kClasses, 0.0, top, counts, rng, options);
    std::vector<double> edges(kClasses + 1);
    for (int i = 0; i <= kClasses; ++i) edges[i] = i * run.class_width;
    edges.back() = std::nextafter(top, 2.0 * top);  // the last class takes the top
    const std::vector<double> p = exact_class_probabilities(sides, 1.0, edges);
    for (int i = 0; i < kClasses; ++i) {
      const double expected = p[i] * kTrials;
      EXPECT_LE(std::abs(counts[i] - expected), 5.0 * std::sqrt(expected) + 1.0)
          << "class " << i;
    }
  }
}

// Radii so large that 2 R, or 2 pi R, is beyond a double give the law of
// radius 1, scaled.
TEST(ExactDistribution, HugeRadiiScaleLikeSmallOnes) {
  const struct {
    std::int32_t sides;
    double radius, x;  // x the perimeter at radius 1
  } rows[] = {{3, 1e308, 1.5}, {3, 1e308, 1.75}, {5, 2.87e307, 5.5}, {29, 2.87e307, 6.2},
              {30, 2.87e307, 6.25}};
  for (const auto& [sides, radius, x] : rows) {
    const double p = exact_perimeter_cdf(sides, 1.0, x);
    EXPECT_NEAR(exact_perimeter_cdf(sides, radius, x * radius), p, 1e-14) << sides << ", " << x;
    EXPECT_NEAR(exact_perimeter_cdf(sides, -radius, -x * radius), 1.0 - p, 1e-14) << sides;
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
