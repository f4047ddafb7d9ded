#pragma once
// Chebyshev series on [0, 1], the tanh-sinh rule and bisection: the tools
// of the exact laws of few sides (three_sides_law, split_arc_law,
// few_sides_law).

#include <cmath>
#include <numbers>
#include <span>
#include <vector>

namespace polygons::sim {

// The i-th of n Chebyshev points, (1 + cos(pi (i + 1/2) / n)) / 2 on [0, 1].
inline double chebyshev_point(int i, int n) {
  return 0.5 * (1.0 + std::cos(std::numbers::pi * (i + 0.5) / n));
}

// The coefficients of the Chebyshev series through the values at the
// points chebyshev_point(i, values.size()).
inline std::vector<double> chebyshev_coefficients(std::span<const double> values) {
  const std::size_t n = values.size();
  std::vector<double> c(n);
  for (std::size_t j = 0; j < n; ++j) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      sum += values[i] * std::cos(std::numbers::pi * static_cast<double>(j) * (i + 0.5) / n);
    }
    c[j] = (j == 0 ? 1.0 : 2.0) * sum / static_cast<double>(n);
  }
  return c;
}

// The series with coefficients c at x in [0, 1], by Clenshaw's recurrence
// (0 for no coefficients).
inline double chebyshev_value(std::span<const double> c, double x) {
  const double y = 2.0 * x - 1.0;
  double b1 = 0.0, b2 = 0.0;
  for (std::size_t j = c.size(); j-- > 1;) {
    const double b0 = 2.0 * y * b1 - b2 + c[j];
    b2 = b1;
    b1 = b0;
  }
  return c.empty() ? 0.0 : y * b1 - b2 + c[0];
}

// The root of f on [a, b], where f changes sign once, by bisection to the
// last digit.
template <typename F>
double bisection_root(F f, double a, double b) {
  const bool rising = f(a) < f(b);
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (a + b);
    if (!(mid > a && mid < b)) break;
    ((f(mid) < 0.0) == rising ? a : b) = mid;
  }
  return 0.5 * (a + b);
}

// The tanh-sinh rule on [a, b] with `steps` nodes per unit of its variable
// tau: nodes a + d and b - d, d = (b - a) q / (1 + q), q = exp(-pi sinh tau),
// up to where the weights fall below 1e-20. It keeps its accuracy with
// singular points at or near the ends; 12 steps are as exact as 24 for the
// laws here.
template <typename F>
double tanh_sinh(F f, double a, double b, int steps) {
  constexpr double kPi = std::numbers::pi;
  const double half = 0.5 * (b - a);
  double sum = 0.0;
  for (int k = 0; k <= 4 * steps; ++k) {
    const double tau = static_cast<double>(k) / steps;
    const double q = std::exp(-kPi * std::sinh(tau));
    const double weight = kPi / 2.0 * std::cosh(tau) * 4.0 * q / ((1.0 + q) * (1.0 + q));
    const double d = half * 2.0 * q / (1.0 + q);
    if (!(d > 0.0) || weight < 1e-20) break;
    sum += weight * (k == 0 ? f(a + d) : f(a + d) + f(b - d));
  }
  return sum * half / steps;
}

}  // namespace polygons::sim
