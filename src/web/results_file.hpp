#pragma once
// The program's figures of a run, as it writes them to its results file when
// the service asks for it (results/layout.hpp), and as the service reads
// them back (results/read.hpp) within its own bounds.

#include <cstddef>

#include "results/read.hpp"

namespace polygons::web {

// 10000 classes of four numbers each fit several times over.
inline constexpr std::size_t kMaxResultsBytes = 4 * 1024 * 1024;

using result_class = results::ResultClass;
using run_results = results::RunResults;

}  // namespace polygons::web
