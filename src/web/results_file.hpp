#pragma once
// The program's figures of a run, as it writes them to results.tsv when its
// environment has POLYGONS_RESULTS=1, in the layout of run/results_layout.hpp,
// which the program's writer follows too. The service takes the file as
// untrusted: it is read with a size bound and parsed strictly.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "run/results_layout.hpp"

namespace polygons::web {

// 10000 classes of four numbers each fit several times over.
inline constexpr std::size_t kMaxResultsBytes = 4 * 1024 * 1024;

using result_class = run::ResultClass;

// The named values, then the classes in order.
struct run_results : run::ResultValues {
  std::vector<result_class> rows;
};

// Reads the whole file. False, with what is wrong and on which line in
// `error`, unless every line is as the layout says, the sides, classes and
// trials are at least 1 (sides and classes at most what the service allows),
// there is one row for each class, and the counts are not negative and sum
// to the trials.
bool parse_results(std::string_view text, run_results& out, std::string& error);

}  // namespace polygons::web
