#include "sim/class_fit.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "sim/engine.hpp"
#include "sim/exact_moments.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim {
namespace {

TEST(ChiSquareFit, MergesSparseClassesAndTellsWhenNoTestIsPossible) {
  const double nan = std::nan("");
  struct Case {
    std::vector<std::int64_t> count;
    std::vector<double> probability;
    double chi_square;  // NaN: no test
    std::int32_t degrees_of_freedom;
    double p_value;
    std::int32_t merged_classes, merged_into;
    const char* why;
  };
  const Case cases[] = {
      {{50, 50}, {0.5, 0.5}, 0.0, 1, 1.0, 0, 0, "counts as expected"},
      // p-values from the closed forms for 1 and 3 degrees of freedom.
      {{30, 70}, {0.5, 0.5}, 16.0, 1, 6.334248366623977e-05, 0, 0, "chi-square 16 on 1"},
      {{0, 2, 48, 50, 0, 0}, {0.01, 0.01, 0.48, 0.48, 0.01, 0.01}, 0.0, 1, 1.0, 6, 2,
       "sparse tails join their neighbours; the last short group joins the one before"},
      {{1, 49, 50}, {0.0, 0.5, 0.5}, 0.0, 1, 1.0, 2, 1,
       "a count where nothing is expected is merged, not divided by 0"},
      {{20, 20, 20, 40}, {0.25, 0.25, 0.25, 0.25}, 12.0, 3, 0.007383160505359771, 0, 0,
       "chi-square 12 on 3"},
      {{1000}, {1.0}, nan, 0, nan, 0, 0, "a single class"},
      {{0, 1000, 0}, {0.0, 1.0, 0.0}, nan, 0, nan, 3, 1, "all the mass in one class"},
      {{500, 500}, {}, nan, 0, nan, 0, 0, "no probabilities"},
      {{500, 500}, {0.5, nan}, nan, 0, nan, 0, 0, "a probability that is not a number"},
      {{500, 500}, {1.5, -0.5}, nan, 0, nan, 0, 0, "a negative probability"},
      {{0, 50, 50}, {-2.2e-16, 0.5, 0.5}, 0.0, 1, 1.0, 2, 1, "a rounding below 0 counts as 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const GoodnessOfFit fit = chi_square_fit(c.count, c.probability);
    if (std::isnan(c.chi_square)) {
      EXPECT_TRUE(std::isnan(fit.chi_square));
      EXPECT_TRUE(std::isnan(fit.p_value));
    } else {
      EXPECT_NEAR(fit.chi_square, c.chi_square, 1e-12);
      EXPECT_NEAR(fit.p_value, c.p_value, 1e-12);
    }
    EXPECT_EQ(fit.degrees_of_freedom, c.degrees_of_freedom);
    EXPECT_EQ(fit.merged_classes, c.merged_classes);
    EXPECT_EQ(fit.merged_into, c.merged_into);
  }
}

// Two sides: the perimeter is 4 |R| sin(pi U), U uniform, so that
// P(perimeter <= x) = 2 asin(x / 4|R|) / pi, for edges at k times the
// class width from 0.
TEST(RunClassProbabilities, AreThoseOfTheClassesTheEngineCountsInto) {
  struct Case {
    std::int32_t sides;
    double radius;
    std::int32_t classes;
  };
  for (const Case& c : {Case{2, 1.0, 1}, Case{2, 1.0, 7}, Case{2, -2.5, 12}, Case{2, 3.0, 1000}}) {
    SCOPED_TRACE(testing::Message() << c.sides << " sides, radius " << c.radius << ", "
                                    << c.classes << " classes");
    const std::vector<double> p = run_class_probabilities(c.sides, c.radius, c.classes);
    ASSERT_EQ(p.size(), static_cast<std::size_t>(c.classes));
    auto cdf = [&](double k) { return 2.0 * std::asin(k / c.classes) / std::numbers::pi; };
    for (std::int32_t k = 1; k <= c.classes; ++k) {
      EXPECT_NEAR(p[k - 1], cdf(k) - cdf(k - 1), 1e-12) << "class " << k;
    }
  }
  EXPECT_EQ(run_class_probabilities(1, 2.0, 4), (std::vector<double>{1, 0, 0, 0}))
      << "one corner: every perimeter is 0, in the first class";
  EXPECT_TRUE(run_class_probabilities(kMaxExactSides + 1, 1.0, 10).empty());
  EXPECT_TRUE(run_class_probabilities(3, 0.0, 10).empty());
  EXPECT_TRUE(run_class_probabilities(3, 1.0, 0).empty());
}

// The Kolmogorov-Smirnov probability of a distance at least `d` between the
// empirical distribution of `n` values and the uniform one, by the
// asymptotic series with Stephens' correction for finite n.
double kolmogorov_smirnov_p(double d, std::size_t n) {
  const double root = std::sqrt(static_cast<double>(n));
  const double lambda = (root + 0.12 + 0.11 / root) * d;
  double sum = 0.0;
  for (int j = 1; j <= 100; ++j) {
    sum += (j % 2 == 1 ? 2.0 : -2.0) * std::exp(-2.0 * j * j * lambda * lambda);
  }
  return std::clamp(sum, 0.0, 1.0);
}

double uniform_distance(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const double n = static_cast<double>(values.size());
  double d = 0.0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    d = std::max({d, static_cast<double>(i + 1) / n - values[i], values[i] - static_cast<double>(i) / n});
  }
  return d;
}

// The p-values of runs that follow the exact distribution are uniform on
// [0, 1]; a misplaced class edge or a wrong probability makes them pile up
// near 0, which the Kolmogorov-Smirnov test sees.
TEST(ChiSquareFit, PValuesOfIndependentRunsAreUniform) {
  constexpr std::int64_t kTrials = 10000;
  constexpr int kRuns = 200;
  struct Case {
    std::int32_t sides;
    std::int32_t classes;  // enough for the narrow distributions of many sides
  };
  for (const auto [sides, classes] :
       {Case{2, 15}, Case{3, 15}, Case{5, 30}, Case{12, 200}, Case{50, 2000}, Case{100, 10000}}) {
    SCOPED_TRACE(testing::Message() << sides << " sides");
    const std::vector<double> probability = run_class_probabilities(sides, 1.0, classes);
    ASSERT_EQ(probability.size(), static_cast<std::size_t>(classes));
    std::vector<double> p_values;
    for (int run = 1; run <= kRuns; ++run) {
      TrialRun trials{sides, 1.0, kTrials, K1ST, classes, 0.0, class_range_max(sides, 1.0),
                      simtest::seeded(1000 * sides + run)};
      std::vector<std::int64_t> count;
      SeedState rng = trials.start;
      run_trials(trials, EngineOptions{}, count, rng);
      count.resize(static_cast<std::size_t>(classes));
      const GoodnessOfFit fit = chi_square_fit(count, probability);
      ASSERT_GT(fit.degrees_of_freedom, 0);
      p_values.push_back(fit.p_value);
    }
    const double d = uniform_distance(p_values);
    EXPECT_GT(kolmogorov_smirnov_p(d, p_values.size()), 0.001) << "distance " << d;
  }
}

}  // namespace
}  // namespace polygons::sim
