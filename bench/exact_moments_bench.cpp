// Times exact_perimeter_moments over the whole range of sides and prints the
// time per call for a few sizes and the slowest. Usage: exact_moments_bench

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "sim/exact_moments.hpp"

namespace {

// Microseconds per call, the best of five rounds of `calls` calls.
double microseconds_per_call(std::int32_t sides, int calls) {
  double best = 1e300;
  double sink = 0.0;
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) {
      sink += polygons::sim::exact_perimeter_moments(sides, 1.0 + 1e-9 * i).stdev;
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / calls);
  }
  if (sink < 0.0) std::printf("impossible\n");
  return best;
}

}  // namespace

int main() {
  std::printf("%8s %14s\n", "sides", "us per call");
  for (std::int32_t sides : {1, 2, 3, 10, 100, 1000, 10000}) {
    std::printf("%8d %14.3f\n", sides, microseconds_per_call(sides, 2000));
  }
  double slowest = 0.0;
  std::int32_t slowest_sides = 1;
  for (std::int32_t sides = 1; sides <= polygons::sim::kMaxExactSides; ++sides) {
    const double us = microseconds_per_call(sides, 10);
    if (us > slowest) {
      slowest = us;
      slowest_sides = sides;
    }
  }
  std::printf("slowest over 1 .. %d sides: %.3f us per call at %d sides\n",
              polygons::sim::kMaxExactSides, slowest, slowest_sides);
  return 0;
}
