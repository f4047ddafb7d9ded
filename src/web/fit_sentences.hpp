#pragma once
// The test of a run's histogram against the exact distribution of the
// perimeter, in sentences a student of probability reads at a glance.

#include <string>
#include <vector>

#include "web/results_file.hpp"

namespace polygons::web {

// The chi-square test of the results (sim/class_fit.hpp) told in words: its
// verdict graded by the p-value (from 0.05 up consistent, from 0.001 up
// unusual, below that a real difference), what a small p-value would mean,
// and the classes merged for it; or, when no test was possible, why.
std::vector<std::string> fit_sentences(const run_results& results);

}  // namespace polygons::web
