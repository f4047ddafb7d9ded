#pragma once
// Shared helpers of the simulation tests.

#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "sim/random.hpp"

namespace polygons::sim::simtest {

inline constexpr std::int32_t kK1st = 1;

// The run's class range: 2n * R first, then times sin(pi / n).
inline double perimeter_max(std::int32_t sides, double radius) {
  const double pi = 4.0 * std::atan(1.0);
  return static_cast<double>(2 * static_cast<std::int64_t>(sides)) * radius *
         std::sin(pi / static_cast<double>(sides));
}

inline SeedState seeded(std::int32_t iseed) {
  SeedState state;
  random_init(state, iseed);
  return state;
}

// Sum of the classes k1st .. klass, without the overflow slot.
inline std::int64_t class_sum(const std::vector<std::int64_t>& class_count) {
  return std::accumulate(class_count.begin(), class_count.end() - 1, std::int64_t{0});
}

}  // namespace polygons::sim::simtest
