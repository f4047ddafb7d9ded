#include "sim/exact_distribution.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>

#include "sim/sine_deficit_law.hpp"
#include "sim/three_sides_law.hpp"

// The perimeter is 2 R S with S = sin(pi D_1) + ... + sin(pi D_n), the D_i
// the arcs between neighbouring points in full turns, uniform on the
// simplex. 2 sides: S = 2 sin(pi U), U uniform. 3 sides: a one-dimensional
// integral (sim/three_sides_law.hpp). From kSeriesSides sides on: the
// Fourier series of W = pi - S (sim/sine_deficit_law.hpp), computed once
// per number of sides and kept.
//
// Between 4 and kSeriesSides - 1 sides, for now, a stand-in drawn at random
// (below): the series gets there too, within 1e-14 at 20 and 25 sides, but
// in 70 and 12 seconds; and with fewer sides the density's edges (it
// vanishes like (top - s)^((n - 3) / 2) at the top) slow it down past use.
// The normal law of the exact mean and deviation is no stand-in: a long arc
// gives S a long lower tail, and at 20 sides it is off by 0.14.

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

constexpr std::int32_t kSeriesSides = 30;

// What is computed once per number of sides (Law: a series or quantiles),
// kept for every number met so far and shared by every thread.
template <typename Law, typename Make>
std::shared_ptr<const Law> kept_law(std::int32_t sides, Make make) {
  static std::mutex guard;
  static std::map<std::int32_t, std::shared_ptr<const Law>> kept;
  {
    const std::lock_guard<std::mutex> lock(guard);
    const auto found = kept.find(sides);
    if (found != kept.end()) return found->second;
  }
  auto made = std::make_shared<const Law>(make(sides));
  const std::lock_guard<std::mutex> lock(guard);
  return kept.emplace(sides, std::move(made)).first->second;
}

// Between 4 and kSeriesSides - 1 sides, for now: the distribution function
// of S drawn from 2^20 polygons of a generator of its own (std::mt19937_64,
// fixed seed, independent of the engine's), kept as kQuantiles + 1
// quantiles between which it is taken as linear: within some 1e-3.
constexpr int kStandInDraws = 1 << 20;
constexpr int kQuantiles = 8192;

std::vector<double> sampled_quantiles(std::int32_t sides) {
  std::mt19937_64 generator(20240611u + static_cast<std::uint64_t>(sides));
  std::vector<double> sums(kStandInDraws), points(sides);
  for (double& sum : sums) {
    for (double& point : points) point = static_cast<double>(generator() >> 11) * 0x1.0p-53;
    std::sort(points.begin(), points.end());
    sum = std::sin(kPi * (1.0 - (points.back() - points.front())));
    for (std::int32_t i = 1; i < sides; ++i) sum += std::sin(kPi * (points[i] - points[i - 1]));
  }
  std::sort(sums.begin(), sums.end());
  std::vector<double> quantiles(kQuantiles + 1);
  for (int q = 0; q <= kQuantiles; ++q) {
    const std::size_t at = static_cast<std::size_t>(q) * kStandInDraws / kQuantiles;
    quantiles[q] = sums[std::min(sums.size() - 1, at)];
  }
  quantiles.front() = 0.0;
  quantiles.back() = sides * std::sin(kPi / sides);
  return quantiles;
}

double sampled_cdf(const std::vector<double>& quantiles, double s) {
  const auto above = std::upper_bound(quantiles.begin(), quantiles.end(), s);
  if (above == quantiles.begin()) return 0.0;
  if (above == quantiles.end()) return 1.0;
  const double low = *(above - 1), high = *above;
  const double q = static_cast<double>(above - quantiles.begin() - 1);
  return (q + (high > low ? (s - low) / (high - low) : 0.0)) / kQuantiles;
}

// P(S <= s) for 2 .. kSeriesSides - 1 sides.
double few_sides_cdf(std::int32_t sides, double s) {
  const double top = sides * std::sin(kPi / sides);
  if (!(s > 0.0)) return 0.0;
  if (s >= top) return 1.0;
  if (sides == 2) return 2.0 * std::asin(s / 2.0) / kPi;  // S = 2 sin(pi U), U uniform
  if (sides == 3) return three_sides_cdf(s);
  return sampled_cdf(*kept_law<std::vector<double>>(sides, sampled_quantiles), s);
}

// W = pi - x / (2 R) with pi R taken to twice the digits of a double, so
// that W keeps its relative precision when x is near 2 pi R.
double deficit_of(double radius, double x) {
  constexpr double kPiTail = 1.2246467991473532e-16;  // pi - kPi
  const double diameter = 2.0 * radius;
  const double head = diameter * kPi;
  const double tail = std::fma(diameter, kPi, -head) + diameter * kPiTail;
  return ((head - x) + tail) / diameter;
}

// P(perimeter <= x) for each x, once the arguments are checked and there is
// no point mass.
std::vector<double> continuous_cdfs(std::int32_t sides, double radius, std::span<const double> x) {
  std::vector<double> below(x.size());  // P(S <= x / (2 R))
  if (sides < kSeriesSides) {
    for (std::size_t i = 0; i < x.size(); ++i) {
      below[i] = few_sides_cdf(sides, x[i] / (2.0 * radius));
    }
  } else {
    std::vector<double> w(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) w[i] = deficit_of(radius, x[i]);
    deficit_cdfs(*kept_law<DeficitSeries>(sides, deficit_series), w, below);
    for (double& p : below) p = 1.0 - p;
  }
  if (radius < 0.0) {
    for (double& p : below) p = 1.0 - p;
  }
  return below;
}

}  // namespace

bool has_exact_distribution(std::int32_t sides) {
  return (sides >= 1 && sides <= 3) || (sides >= kSeriesSides && sides <= kMaxExactSides);
}

double exact_perimeter_cdf(std::int32_t sides, double radius, double x) {
  check_arguments(sides, radius);
  if (std::isnan(x)) throw std::invalid_argument("the perimeter must be a number, not nan");
  if (point_mass_at_zero(sides, radius)) return x >= 0.0 ? 1.0 : 0.0;
  return continuous_cdfs(sides, radius, std::span<const double>(&x, 1))[0];
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
  const std::vector<double> below = continuous_cdfs(sides, radius, edges);
  for (std::size_t i = 0; i + 1 < edges.size(); ++i) p.push_back(below[i + 1] - below[i]);
  return p;
}

}  // namespace polygons::sim
