#include "sim/few_sides_law.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "sim/series_and_rules.hpp"
#include "sim/split_arc_law.hpp"

namespace polygons::sim {

namespace {

// The strips of each number of sides follow each other: those of n sides
// start after 3 + 4 + ... + (n - 2) of them.
const StripSeries& series_of(std::int32_t sides, std::int32_t strip) {
  const std::int32_t before = (sides - 2) * (sides - 1) / 2 - 3;
  const std::span<const StripSeries> strips = few_sides_strips();
  const std::size_t at = static_cast<std::size_t>(before + strip - 1);
  if (at >= strips.size() || strips[at].sides != sides || strips[at].strip != strip) {
    throw std::logic_error("the table of the laws of few sides lacks strip " +
                           std::to_string(strip) + " of " + std::to_string(sides) + " sides");
  }
  return strips[at];
}

}  // namespace

double few_sides_deficit_cdf(std::int32_t sides, double w) {
  if (sides < kFirstTableSides || sides > kLastTableSides) {
    throw std::invalid_argument("the table holds the laws of " + std::to_string(kFirstTableSides) +
                                " to " + std::to_string(kLastTableSides) + " sides, not " +
                                std::to_string(sides));
  }
  if (std::isnan(w)) throw std::invalid_argument("the deficit must be a number, not nan");
  const std::int32_t strip = strip_of(sides, 1.0, w);
  if (strip == 0) return 0.0;
  if (strip == sides) return 1.0;
  const StripSeries& series = series_of(sides, strip);
  const std::span<const double> c = few_sides_coefficients().subspan(series.first, series.count);
  return std::clamp(chebyshev_value(c, strip_position(strip, 1.0, w)), 0.0, 1.0);
}

}  // namespace polygons::sim
