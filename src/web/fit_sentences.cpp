#include "web/fit_sentences.hpp"

#include <cmath>
#include <cstdio>

#include "sim/class_fit.hpp"
#include "sim/exact_moments.hpp"

namespace polygons::web {
namespace {

std::string figures(const sim::GoodnessOfFit& fit) {
  char text[128];
  std::snprintf(text, sizeof text, "chi-square %.1f on %d degree%s of freedom, p = %.2g",
                fit.chi_square, fit.degrees_of_freedom, fit.degrees_of_freedom == 1 ? "" : "s",
                fit.p_value);
  return text;
}

std::string verdict(const sim::GoodnessOfFit& fit) {
  if (fit.p_value >= 0.05) {
    return "The histogram is consistent with the exact distribution: " + figures(fit) + ".";
  }
  if (fit.p_value >= 0.001) {
    return "The histogram departs somewhat from the exact distribution: " + figures(fit) +
           ". Chance alone does this in fewer than 1 run in 20; another seed will tell "
           "whether it happens again.";
  }
  return "The histogram does not match the exact distribution: " + figures(fit) +
         ". Chance alone does this in fewer than 1 run in 1000, so something other than chance "
         "is likely at work.";
}

const char kMeaning[] =
    "The p-value is the chance that a run whose trials truly follow the exact distribution "
    "gives a chi-square at least this large. Such runs give every p between 0 and 1 equally "
    "often, so one p of 0.03 is no cause for alarm; a very small p (below 0.001), above all "
    "one that stays small with other seeds, means that the histogram is not what the exact "
    "distribution predicts: a faulty random generator, a misplaced class edge or a biased "
    "computation would show that way.";

std::string merged_sentence(const sim::GoodnessOfFit& fit) {
  return "Classes expecting fewer than " + std::to_string(static_cast<int>(sim::kMinExpectedCount)) +
         " trials were merged with their neighbours for the test: " +
         std::to_string(fit.merged_classes) + " classes into " + std::to_string(fit.merged_into) +
         ".";
}

std::string untested_sentence(const run_results& results) {
  const std::string none = "No test of the histogram against the exact distribution is possible: ";
  if (results.classes == 1) return none + "the histogram has a single class.";
  if (results.sides > sim::kMaxExactSides) {
    return none + "the exact distribution is computed for at most " +
           std::to_string(sim::kMaxExactSides) + " sides.";
  }
  if (results.rows.empty() || std::isnan(results.rows.front().exact_probability)) {
    return none + "the run's results hold no exact probabilities of its classes.";
  }
  if (results.sides == 1) {
    return none + "with one corner every perimeter is 0, so every trial falls in the first class.";
  }
  return none + "the exact distribution expects all the trials in one class, or in one group of "
                "classes once those expecting fewer than " +
         std::to_string(static_cast<int>(sim::kMinExpectedCount)) + " trials are merged.";
}

}  // namespace

std::vector<std::string> fit_sentences(const run_results& results) {
  const sim::GoodnessOfFit& fit = results.fit;
  if (fit.degrees_of_freedom < 1 || !std::isfinite(fit.p_value)) return {untested_sentence(results)};
  std::vector<std::string> sentences = {verdict(fit), kMeaning};
  if (fit.merged_classes > 0) sentences.push_back(merged_sentence(fit));
  return sentences;
}

}  // namespace polygons::web
