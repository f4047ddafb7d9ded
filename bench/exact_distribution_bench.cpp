// Times exact_class_probabilities against the number of sides and of
// classes: the first call for a number of sides (which computes what is
// then kept) and the best of five later calls. Usage: exact_distribution_bench

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "sim/exact_distribution.hpp"

namespace {

double milliseconds_of_call(std::int32_t sides, const std::vector<double>& edges) {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<double> p = polygons::sim::exact_class_probabilities(sides, 1.0, edges);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  if (p.empty()) std::printf("impossible\n");
  return took.count();
}

std::vector<double> class_edges(std::int32_t sides, int classes) {
  const double top = 2.0 * sides * std::sin(3.141592653589793 / sides);
  std::vector<double> edges(classes + 1);
  for (int i = 0; i <= classes; ++i) edges[i] = top * i / classes;
  return edges;
}

}  // namespace

int main() {
  std::printf("%8s %8s %14s %14s\n", "sides", "classes", "first ms", "later ms");
  for (std::int32_t sides : {2, 3, 4, 12, 29, 30, 40, 60, 100, 1000, 10000}) {
    for (int classes : {100, 10000}) {
      const std::vector<double> edges = class_edges(sides, classes);
      const double first = milliseconds_of_call(sides, edges);
      double later = 1e300;
      for (int round = 0; round < 5; ++round) later = std::min(later, milliseconds_of_call(sides, edges));
      std::printf("%8d %8d %14.3f %14.3f\n", sides, classes, first, later);
    }
  }
  return 0;
}
