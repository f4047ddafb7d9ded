#include "web/exact_comparison.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace polygons::web {
namespace {

run_results run_of(double average, double stdev, std::int64_t trials) {
  run_results r;
  r.average = average;
  r.stdev = stdev;
  r.trials = trials;
  return r;
}

// Standard errors of 0.01 (deviation 1, 10000 trials) around an exact mean of 5.
TEST(ExactComparison, GradesTheDistanceInStandardErrorsInWords) {
  struct verdict_case {
    double average;
    const char* sentence;
  };
  const verdict_case cases[] = {
      {4.996, "The run's average is 0.4 standard errors below the exact mean: well within what "
              "chance alone gives."},
      {5.0004, "The run's average is less than 0.05 standard errors from the exact mean: well "
               "within what chance alone gives."},
      {5.0196, "The run's average is 2.0 standard errors above the exact mean: unusual, as chance "
               "alone goes this far in fewer than 1 run in 20; another seed will tell whether it "
               "happens again."},
      {4.9806, "The run's average is 1.9 standard errors below the exact mean: well within what "
               "chance alone gives."},
      {5.035, "The run's average is 3.5 standard errors above the exact mean: chance alone goes "
              "this far in fewer than 1 run in 300, so something other than chance is likely at "
              "work."},
  };
  for (const verdict_case& c : cases) {
    run_results run = run_of(c.average, 1.0, 10000);
    exact_comparison comparison = compare_with_exact(run, {5.0, 1.0});
    EXPECT_DOUBLE_EQ(comparison.standard_error, 0.01);
    ASSERT_TRUE(comparison.z.has_value());
    EXPECT_NEAR(*comparison.z, (c.average - 5.0) / 0.01, 1e-9);
    std::vector<std::string> sentences = comparison_sentences(run, comparison);
    ASSERT_EQ(sentences.size(), 3u);
    EXPECT_EQ(sentences[0], "Exact mean of the perimeter: 5; exact standard deviation: 1.");
    EXPECT_EQ(sentences[1], "Standard error of the run's average: 0.01 (its standard deviation 1 "
                            "divided by the square root of its 10000 trials).");
    EXPECT_EQ(sentences[2], c.sentence) << c.average;
  }
}

// One corner: every perimeter is 0, and so are both deviations.
TEST(ExactComparison, SaysSoWhenEveryTrialGivesTheSamePerimeter) {
  run_results run = run_of(0.0, 0.0, 1000);
  exact_comparison comparison = compare_with_exact(run, {0.0, 0.0});
  EXPECT_FALSE(comparison.z.has_value());
  EXPECT_EQ(comparison_sentences(run, comparison),
            (std::vector<std::string>{
                "Exact mean of the perimeter: 0; exact standard deviation: 0.",
                "Every trial gives the same perimeter, so the run's average is the exact mean "
                "itself: chance plays no part here."}));
  run.stdev = std::nan("");
  EXPECT_FALSE(compare_with_exact(run, {0.0, 0.0}).z.has_value());
}

}  // namespace
}  // namespace polygons::web
