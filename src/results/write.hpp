#pragma once
// Writing the results file (results/layout.hpp) into a run's working
// directory.

#include <cstdint>
#include <span>
#include <string_view>

#include "results/layout.hpp"

namespace polygons::results {

// Removes a results file an earlier run left in `workdir`, so that a run
// that fails leaves none that could pass for its own. Call it before any
// trial runs. Ends the run (text::FatalError, kExitIoFailure) when the name
// is there and cannot be removed.
void discard_results_file(std::string_view workdir);

// Writes the results file into `workdir`: the named values, then classes
// 1 .. values.classes, with the class centres, counts (the first
// values.classes of `count`), the result vectors (density and cumulative
// fraction of each class next to each other) and the exact probability of
// each class (NaN for every class when `exact_probability` is empty). The file is written under a
// temporary name and renamed, so it is complete or absent. Ends the run
// (text::FatalError, kExitIoFailure) when it cannot be written. Throws
// std::invalid_argument when a vector is shorter than the classes.
void write_results_file(std::string_view workdir, const ResultValues& values,
                        std::span<const double> centre, std::span<const std::int64_t> count,
                        std::span<const double> result_z,
                        std::span<const double> exact_probability);

}  // namespace polygons::results
