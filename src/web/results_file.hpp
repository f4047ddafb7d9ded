#pragma once
// The program's figures of a run, as it writes them to results.tsv
// (run/results_file.hpp) when its environment has POLYGONS_RESULTS=1: a first
// line "polygons-results<TAB>1", one "name<TAB>value" line for each of the
// parameters as used and the figures of the report, a header line, then one
// line for each class. Reals are the shortest text that reads back to the
// same double (nan, inf, -inf when not finite). The service takes the file as
// untrusted: it is read with a size bound and parsed strictly.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace polygons::web {

// 10000 classes of four numbers each fit several times over.
inline constexpr std::size_t kMaxResultsBytes = 4 * 1024 * 1024;

// One class of the histogram: the doubles the chart is drawn from.
struct result_class {
  double centre = 0.0;
  std::int64_t count = 0;
  double density = 0.0;
  double cumulative = 0.0;
};

struct run_results {
  std::int32_t sides = 0;
  double radius = 0.0;
  std::int64_t trials = 0;  // as used, after the limits
  std::int32_t seed = 0;    // as reported
  std::int32_t classes = 0;
  std::int32_t show = 0;
  double width = 0.0;  // of a class
  double min = 0.0;    // the range of the perimeter
  double max = 0.0;
  double average = 0.0;
  double stdev = 0.0;
  double mode_x = 0.0;
  double mode_y = 0.0;
  std::vector<result_class> rows;  // one for each class, in order
};

// Reads the whole file. False, with what is wrong and on which line in
// `error`, unless every line is as described above, the sides, classes and
// trials are at least 1 (sides and classes at most 10000), there is one row
// for each class, and the counts are not negative and sum to the trials.
bool parse_results(std::string_view text, run_results& out, std::string& error);

}  // namespace polygons::web
