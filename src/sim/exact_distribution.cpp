#include "sim/exact_distribution.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <future>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>

#include "sim/few_sides_law.hpp"
#include "sim/sine_deficit_law.hpp"
#include "sim/three_sides_law.hpp"

// The perimeter is 2 R S with S = sin(pi D_1) + ... + sin(pi D_n), the D_i
// the arcs between neighbouring points in full turns, uniform on the
// simplex. 2 sides: S = 2 sin(pi U), U uniform. 3 sides: a one-dimensional
// integral (sim/three_sides_law.hpp). 4 to 29 sides: a table made once, arc
// by arc (sim/few_sides_law.hpp). From 30 sides on: the Fourier series of
// W = pi - S (sim/sine_deficit_law.hpp), computed once per number of sides
// and kept. The table and the series agree within 2e-13 at 20 to 30 sides,
// where both can be made.

namespace polygons::sim {

namespace {

constexpr double kPi = std::numbers::pi;

// A perimeter of exactly 0 whatever the draws: one side (a point joined to
// itself), or a circle of radius 0.
bool point_mass_at_zero(std::int32_t sides, double radius) { return sides == 1 || radius == 0.0; }

// What is computed once per number of sides (Law: a series), kept for every
// number met so far and shared by every thread. The first caller for a
// number computes it, outside the lock; the others wait for that one result
// instead of computing it again (half a second at 30 sides). A
// computation that throws is forgotten, so that a later call tries again.
template <typename Law, typename Make>
std::shared_ptr<const Law> kept_law(std::int32_t sides, Make make) {
  using Kept = std::shared_future<std::shared_ptr<const Law>>;
  static std::mutex guard;
  static std::map<std::int32_t, Kept> kept;
  std::promise<std::shared_ptr<const Law>> promise;
  Kept law;
  bool first = false;
  {
    const std::lock_guard<std::mutex> lock(guard);
    auto [found, added] = kept.try_emplace(sides);
    if (added) found->second = promise.get_future().share();
    first = added;
    law = found->second;
  }
  if (first) {
    try {
      promise.set_value(std::make_shared<const Law>(make(sides)));
    } catch (...) {
      {
        const std::lock_guard<std::mutex> lock(guard);
        kept.erase(sides);
      }
      promise.set_exception(std::current_exception());
    }
  }
  return law.get();
}

// P(S <= s) for 2 and 3 sides.
double two_or_three_sides_cdf(std::int32_t sides, double s) {
  const double top = sides * std::sin(kPi / sides);
  if (!(s > 0.0)) return 0.0;
  if (s >= top) return 1.0;
  if (sides == 2) return 2.0 * std::asin(s / 2.0) / kPi;  // S = 2 sin(pi U), U uniform
  return three_sides_cdf(s);
}

// W = pi - x / (2 R) with pi R taken to twice the digits of a double, so
// that W keeps its relative precision when x is near 2 pi R. A radius whose
// 2 pi R would overflow is scaled down with x by a power of two first.
double deficit_of(double radius, double x) {
  constexpr double kPiTail = 1.2246467991473532e-16;  // pi - kPi
  if (std::abs(radius) > 0x1p1000) {
    radius = std::ldexp(radius, -64);
    x = std::ldexp(x, -64);
  }
  const double diameter = 2.0 * radius;
  const double head = diameter * kPi;
  const double tail = std::fma(diameter, kPi, -head) + diameter * kPiTail;
  return ((head - x) + tail) / diameter;
}

// P(perimeter <= x) for each x, once the arguments are checked and there is
// no point mass.
std::vector<double> continuous_cdfs(std::int32_t sides, double radius, std::span<const double> x,
                                    int threads) {
  std::vector<double> below(x.size());  // P(S <= x / (2 R))
  if (sides < kFirstTableSides) {
    for (std::size_t i = 0; i < x.size(); ++i) {
      below[i] = two_or_three_sides_cdf(sides, x[i] / radius / 2.0);  // no overflow of 2 R
    }
  } else {
    std::vector<double> w(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) w[i] = deficit_of(radius, x[i]);
    if (sides <= kLastTableSides) {
      for (std::size_t i = 0; i < x.size(); ++i) below[i] = few_sides_deficit_cdf(sides, w[i]);
    } else {
      const auto series = kept_law<DeficitSeries>(
          sides, [threads](std::int32_t n) { return deficit_series(n, threads); });
      deficit_cdfs(*series, w, below);
    }
    for (double& p : below) p = 1.0 - p;
  }
  if (radius < 0.0) {
    for (double& p : below) p = 1.0 - p;
  }
  return below;
}

}  // namespace

bool has_exact_distribution(std::int32_t sides) { return sides >= 1 && sides <= kMaxExactSides; }

double exact_perimeter_cdf(std::int32_t sides, double radius, double x) {
  check_exact_arguments(sides, radius);
  if (std::isnan(x)) throw std::invalid_argument("the perimeter must be a number, not nan");
  if (point_mass_at_zero(sides, radius)) return x >= 0.0 ? 1.0 : 0.0;
  return continuous_cdfs(sides, radius, std::span<const double>(&x, 1), 1)[0];
}

std::vector<double> exact_class_probabilities(std::int32_t sides, double radius,
                                              std::span<const double> edges, int threads) {
  check_exact_arguments(sides, radius);
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
  const std::vector<double> below = continuous_cdfs(sides, radius, edges, threads);
  for (std::size_t i = 0; i + 1 < edges.size(); ++i) p.push_back(below[i + 1] - below[i]);
  return p;
}

}  // namespace polygons::sim
