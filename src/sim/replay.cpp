#include "sim/replay.hpp"

#include <algorithm>
#include <cmath>

#include "sim/engine.hpp"

namespace polygons::sim {
namespace {

// The engine's perimeters of the first `count` trials; the classes are not
// looked at, so any one class of non-zero width will do.
std::vector<double> engine_perimeters(std::int32_t n, double R, SeedState start,
                                      std::int32_t count, const KernelSet* kernels) {
  std::vector<double> perimeters(static_cast<std::size_t>(count));
  EngineOptions options;
  options.threads = 1;
  options.kernels = kernels;
  options.perimeters = perimeters.data();
  std::vector<std::int64_t> class_count;
  run_trials(n, R, count, K1ST, K1ST, 0.0, 1.0, class_count, start, options);
  return perimeters;
}

}  // namespace

std::vector<ReplayedTrial> replay_trials(std::int32_t n, double R, SeedState start,
                                         std::int32_t count, const KernelSet* kernels) {
  if (n < 1 || count < 1) return {};
  const std::vector<double> perimeters = engine_perimeters(n, R, start, count, kernels);
  const double two_pi = 8.0 * std::atan(1.0);
  std::vector<ReplayedTrial> trials(static_cast<std::size_t>(count));
  SeedState rng = start;
  for (std::size_t t = 0; t < trials.size(); ++t) {
    std::vector<double>& angles = trials[t].angles;
    angles.resize(static_cast<std::size_t>(n));
    for (double& angle : angles) angle = for_random_number(rng);
    std::sort(angles.begin(), angles.end());
    for (double& angle : angles) angle *= two_pi;
    trials[t].perimeter = perimeters[t];
  }
  return trials;
}

}  // namespace polygons::sim
