#pragma once
// The law of W = pi - S for 4 to 29 sides, S = sin(pi D_1) + ... + sin(pi D_n)
// with the D_i uniform on the simplex, from a table made once by
// sim/split_arc_law.hpp (scripts/make-few-sides-table.sh) and shipped in
// sim/few_sides_table.cpp: for each number of sides, the Chebyshev series
// of P(W <= w) on each strip between the deficits of j and j + 1 equal arcs,
// in the strip position of sim/split_arc_law.hpp.

#include <cstdint>
#include <span>

namespace polygons::sim {

inline constexpr std::int32_t kFirstTableSides = 4;
inline constexpr std::int32_t kLastTableSides = 29;

// One strip's series: coefficients [first, first + count) of the table.
// A count of 0 stands for a strip where P(W <= w) is 0 to the last digit.
struct StripSeries {
  std::int32_t sides = 0;
  std::int32_t strip = 0;
  std::int32_t first = 0;
  std::int32_t count = 0;
};

// The table: the strips in order of sides, then of strip (1 .. sides - 1).
std::span<const StripSeries> few_sides_strips();
std::span<const double> few_sides_coefficients();

// P(W <= w) for kFirstTableSides to kLastTableSides sides; throws
// std::invalid_argument for other sides or a nan w.
double few_sides_deficit_cdf(std::int32_t sides, double w);

}  // namespace polygons::sim
