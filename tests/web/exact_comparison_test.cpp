#include "web/exact_comparison.hpp"
#include "web/fit_sentences.hpp"

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

// The test of the histogram, graded by its p-value, or why there is none.
TEST(FitSentences, GradeThePValueOrSayWhyThereIsNoTest) {
  const std::string meaning =
      "The p-value is the chance that a run whose trials truly follow the exact distribution "
      "gives a chi-square at least this large. Such runs give every p between 0 and 1 equally "
      "often, so one p of 0.03 is no cause for alarm; a very small p (below 0.001), above all "
      "one that stays small with other seeds, means that the histogram is not what the exact "
      "distribution predicts: a faulty random generator, a misplaced class edge or a biased "
      "computation would show that way.";
  const std::string none = "No test of the histogram against the exact distribution is possible: ";
  struct fit_case {
    sim::GoodnessOfFit fit;
    std::int32_t sides, classes;
    double probability;  // of every class
    std::vector<std::string> sentences;
  };
  const double nan = std::nan("");
  const fit_case cases[] = {
      {{18.23, 20, 0.5724, 0, 0}, 3, 21, 0.05,
       {"The histogram is consistent with the exact distribution: chi-square 18.2 on 20 degrees "
        "of freedom, p = 0.57.", meaning}},
      {{6.1, 1, 0.0138, 37, 6}, 3, 40, 0.025,
       {"The histogram departs somewhat from the exact distribution: chi-square 6.1 on 1 degree "
        "of freedom, p = 0.014. Chance alone does this in fewer than 1 run in 20; another seed "
        "will tell whether it happens again.", meaning,
        "Classes expecting fewer than 5 trials were merged with their neighbours for the test: "
        "37 classes into 6."}},
      {{95.0, 10, 5.3e-16, 0, 0}, 3, 11, 0.09,
       {"The histogram does not match the exact distribution: chi-square 95.0 on 10 degrees of "
        "freedom, p = 5.3e-16. Chance alone does this in fewer than 1 run in 1000, so something "
        "other than chance is likely at work.", meaning}},
      {{nan, 0, nan, 0, 0}, 3, 1, 1.0, {none + "the histogram has a single class."}},
      {{nan, 0, nan, 0, 0}, 10001, 5, nan,
       {none + "the exact distribution is computed for at most 10000 sides."}},
      {{nan, 0, nan, 0, 0}, 7, 5, nan,
       {none + "the run's results hold no exact probabilities of its classes."}},
      {{nan, 0, nan, 5, 1}, 1, 5, 0.2,
       {none + "with one corner every perimeter is 0, so every trial falls in the first class."}},
      {{nan, 0, nan, 20, 1}, 1000, 20, 0.05,
       {none + "the exact distribution expects all the trials in one class, or in one group of "
               "classes once those expecting fewer than 5 trials are merged."}},
  };
  for (const fit_case& c : cases) {
    run_results run = run_of(5.0, 1.0, 10000);
    run.fit = c.fit;
    run.sides = c.sides;
    run.classes = c.classes;
    run.rows.assign(static_cast<std::size_t>(c.classes), {});
    for (result_class& row : run.rows) row.exact_probability = c.probability;
    EXPECT_EQ(fit_sentences(run), c.sentences) << c.sides << " sides, " << c.classes;
  }
}

}  // namespace
}  // namespace polygons::web
