#include "sim/histogram.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "sim/trials.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim {
namespace {

using simtest::kK1st;
using simtest::perimeter_max;
using simtest::seeded;

FinishedHistogram histogram_of(std::int64_t N, double width, std::int32_t klass,
                               const std::vector<std::int64_t>& counts) {
  ClassArrays classes;
  classes.count = counts;
  return finish_histogram(std::move(classes), N, width, kK1st, klass);
}

// A value printed with nine significant digits is within half a unit of the
// ninth digit of the printed value.
void expect_nine_digits(double actual, double printed) {
  EXPECT_NEAR(actual, printed, 5e-9 * std::abs(printed)) << printed;
}

TEST(Histogram, WorkedRunGivesTheDataTable) {
  SeedState rng = seeded(1);
  std::vector<std::int64_t> counts;
  const TrialResults r =
      simulate_class(3, 1.0, 1000, kK1st, 11, 0.0, perimeter_max(3, 1.0), counts, rng);
  const FinishedHistogram h = histogram_of(1000, r.class_width, 11, counts);
  struct Row {
    double centre, density, cumul;
  };
  const Row rows[] = {
      {0.236188746E+000, 0.105847549E-001, 0.000000000E+000},
      {0.708566239E+000, 0.338712158E-001, 0.160000000E-001},
      {0.118094373E+001, 0.486898727E-001, 0.390000000E-001},
      {0.165332123E+001, 0.656254806E-001, 0.700000000E-001},
      {0.212569872E+001, 0.101613647E+000, 0.118000000E+000},
      {0.259807621E+001, 0.120666206E+000, 0.175000000E+000},
      {0.307045370E+001, 0.184174736E+000, 0.262000000E+000},
      {0.354283120E+001, 0.247683265E+000, 0.379000000E+000},
      {0.401520869E+001, 0.393752884E+000, 0.565000000E+000},
      {0.448758618E+001, 0.453027511E+000, 0.779000000E+000},
      {0.495996368E+001, 0.457261413E+000, 0.995000000E+000},
  };
  ASSERT_EQ(h.centre.size(), 11u);
  ASSERT_EQ(h.result_z.size(), 22u);
  for (std::size_t k = 0; k < 11; ++k) {
    SCOPED_TRACE(k + 1);
    expect_nine_digits(h.centre[k], rows[k].centre);
    expect_nine_digits(h.result_z[2 * k], rows[k].density);
    expect_nine_digits(h.result_z[2 * k + 1], rows[k].cumul);
  }
  EXPECT_EQ(h.cumul[0], 0.0);
  EXPECT_DOUBLE_EQ(h.cumul[10], 0.995);
  EXPECT_NEAR(h.mode.x, 4.959963676, 5e-10);
  EXPECT_NEAR(h.mode.y, 0.4572614132, 5e-11);
}

TEST(Histogram, DensitiesIntegrateToOneAndCumulativeRises) {
  const std::vector<std::int64_t> counts = {4, 0, 10, 3, 3, 99};
  const double width = 0.75;
  const FinishedHistogram h = histogram_of(20, width, 5, counts);
  double area = 0.0;
  for (double d : h.density) area += d * width;
  EXPECT_NEAR(area, 1.0, 1e-15);
  for (std::size_t k = 1; k < h.cumul.size(); ++k) EXPECT_GE(h.cumul[k], h.cumul[k - 1]);
  EXPECT_EQ(h.cumul.front(), 0.0);
  EXPECT_DOUBLE_EQ(h.cumul.back(), 1.0 - 4.0 / 20.0);  // the first count is never added
}

TEST(Histogram, OneClass) {
  const double pmax = perimeter_max(3, 1.0);
  const FinishedHistogram h = histogram_of(1000, pmax, 1, {1000, 0});
  EXPECT_DOUBLE_EQ(h.density[0], 1.0 / pmax);
  EXPECT_EQ(h.cumul[0], 0.0);
  EXPECT_EQ(h.centre[0], pmax / 2.0);
  EXPECT_EQ(h.mode.x, pmax / 2.0);
  EXPECT_EQ(h.mode.y, h.density[0]);
}

TEST(Histogram, CentresAreClassMidpoints) {
  const double width = 5.196152422706632 / 7.0;
  const FinishedHistogram h = histogram_of(10, width, 7, std::vector<std::int64_t>(8, 1));
  EXPECT_EQ(h.centre.front(), width / 2.0);
  EXPECT_NEAR(h.centre.back(), 5.196152422706632 - width / 2.0, 1e-15);
  for (std::size_t k = 0; k < 7; ++k) {
    EXPECT_EQ(h.centre[k], (static_cast<double>(k + 1) - 0.5) * width);
  }
}

TEST(Mode, TieGoesToTheLowerClass) {
  // Equal largest counts in classes 3 and 7.
  const std::vector<std::int64_t> counts = {1, 2, 9, 4, 0, 3, 9, 2, 0};
  const FinishedHistogram h = histogram_of(30, 0.5, 8, counts);
  EXPECT_EQ(h.mode.x, h.centre[2]);
  EXPECT_EQ(h.mode.y, 9.0 / (30.0 * 0.5));
}

TEST(Mode, NegativeWidthStillPicksTheMostPopulatedClass) {
  // All densities are negative; the largest of them belongs to the emptiest
  // class, which is no mode. The class holding the most trials is.
  const std::vector<std::int64_t> counts = {5, 1, 8, 1, 0};
  const FinishedHistogram h = histogram_of(15, -0.5, 4, counts);
  EXPECT_LT(h.centre[0], 0.0);
  EXPECT_EQ(h.mode.x, h.centre[2]);
  EXPECT_EQ(h.mode.y, 8.0 / (15.0 * -0.5));
}

TEST(Mode, NegativeRadiusMirrorsThePositiveMode) {
  const std::vector<std::int64_t> counts = {2, 7, 3, 7, 0};
  const FinishedHistogram positive = histogram_of(19, 0.5, 4, counts);
  const FinishedHistogram negative = histogram_of(19, -0.5, 4, counts);
  EXPECT_EQ(negative.mode.x, -positive.mode.x);
  EXPECT_EQ(negative.mode.y, -positive.mode.y);
}

TEST(Histogram, CountsBeyond32BitsKeepTheirValue) {
  const std::int64_t big = 3'000'000'000ll;
  const FinishedHistogram h = histogram_of(big + 2, 1.0, 2, {2, big, 0});
  EXPECT_DOUBLE_EQ(h.density[1], static_cast<double>(big) / static_cast<double>(big + 2));
  EXPECT_EQ(h.mode.x, 1.5);
}

}  // namespace
}  // namespace polygons::sim

namespace polygons::sim {
namespace {

TEST(ClassArrays, SizedByTheClassCount) {
  const ClassArrays a = allocate_class_arrays(K1ST, 11);
  EXPECT_EQ(a.count.size(), 12u);
  EXPECT_EQ(a.density.size(), 11u);
  EXPECT_EQ(a.cumul.size(), 11u);
  EXPECT_EQ(a.centre.size(), 11u);
  EXPECT_EQ(a.result_z.size(), 22u);
}

// A run allocates its class arrays before the trials so that it cannot run
// out of memory after them: finishing the histogram must fill those arrays.
TEST(ClassArrays, FinishingFillsTheArraysAllocatedBeforeTheTrials) {
  ClassArrays a = allocate_class_arrays(K1ST, 11);
  a.count[4] = 10;
  const double* density = a.density.data();
  const double* cumul = a.cumul.data();
  const double* centre = a.centre.data();
  const double* z = a.result_z.data();
  const FinishedHistogram h = finish_histogram(std::move(a), 10, 0.5, K1ST, 11);
  EXPECT_EQ(h.density.data(), density);
  EXPECT_EQ(h.cumul.data(), cumul);
  EXPECT_EQ(h.centre.data(), centre);
  EXPECT_EQ(h.result_z.data(), z);
  EXPECT_EQ(h.mode.x, h.centre[4]);
}

}  // namespace
}  // namespace polygons::sim

namespace polygons::sim {
namespace {

TEST(ClassArrays, MoreThanTheMachineHoldsIsRefusedUpFront) {
  // 2^31 - 1 classes need about 100 GB.
  EXPECT_THROW(allocate_class_arrays(K1ST, 2147483647), std::bad_alloc);
}

}  // namespace
}  // namespace polygons::sim
