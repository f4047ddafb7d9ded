#pragma once
// How close a run came to the exact answer: the run's standard error of the
// mean, how many of them its average lies from the exact mean, and the same
// in sentences a student of probability reads at a glance.

#include <optional>
#include <string>
#include <vector>

#include "sim/exact_moments.hpp"
#include "web/results_file.hpp"

namespace polygons::web {

struct exact_comparison {
  sim::PerimeterMoments exact;
  double standard_error = 0.0;  // the run's deviation / sqrt(its trials)
  // (average - exact mean) / standard error; empty when the standard error
  // is 0 or either figure is not finite.
  std::optional<double> z;
};

// The exact moments of the perimeter; not finite when the sides or radius
// are beyond what they take (never for a request the fields accept).
sim::PerimeterMoments exact_answer_for(int sides, double radius);

// The chart's text alternative: what it draws, with the run's range, mode
// and mean and the exact mean.
std::string chart_description(const run_results& results, const sim::PerimeterMoments& exact);

exact_comparison compare_with_exact(const run_results& results, const sim::PerimeterMoments& exact);

// "Exact mean of the perimeter: ...; exact standard deviation: ...".
std::string exact_sentence(const sim::PerimeterMoments& exact);

// The exact figures, the run's standard error, and a verdict graded by the
// distance in standard errors: below 2 chance alone, 2 to 3 unusual, beyond 3
// hardly chance; a run whose trials all give one perimeter is said to be so.
std::vector<std::string> comparison_sentences(const run_results& results,
                                              const exact_comparison& comparison);

}  // namespace polygons::web
