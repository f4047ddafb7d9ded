#pragma once
// The results file: the figures of a run as tab-separated text for programs
// (the web service, scripts), written beside the chart when the environment
// asks for it. Its layout is in run/results_layout.hpp.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "params/run_parameters.hpp"
#include "run/results_layout.hpp"

namespace polygons::run {

inline constexpr char kResultsVariable[] = "POLYGONS_RESULTS";
inline constexpr std::string_view kResultsName = "results.tsv";

// Whether the value of POLYGONS_RESULTS (nullptr when unset) asks for the file: "1".
bool results_file_requested(const char* value);

// Removes a results file an earlier run left in `workdir`, so that a run
// that fails leaves none that could pass for its own. Call it before any
// trial runs. Ends the run (text::FatalError, kExitIoFailure) when the name
// is there and cannot be removed.
void discard_results_file(std::string_view workdir);

// Writes the results file into `workdir`: classes 1 .. p.klass, with the
// class centres, counts (the first p.klass of `count`) and the result
// vectors (density and cumulative fraction of each class next to each
// other). The file is written under a temporary name and renamed, so it is
// complete or absent. Ends the run (text::FatalError, kExitIoFailure) when
// it cannot be written. Throws std::invalid_argument when a vector is
// shorter than the classes.
void write_results_file(std::string_view workdir, const params::run_parameters& p,
                        const ResultFigures& figures, std::span<const double> centre,
                        std::span<const std::int64_t> count, std::span<const double> result_z);

}  // namespace polygons::run
