#include "sim/exact_distribution.hpp"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

// The perimeter is 2 R S with S = sin(pi D_1) + ... + sin(pi D_n), the D_i
// the arcs between neighbouring points in full turns, uniform on the
// simplex. Everything below works with S and scales at the end.
//
// For now S of 3 sides and more follows the normal law of its exact mean and
// deviation, a stand-in accurate to about 1e-2 at few sides and far better at
// many; 1 and 2 sides are exact.

namespace polygons::sim {

namespace {

constexpr double kPi = std::numbers::pi;

void check_arguments(std::int32_t sides, double radius) {
  if (sides < 1 || sides > kMaxExactSides) {
    throw std::invalid_argument("the number of sides must be between 1 and " +
                                std::to_string(kMaxExactSides) + ", not " +
                                std::to_string(sides));
  }
  if (!std::isfinite(radius)) throw std::invalid_argument("the radius must be a finite number");
}

// A perimeter of exactly 0 whatever the draws: one side (a point joined to
// itself), or a circle of radius 0.
bool point_mass_at_zero(std::int32_t sides, double radius) { return sides == 1 || radius == 0.0; }

// P(S <= s) for 2 sides and more.
double sum_cdf(std::int32_t sides, double s) {
  const double top = sides * std::sin(kPi / sides);
  if (!(s > 0.0)) return 0.0;
  if (s >= top) return 1.0;
  if (sides == 2) return 2.0 * std::asin(s / 2.0) / kPi;  // S = 2 sin(pi U), U uniform
  const PerimeterMoments m = exact_perimeter_moments(sides, 0.5);
  return 0.5 * std::erfc((m.mean - s) / (m.stdev * std::numbers::sqrt2));
}

// P(perimeter <= x) once the arguments are checked and there is no point mass.
double continuous_cdf(std::int32_t sides, double radius, double x) {
  const double s = x / (2.0 * radius);
  return radius > 0.0 ? sum_cdf(sides, s) : 1.0 - sum_cdf(sides, s);
}

}  // namespace

double exact_perimeter_cdf(std::int32_t sides, double radius, double x) {
  check_arguments(sides, radius);
  if (std::isnan(x)) throw std::invalid_argument("the perimeter must be a number, not nan");
  if (point_mass_at_zero(sides, radius)) return x >= 0.0 ? 1.0 : 0.0;
  return continuous_cdf(sides, radius, x);
}

std::vector<double> exact_class_probabilities(std::int32_t sides, double radius,
                                              std::span<const double> edges) {
  check_arguments(sides, radius);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    if (!std::isfinite(edges[i]) || (i > 0 && !(edges[i] > edges[i - 1]))) {
      throw std::invalid_argument("the class edges must be finite and strictly increasing");
    }
  }
  std::vector<double> p;
  if (edges.size() < 2) return p;
  p.reserve(edges.size() - 1);
  if (point_mass_at_zero(sides, radius)) {
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
      p.push_back(edges[i] <= 0.0 && 0.0 < edges[i + 1] ? 1.0 : 0.0);
    }
    return p;
  }
  double below = continuous_cdf(sides, radius, edges[0]);
  for (std::size_t i = 1; i < edges.size(); ++i) {
    const double next = continuous_cdf(sides, radius, edges[i]);
    p.push_back(next - below);
    below = next;
  }
  return p;
}

}  // namespace polygons::sim
