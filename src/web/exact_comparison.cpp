#include "web/exact_comparison.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace polygons::web {
namespace {

// `value` with `digits` significant digits, as people write it (0.00215, 4.991).
std::string significant(double value, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

std::string standard_error_sentence(const run_results& results, double standard_error) {
  return "Standard error of the run's average: " + significant(standard_error, 3) +
         " (its standard deviation " + significant(results.stdev, 4) +
         " divided by the square root of its " + std::to_string(results.trials) + " trials).";
}

// How far chance alone plausibly takes an average, for a distance of
// `distance` standard errors (rounded as shown).
std::string chance_verdict(double distance) {
  if (distance < 2.0) return "well within what chance alone gives.";
  if (distance < 3.0) {
    return "unusual, as chance alone goes this far in fewer than 1 run in 20; another seed "
           "will tell whether it happens again.";
  }
  return "chance alone goes this far in fewer than 1 run in 300, so something other than "
         "chance is likely at work.";
}

std::string distance_sentence(double z) {
  const double shown = std::round(std::fabs(z) * 10.0) / 10.0;
  if (shown == 0.0) {
    return "The run's average is less than 0.05 standard errors from the exact mean: " +
           chance_verdict(shown);
  }
  char figure[32];
  std::snprintf(figure, sizeof figure, "%.1f", shown);
  return std::string("The run's average is ") + figure + " standard errors " +
         (z > 0 ? "above" : "below") + " the exact mean: " + chance_verdict(shown);
}

// For a run without a distance in standard errors: its standard error is 0
// (every trial gave the same perimeter, as with one corner) or a figure is
// not finite.
std::string without_spread_sentence(const run_results& results, const exact_comparison& c) {
  if (c.standard_error != 0.0) {
    return "The spread of the run could not be measured, so its average cannot be weighed "
           "against the exact mean.";
  }
  const double tolerance = 1e-12 * std::max(1.0, std::fabs(c.exact.mean));
  if (std::fabs(results.average - c.exact.mean) <= tolerance) {
    return "Every trial gives the same perimeter, so the run's average is the exact mean itself: "
           "chance plays no part here.";
  }
  return "Every trial gave the same perimeter, yet the run's average differs from the exact "
         "mean: chance cannot explain that.";
}

}  // namespace

sim::PerimeterMoments exact_answer_for(int sides, double radius) {
  try {
    return sim::exact_perimeter_moments(sides, radius);
  } catch (const std::exception&) {
    return {std::nan(""), std::nan("")};
  }
}

std::string chart_description(const run_results& results, const sim::PerimeterMoments& exact) {
  std::string text = "Histogram of the perimeter in " + std::to_string(results.classes) +
                     " classes over its range, " + significant(results.min, 6) + " to " +
                     significant(results.max, 6) +
                     ": density and cumulative fraction by class. The most frequent class (the "
                     "mode) is at " +
                     significant(results.mode_x, 6) + "; the run's mean is " +
                     significant(results.average, 6);
  if (std::isfinite(exact.mean)) {
    text += " and the exact mean, a dashed line, " + significant(exact.mean, 6);
  }
  // The chart draws the exact density only where the class probabilities are known.
  const bool density_drawn = std::any_of(results.rows.begin(), results.rows.end(), [](const auto& row) {
    return std::isfinite(row.exact_probability);
  });
  if (density_drawn) text += ". A line over the bars draws the exact density of each class";
  return text + ".";
}

exact_comparison compare_with_exact(const run_results& results,
                                    const sim::PerimeterMoments& exact) {
  const sim::AverageAgainstExact weighed =
      sim::weigh_average(results.average, results.stdev, results.trials, exact.mean);
  return {exact, weighed.standard_error, weighed.z};
}

std::string exact_sentence(const sim::PerimeterMoments& exact) {
  return "Exact mean of the perimeter: " + significant(exact.mean, 6) +
         "; exact standard deviation: " + significant(exact.stdev, 6) + ".";
}

std::vector<std::string> comparison_sentences(const run_results& results,
                                              const exact_comparison& comparison) {
  std::vector<std::string> sentences = {exact_sentence(comparison.exact)};
  if (comparison.z) {
    sentences.push_back(standard_error_sentence(results, comparison.standard_error));
    sentences.push_back(distance_sentence(*comparison.z));
  } else {
    sentences.push_back(without_spread_sentence(results, comparison));
  }
  return sentences;
}

}  // namespace polygons::web
