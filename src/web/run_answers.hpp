#pragma once
// The API's answers with a finished run's figures, for scripts: JSON with the
// parameters as used, the figures of the report, every class, the exact
// answer beside them and the report itself; CSV with the classes only.

#include <string>
#include <string_view>

#include "web/exact_comparison.hpp"
#include "web/results_file.hpp"

namespace polygons::web {

// One JSON object: parameters {sides, radius, trials, seed, classes, show},
// trials, average, stdev, standard_error, mode {x, y}, range {min, max},
// classes [{centre, count, density, cumulative, exact_probability}], theory
// {mean, stdev}, z (null when undefined), fit {chi_square, degrees_of_freedom,
// p_value, merged_classes, merged_into} (chi_square and p_value null when no
// test was possible), chart (`chart_url`, or null when empty) and report.
std::string json_answer(const run_results& results, const exact_comparison& comparison,
                        std::string_view chart_url, std::string_view report);

// A header "centre,count,density,cumulative,exact_probability", then one
// row for each class.
std::string csv_answer(const run_results& results);

}  // namespace polygons::web
