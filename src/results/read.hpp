#pragma once
// Reading the results file (results/layout.hpp) back. The file is taken as
// untrusted: it is parsed strictly, and the sizes it names are bounded by
// the caller's limits before anything is allocated for them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "results/layout.hpp"

namespace polygons::results {

// The named values, then the classes in order.
struct RunResults : ResultValues {
  std::vector<ResultClass> rows;
};

// The largest sides and classes a reader takes.
struct ReadLimits {
  std::int64_t max_sides = 0;
  std::int64_t max_classes = 0;
};

// Reads the whole file. False, with what is wrong and on which line in
// `error`, unless every line is as the layout says, the sides, classes and
// trials are at least 1 (sides and classes at most `limits`), there is one
// row for each class, and the counts are not negative and sum to the trials.
bool parse_results(std::string_view text, const ReadLimits& limits, RunResults& out,
                   std::string& error);

}  // namespace polygons::results
