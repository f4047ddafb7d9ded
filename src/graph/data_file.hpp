#pragma once
// The result data file: the class histogram as a plain table that the
// plotting program reads, optionally listed on standard output as well.

#include <span>

#include "text/io.hpp"

namespace polygons::graph {

// The largest number of ordinate values written per row.
inline constexpr int NZMAX = 50;

// Writes the header "#Result vectors" with nz, then one row per index K from
// n_min to n_max: t(K) followed by z(1..m, K), m = min(nz, NZMAX). When `show`
// is not 0 the same rows are listed on `out` after the last file line.
// `t` holds t(n_min..n_max) from element 0; `z` holds the nz values of one
// index next to each other (row index fastest), index n_min first.
// Precondition: t and z are long enough for the range (else invalid_argument).
void data_to_file(text::LineSink& unit, int n_min, int n_max, int nz,
                  std::span<const double> t, std::span<const double> z, int show,
                  text::LineSink& out);

}  // namespace polygons::graph
