#include "sim/class_fit.hpp"

#include <boost/math/distributions/chi_squared.hpp>
#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "sim/exact_distribution.hpp"
#include "sim/exact_moments.hpp"
#include "sim/trials.hpp"

namespace polygons::sim {
namespace {

// Probabilities computed as differences of a distribution function may fall
// below 0 by rounding; beyond that they are wrong.
constexpr double kRoundingBelowZero = 1e-12;

// The class edges of a run in perimeters of the circle of radius |radius|:
// the inner edges k w, and outer edges far enough out that the first and the
// last class take what lies beyond them.
std::vector<double> class_edges(double range_max, std::int32_t classes) {
  const double width = class_width_of(K1ST, classes, 0.0, range_max);
  std::vector<double> edges(static_cast<std::size_t>(classes) + 1);
  edges.front() = -range_max;
  for (std::int32_t k = 1; k < classes; ++k) edges[static_cast<std::size_t>(k)] = k * width;
  edges.back() = 2.0 * range_max;
  return edges;
}

struct Group {
  double expected = 0.0;
  std::int64_t observed = 0;
  std::int32_t classes = 0;
};

// Neighbouring classes merged from the lowest up until each group expects
// at least kMinExpectedCount trials; a last group short of that joins the
// one before it.
std::vector<Group> merged_groups(std::span<const std::int64_t> count,
                                 std::span<const double> probability, double trials) {
  std::vector<Group> groups;
  Group open;
  for (std::size_t k = 0; k < count.size(); ++k) {
    open.expected += trials * std::max(probability[k], 0.0);
    open.observed += count[k];
    ++open.classes;
    if (open.expected >= kMinExpectedCount) {
      groups.push_back(open);
      open = Group();
    }
  }
  if (open.classes > 0) {
    if (groups.empty()) {
      groups.push_back(open);
    } else {
      groups.back().expected += open.expected;
      groups.back().observed += open.observed;
      groups.back().classes += open.classes;
    }
  }
  return groups;
}

bool usable(std::span<const std::int64_t> count, std::span<const double> probability) {
  if (count.size() != probability.size()) return false;
  for (const double p : probability) {
    if (!std::isfinite(p) || p < -kRoundingBelowZero) return false;
  }
  return true;
}

}  // namespace

double class_range_max(std::int32_t sides, double radius) {
  const double pi = 4.0 * std::atan(1.0);
  const double twice_n = static_cast<double>(2 * static_cast<std::int64_t>(sides));
  return twice_n * radius * std::sin(pi / static_cast<double>(sides));
}

std::vector<double> run_class_probabilities(std::int32_t sides, double radius,
                                            std::int32_t classes, int threads) {
  if (!has_exact_distribution(sides) || classes < 1 ||
      radius == 0.0 || !std::isfinite(radius)) {
    return {};
  }
  const double size = std::fabs(radius);
  const double range_max = class_range_max(sides, size);
  if (!(range_max > 0.0) || !std::isfinite(range_max)) return {};
  const std::vector<double> edges = class_edges(range_max, classes);
  std::vector<double> probability;
  try {
    probability = exact_class_probabilities(sides, size, edges, threads);
  } catch (const std::invalid_argument&) {
    return {};
  }
  for (double& p : probability) {
    if (p < 0.0 && p >= -kRoundingBelowZero) p = 0.0;
  }
  return probability;
}

ClassDensities exact_class_densities(std::int32_t sides, double radius, std::int32_t classes) {
  ClassDensities curve;
  curve.density = run_class_probabilities(sides, radius, classes);
  const double width = class_width_of(K1ST, classes, 0.0, class_range_max(sides, radius));
  curve.centre.resize(curve.density.size());
  for (std::size_t k = 0; k < curve.density.size(); ++k) {
    curve.centre[k] = (static_cast<double>(k + 1) - 0.5) * width;
    curve.density[k] /= width;
  }
  return curve;
}

GoodnessOfFit chi_square_fit(std::span<const std::int64_t> count,
                             std::span<const double> probability) {
  GoodnessOfFit fit;
  if (!usable(count, probability)) return fit;
  std::int64_t trials = 0;
  for (const std::int64_t c : count) trials += c;
  const std::vector<Group> groups =
      merged_groups(count, probability, static_cast<double>(trials));
  double chi_square = 0.0;
  for (const Group& g : groups) {
    if (g.classes > 1) {
      fit.merged_classes += g.classes;
      ++fit.merged_into;
    }
    const double difference = static_cast<double>(g.observed) - g.expected;
    chi_square += difference * difference / g.expected;
  }
  if (groups.size() < 2) return fit;
  fit.chi_square = chi_square;
  fit.degrees_of_freedom = static_cast<std::int32_t>(groups.size() - 1);
  const boost::math::chi_squared distribution(fit.degrees_of_freedom);
  fit.p_value = boost::math::cdf(boost::math::complement(distribution, chi_square));
  return fit;
}

ClassFit fit_run_classes(std::int32_t sides, double radius, std::span<const std::int64_t> count,
                         int threads) {
  ClassFit fit;
  try {
    fit.probability =
        run_class_probabilities(sides, radius, static_cast<std::int32_t>(count.size()), threads);
    fit.test = chi_square_fit(count, fit.probability);
  } catch (const std::bad_alloc&) {
    return ClassFit();  // a run of more classes than memory for their edges
  }
  return fit;
}

}  // namespace polygons::sim
