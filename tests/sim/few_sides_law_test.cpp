#include "sim/few_sides_law.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "sim/sine_deficit_law.hpp"
#include "sim/split_arc_law.hpp"
#include "sim/three_sides_law.hpp"

namespace polygons::sim {
namespace {

constexpr double kPi = std::numbers::pi;

// The arc-by-arc recursion against the three-sided integral, a method of
// its own: G_3(t, .) of the first table at t = 1.
TEST(SplitArcLaw, ThreeArcsMatchTheThreeSidedIntegral) {
  const ArcLevel three = next_arc_level(ArcLevel{}, 2);
  for (double s : {0.3, 1.0, 1.99, 2.0, 2.01, 2.3, 2.55, 2.59}) {
    EXPECT_NEAR(arc_level_cdf(three, 1.0, kPi - s), 1.0 - three_sides_cdf(s), 1e-12) << s;
  }
  EXPECT_EQ(arc_level_cdf(three, 0.5, 0.0), 0.0);
  EXPECT_EQ(arc_level_cdf(three, 0.5, sine_deficit(0.5)), 1.0);  // all of t in one arc
}

// The shipped table is what the recursion makes: its first sides made again.
TEST(FewSidesLaw, TableIsTheRecursionsOwn) {
  ArcLevel level;
  for (std::int32_t sides = kFirstTableSides; sides <= kFirstTableSides + 2; ++sides) {
    SCOPED_TRACE(sides);
    level = next_arc_level(level, 2);
    const std::vector<std::vector<double>> made = whole_circle_strips(level, 2);
    for (std::int32_t strip = 1; strip < sides; ++strip) {
      const std::vector<double> kept = without_negligible_terms(made[strip - 1]);
      const auto shipped = std::find_if(few_sides_strips().begin(), few_sides_strips().end(),
                                        [&](const StripSeries& s) {
                                          return s.sides == sides && s.strip == strip;
                                        });
      ASSERT_NE(shipped, few_sides_strips().end()) << "strip " << strip;
      const std::span<const double> c =
          few_sides_coefficients().subspan(shipped->first, shipped->count);
      for (std::size_t i = 0; i < std::max(kept.size(), c.size()); ++i) {
        EXPECT_NEAR(i < c.size() ? c[i] : 0.0, i < kept.size() ? kept[i] : 0.0, 1e-14)
            << "strip " << strip << ", term " << i;
      }
    }
  }
}

// The table's last number of sides against the Fourier series, which is
// computed another way entirely, over the whole range of W.
TEST(FewSidesLaw, LastTableSidesMatchTheFourierSeries) {
  const DeficitSeries series = deficit_series(kLastTableSides);
  double worst = 0.0;
  for (int i = 0; i <= 500; ++i) {
    const double w = series.low + series.width * i / 500.0;
    worst = std::max(worst, std::abs(few_sides_deficit_cdf(kLastTableSides, w) - deficit_cdf(series, w)));
  }
  EXPECT_LT(worst, 1e-11);
}

// Each number of sides runs from 0 at the least deficit to 1 at pi, with no
// step where one strip's series meets the next: a wrong or misplaced strip
// anywhere in the table shows there.
TEST(FewSidesLaw, IsContinuousFromItsLeastDeficitToPi) {
  for (std::int32_t sides = kFirstTableSides; sides <= kLastTableSides; ++sides) {
    SCOPED_TRACE(sides);
    const double low = equal_arcs_deficit(sides, 1.0);
    EXPECT_EQ(few_sides_deficit_cdf(sides, low), 0.0);
    EXPECT_EQ(few_sides_deficit_cdf(sides, kPi), 1.0);
    EXPECT_GT(few_sides_deficit_cdf(sides, low * 1.5), 0.0);
    for (std::int32_t strip = 1; strip < sides; ++strip) {
      const double edge = equal_arcs_deficit(strip + 1, 1.0);
      const double below = few_sides_deficit_cdf(sides, std::nextafter(edge, 0.0));
      EXPECT_NEAR(few_sides_deficit_cdf(sides, edge), below, 1e-12) << "edge " << strip + 1;
    }
  }
  EXPECT_THROW(few_sides_deficit_cdf(kFirstTableSides - 1, 1.0), std::invalid_argument);
  EXPECT_THROW(few_sides_deficit_cdf(kLastTableSides + 1, 1.0), std::invalid_argument);
  EXPECT_THROW(few_sides_deficit_cdf(kFirstTableSides, std::nan("")), std::invalid_argument);
}

// The series' terms are computed over threads, and taken in order: the same
// series on any number of them.
TEST(FewSidesLaw, FourierSeriesIsTheSameOnAnyNumberOfThreads) {
  const DeficitSeries one = deficit_series(100, 1), three = deficit_series(100, 3);
  EXPECT_EQ(one.d, three.d);
  EXPECT_EQ(one.constant, three.constant);
}

}  // namespace
}  // namespace polygons::sim
