#include "sim/exact_moments.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "sim/engine.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim {
namespace {

struct Exact {
  std::int32_t sides;
  double radius;
  double mean;
  double stdev;
};

// From exact_moments_reference.py (mpmath, 50 digits, numerical integration
// over the gap densities), rounded to 20 digits.
const Exact kExact[] = {
    {1, 1, 0.0, 0.0},
    {2, 1, 2.5464790894703253723, 1.2310338122449694223},
    {3, 1, 3.8197186342054880585, 1.0661065543217464765},
    {4, 2.5, 11.358224907059562888, 2.140257803532192576},
    {10, -0.75, -4.3783910002520506571, 0.19284198825980289871},
    {100, 1, 6.2771713809400691387, 0.0017991050476208032045},
    {1000, 1, 6.2831234808366789854, 6.1492262843775840178e-6},
    {10000, 1, 6.2831846872401082743, 1.9593620580912939039e-8},
};

void expect_relative(double actual, double expected, double tolerance) {
  EXPECT_LE(std::abs(actual - expected), tolerance * std::abs(expected))
      << actual << " vs " << expected;
}

TEST(ExactMoments, MatchHighPrecisionValues) {
  for (const Exact& e : kExact) {
    SCOPED_TRACE(e.sides);
    const PerimeterMoments m = exact_perimeter_moments(e.sides, e.radius);
    expect_relative(m.mean, e.mean, 1e-12);
    expect_relative(m.stdev, e.stdev, 1e-9);
  }
}

TEST(ExactMoments, ClosedFormsForTwoAndThreeSides) {
  constexpr double pi = std::numbers::pi;
  const PerimeterMoments two = exact_perimeter_moments(2, 1.0);
  expect_relative(two.mean, 8.0 / pi, 1e-14);
  expect_relative(two.stdev, std::sqrt(8.0 - 64.0 / (pi * pi)), 1e-13);
  expect_relative(exact_perimeter_moments(3, 1.0).mean, 12.0 / pi, 1e-14);
}

TEST(ExactMoments, RejectsWhatItCannotCompute) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::int32_t sides;
    double radius;
  } bad[] = {{0, 1.0}, {-3, 1.0}, {kMaxExactSides + 1, 1.0}, {3, std::nan("")}, {3, inf},
             {3, -inf}};
  for (const auto& b : bad) {
    EXPECT_THROW(exact_perimeter_moments(b.sides, b.radius), std::invalid_argument)
        << b.sides << " sides, radius " << b.radius;
  }
}

TEST(ExactMoments, SimulatedAverageWithinFourStandardErrors) {
  constexpr std::int64_t kTrials = 1'000'000;
  const struct {
    std::int32_t sides;
    std::int32_t seed;
  } runs[] = {{3, 12345}, {10, 777}, {100, 31}};
  for (const auto& r : runs) {
    SeedState rng = simtest::seeded(r.seed);
    std::vector<std::int64_t> counts;
    EngineOptions options;
    options.threads = 2;
    const TrialResults simulated =
        run_trials(r.sides, 1.0, kTrials, K1ST, 10, 0.0, simtest::perimeter_max(r.sides, 1.0),
                   counts, rng, options);
    const PerimeterMoments exact = exact_perimeter_moments(r.sides, 1.0);
    const double standard_error = exact.stdev / std::sqrt(static_cast<double>(kTrials));
    EXPECT_LE(std::abs(simulated.perim_avg - exact.mean), 4.0 * standard_error) << r.sides;
    expect_relative(simulated.perim_stdev, exact.stdev, 0.01);
  }
}

}  // namespace
}  // namespace polygons::sim
