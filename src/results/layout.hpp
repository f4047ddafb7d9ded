#pragma once
// The results file: the figures of a run as tab-separated text for programs
// (the web service, scripts), which the program writes beside the chart when
// its environment asks for it. Its names and layout are defined here once,
// for the writer (results/write.hpp) and the reader (results/read.hpp).
// Line by line:
//   the version line "polygons-results<TAB>2";
//   one "name<TAB>value" line for each named value, in the order of
//   for_each_named_value;
//   the class header, the class columns' names joined by tabs;
//   one line for each class, its columns in the order of for_each_column.
// Reals are the shortest text that reads back to the same double (nan, inf
// and -inf when not finite); integers are decimal. Layout 2 added the exact
// probability of each class and the chi-square test of the counts against
// them.

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/class_fit.hpp"

namespace polygons::results {

// The environment variable that asks the program for the file, and the
// file's name in the run's working directory.
inline constexpr char kResultsVariable[] = "POLYGONS_RESULTS";
inline constexpr std::string_view kResultsName = "results.tsv";

inline constexpr std::string_view kResultsVersionLine = "polygons-results\t2";

// Whether the value of POLYGONS_RESULTS (nullptr when unset) asks for the file: "1".
inline bool results_file_requested(const char* value) {
  return value != nullptr && std::string_view(value) == "1";
}

// The figures of a finished run besides its parameters.
struct ResultFigures {
  double width = 0.0;  // of a class
  double min = 0.0;    // the class range
  double max = 0.0;
  double average = 0.0;
  double stdev = 0.0;
  double mode_x = 0.0;
  double mode_y = 0.0;
};

// The named values of the file: the parameters as used, the figures, and
// the test of the counts against the exact distribution (NaN and 0 when
// none was possible).
struct ResultValues : ResultFigures {
  std::int32_t sides = 0;
  double radius = 0.0;
  std::int64_t trials = 0;  // after the limits
  std::int32_t seed = 0;    // as reported
  std::int32_t classes = 0;
  std::int32_t show = 0;
  sim::GoodnessOfFit fit;
};

// One class of the histogram.
struct ResultClass {
  double centre = 0.0;
  std::int64_t count = 0;
  double density = 0.0;
  double cumulative = 0.0;
  double exact_probability = 0.0;  // NaN where it is not known
};

// Calls visit(name, member) for each named value of `values` (a
// ResultValues, const or not), in the file's order.
template <typename Values, typename Visit>
void for_each_named_value(Values& values, Visit&& visit) {
  visit("sides", values.sides);
  visit("radius", values.radius);
  visit("trials", values.trials);
  visit("seed", values.seed);
  visit("classes", values.classes);
  visit("show", values.show);
  visit("width", values.width);
  visit("min", values.min);
  visit("max", values.max);
  visit("average", values.average);
  visit("stdev", values.stdev);
  visit("mode_x", values.mode_x);
  visit("mode_y", values.mode_y);
  visit("chi_square", values.fit.chi_square);
  visit("degrees_of_freedom", values.fit.degrees_of_freedom);
  visit("p_value", values.fit.p_value);
  visit("merged_classes", values.fit.merged_classes);
  visit("merged_into", values.fit.merged_into);
}

// Calls visit(name, member) for each column of `row` (a ResultClass, const
// or not), in the file's order.
template <typename Row, typename Visit>
void for_each_column(Row& row, Visit&& visit) {
  visit("centre", row.centre);
  visit("count", row.count);
  visit("density", row.density);
  visit("cumulative", row.cumulative);
  visit("exact_probability", row.exact_probability);
}

// The class columns' names joined by `separator`.
inline std::string column_names(std::string_view separator) {
  std::string names;
  const ResultClass names_only;
  for_each_column(names_only, [&](std::string_view name, const auto&) {
    if (!names.empty()) names.append(separator);
    names.append(name);
  });
  return names;
}

// The line above the classes.
inline std::string class_header_line() { return column_names("\t"); }

}  // namespace polygons::results
