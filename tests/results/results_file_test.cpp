#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "results/read.hpp"
#include "results/write.hpp"
#include "support/files.hpp"

namespace polygons::results {
namespace {

constexpr ReadLimits kLimits{.max_sides = 3, .max_classes = 2};

const std::string kHead =
    "polygons-results\t2\nsides\t3\nradius\t1\ntrials\t1000\nseed\t-7\nclasses\t2\nshow\t1\n"
    "width\t2.598076211353316\nmin\t0\nmax\t5.196152422706632\naverage\t4.1\nstdev\t0.5\n"
    "mode_x\t3.897114317029974\nmode_y\tnan\nchi_square\t0.75\ndegrees_of_freedom\t1\n"
    "p_value\t0.38647623077123266\nmerged_classes\t0\nmerged_into\t0\n"
    "centre\tcount\tdensity\tcumulative\texact_probability\n";
const std::string kRows =
    "1.299038105676658\t250\t0.1\t0.25\t0.26\n3.897114317029974\t750\t0.3\t1\t0.74\n";

TEST(ResultsFile, ReadsEveryFigureAndClassExactly) {
  RunResults r;
  std::string error;
  ASSERT_TRUE(parse_results(kHead + kRows, kLimits, r, error)) << error;
  EXPECT_EQ(r.sides, 3);
  EXPECT_EQ(r.radius, 1.0);
  EXPECT_EQ(r.trials, 1000);
  EXPECT_EQ(r.seed, -7);
  EXPECT_EQ(r.classes, 2);
  EXPECT_EQ(r.show, 1);
  EXPECT_EQ(r.width, 2.598076211353316);
  EXPECT_EQ(r.max, 5.196152422706632);
  EXPECT_EQ(r.average, 4.1);
  EXPECT_EQ(r.stdev, 0.5);
  EXPECT_TRUE(std::isnan(r.mode_y));
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[1].centre, 3.897114317029974);
  EXPECT_EQ(r.rows[1].count, 750);
  EXPECT_EQ(r.rows[1].density, 0.3);
  EXPECT_EQ(r.rows[1].cumulative, 1.0);
  EXPECT_EQ(r.rows[1].exact_probability, 0.74);
  EXPECT_EQ(r.fit.chi_square, 0.75);
  EXPECT_EQ(r.fit.degrees_of_freedom, 1);
  EXPECT_EQ(r.fit.p_value, 0.38647623077123266);
}

// The program's own writer and the service's parser, joined: every value
// comes back as the same number, awkward doubles included.
TEST(ResultsFile, ReadsBackWhatTheProgramWrites) {
  const double third = 1.0 / 3.0;
  ResultValues values;
  static_cast<ResultFigures&>(values) = {third, 0.0, -17.5, 5e-324, 1e300, -0.0,
                                         std::numeric_limits<double>::quiet_NaN()};
  values.sides = 7;
  values.radius = -2.5;
  values.trials = 123456;
  values.seed = -3;
  values.classes = 3;
  values.show = 1;
  values.fit = {1e-310, 2, third, 3, 1};
  const std::vector<double> centre{0.1, 0.2, 0.30000000000000004};
  const std::vector<std::int64_t> count{100000, 23456, 0};
  const std::vector<double> result_z{third, 0.0, 2.0 / 3.0, third,
                                     -std::numeric_limits<double>::infinity(), 1.0};
  testing::scratch_dir dir("results-file");
  const std::string workdir = dir.path().string() + "/";
  const std::vector<double> exact{third, 0.0, 2.0 / 3.0};
  write_results_file(workdir, values, centre, count, result_z, exact);

  RunResults r;
  std::string error;
  const ReadLimits limits{.max_sides = 7, .max_classes = 3};
  ASSERT_TRUE(parse_results(testing::read_file(dir.path() / kResultsName), limits, r, error))
      << error;
  EXPECT_EQ(r.sides, 7);
  EXPECT_EQ(r.radius, -2.5);
  EXPECT_EQ(r.trials, 123456);
  EXPECT_EQ(r.seed, -3);
  EXPECT_EQ(r.classes, 3);
  EXPECT_EQ(r.show, 1);
  EXPECT_EQ(r.width, third);
  EXPECT_EQ(r.min, 0.0);
  EXPECT_EQ(r.max, -17.5);
  EXPECT_EQ(r.average, 5e-324);
  EXPECT_EQ(r.stdev, 1e300);
  EXPECT_TRUE(r.mode_x == 0.0 && std::signbit(r.mode_x));
  EXPECT_TRUE(std::isnan(r.mode_y));
  ASSERT_EQ(r.rows.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(r.rows[k].centre, centre[k]) << k;
    EXPECT_EQ(r.rows[k].count, count[k]) << k;
    EXPECT_EQ(r.rows[k].density, result_z[2 * k]) << k;
    EXPECT_EQ(r.rows[k].cumulative, result_z[2 * k + 1]) << k;
    EXPECT_EQ(r.rows[k].exact_probability, exact[k]) << k;
  }
  EXPECT_EQ(r.fit.chi_square, 1e-310);
  EXPECT_EQ(r.fit.degrees_of_freedom, 2);
  EXPECT_EQ(r.fit.p_value, third);
  EXPECT_EQ(r.fit.merged_classes, 3);
  EXPECT_EQ(r.fit.merged_into, 1);

  // Without exact probabilities every class has NaN.
  write_results_file(workdir, values, centre, count, result_z, {});
  ASSERT_TRUE(parse_results(testing::read_file(dir.path() / kResultsName), limits, r, error))
      << error;
  EXPECT_TRUE(std::isnan(r.rows[2].exact_probability));
}

// Each case differs from a valid file in one way.
TEST(ResultsFile, RefusesAnythingButACompleteWellFormedFile) {
  auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
  };
  const std::string valid = kHead + kRows;
  const std::pair<std::string, const char*> cases[] = {
      {"", "empty"},
      {replaced(valid, "results\t2", "results\t1"), "another version"},
      {replaced(valid, "\t0.74\n", "\n"), "a class without its exact probability"},
      {replaced(valid, "p_value\t", "p\t"), "another name of the test"},
      {valid.substr(0, valid.size() - 1), "last line without its newline"},
      {kHead + kRows.substr(0, kRows.find('\n') + 1), "a class missing"},
      {valid + "\n", "a line after the last class"},
      {replaced(valid, "seed\t-7", "iseed\t-7"), "another name"},
      {replaced(valid, "stdev\t0.5", "stdev\t 0.5"), "a blank before a value"},
      {replaced(valid, "stdev\t0.5", "stdev\t0.5\tx"), "a third field"},
      {replaced(valid, "average\t4.1", "average\t4,1"), "decimal comma"},
      {replaced(valid, "average\t4.1", "average\t+4.1"), "plus sign"},
      {replaced(valid, "trials\t1000", "trials\t1e3"), "a real for an integer"},
      {replaced(valid, "sides\t3", "sides\t99999999999"), "sides beyond 32 bits"},
      {replaced(valid, "sides\t3", "sides\t0"), "no sides"},
      {replaced(valid, "sides\t3", "sides\t4"), "more sides than the reader takes"},
      {replaced(valid, "classes\t2", "classes\t3") + "6\t0\t0\t1\n", "more classes than the reader takes"},
      {replaced(valid, "\t250\t", "\t-250\t"), "a negative count"},
      {replaced(valid, "\t750\t", "\t751\t"), "counts that do not sum to the trials"},
      {replaced(valid, "\t750\t", "\t9223372036854775807\t"), "counts that overflow"},
      {replaced(valid, "\n", "\r\n"), "carriage return"},
  };
  for (const auto& [text, why] : cases) {
    RunResults r;
    std::string error;
    EXPECT_FALSE(parse_results(text, kLimits, r, error)) << why;
    EXPECT_FALSE(error.empty()) << why;
  }
}

}  // namespace
}  // namespace polygons::results
