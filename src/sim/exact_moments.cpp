#include "sim/exact_moments.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

// The n gaps G between consecutive points, as fractions of the circle, are
// uniform on the simplex, with the moments
//   E[G^a] = a! / (n)_a,   E[G1^a G2^b] = a! b! / (n)_(a+b),
// where (n)_m = n (n + 1) ... (n + m - 1). A side is 2 R sin(pi G). Since the
// gaps sum to 1, the perimeter is 2 R (pi - sum H) with H = pi G - sin(pi G),
// so Var P = 4 R^2 Var(sum H) = 4 R^2 (n Var H + n (n - 1) Cov(H1, H2)).
// Working with H instead of the sines removes the linear part that cancels
// to nothing in the variance (the deviation is some 1e-9 of the mean at
// n = 10000), and the covariance is summed from terms computed without
// subtracting nearly equal numbers. Each H is the alternating power series
//   H = sum over odd a >= 3 of s_a (pi G)^a / a!,  s_3 = +1, s_5 = -1, ...
// whose expectations converge fast.

namespace polygons::sim {

namespace {

constexpr double kPi = std::numbers::pi;

// Tables of the series for one n, index m = 0 .. 2 * highest.
struct GapSeries {
  double n = 0.0;
  int highest = 3;              // the last odd power kept
  std::vector<double> moment;   // E[G^m] = m! / (n)_m
  std::vector<double> coef;     // pi^m / m!
  std::vector<double> scaled;   // pi^m E[G^m] / m! = pi^m / (n)_m
};

double sign_of_power(int a) { return (a / 2) % 2 == 1 ? 1.0 : -1.0; }

// The powers end where pi^a / (n)_a, which falls at least by pi / 5 per
// power from a = 3 on, is below 1e-24 of the size of the variance term it
// feeds; every neglected term of the sums below is bounded by it times
// sinh(pi) or less.
int highest_power(double n) {
  constexpr int kCap = 79;
  double term = 1.0;
  double cube = 0.0;
  for (int a = 1; a <= kCap; ++a) {
    term *= kPi / (n + a - 1);
    if (a == 3) cube = term;
    if (a > 3 && a % 2 == 1 && term < 1e-24 * cube * cube / n) return a;
  }
  return kCap;
}

GapSeries gap_series(std::int32_t sides) {
  GapSeries s;
  s.n = static_cast<double>(sides);
  s.highest = highest_power(s.n);
  const int top = 2 * s.highest;
  s.moment.assign(top + 1, 1.0);
  s.coef.assign(top + 1, 1.0);
  s.scaled.assign(top + 1, 1.0);
  for (int m = 1; m <= top; ++m) {
    s.moment[m] = s.moment[m - 1] * m / (s.n + m - 1);
    s.coef[m] = s.coef[m - 1] * kPi / m;
    s.scaled[m] = s.scaled[m - 1] * kPi / (s.n + m - 1);
  }
  return s;
}

double mean_of_h(const GapSeries& s) {
  double sum = 0.0;
  for (int a = 3; a <= s.highest; a += 2) sum += sign_of_power(a) * s.scaled[a];
  return sum;
}

double mean_of_h_squared(const GapSeries& s) {
  double sum = 0.0;
  for (int a = 3; a <= s.highest; a += 2) {
    for (int b = 3; b <= s.highest; b += 2) {
      sum += sign_of_power(a) * sign_of_power(b) * s.coef[a] * s.coef[b] * s.moment[a + b];
    }
  }
  return sum;
}

// Cov(G1^a, G2^b) = -E[G1^a G2^b] * d with d = (n + a)_b / (n)_b - 1, a
// product of factors 1 + a / (n + i) built up so that d keeps its digits
// when it is small. The coefficients times E[G1^a G2^b] are pi^(a+b) / (n)_(a+b).
double covariance_of_h(const GapSeries& s) {
  double sum = 0.0;
  for (int a = 3; a <= s.highest; a += 2) {
    double d = 0.0;
    for (int b = 1; b <= s.highest; ++b) {
      const double x = a / (s.n + b - 1);
      d += x + d * x;
      if (b >= 3 && b % 2 == 1) sum -= sign_of_power(a) * sign_of_power(b) * s.scaled[a + b] * d;
    }
  }
  return sum;
}

}  // namespace

void check_exact_arguments(std::int32_t sides, double radius) {
  if (sides < 1 || sides > kMaxExactSides) {
    throw std::invalid_argument("the number of sides must be between 1 and " +
                                std::to_string(kMaxExactSides) + ", not " +
                                std::to_string(sides));
  }
  if (!std::isfinite(radius)) throw std::invalid_argument("the radius must be a finite number");
}

PerimeterMoments exact_perimeter_moments(std::int32_t sides, double radius) {
  check_exact_arguments(sides, radius);
  if (sides == 1) return {};
  const GapSeries s = gap_series(sides);
  const double mean_h = mean_of_h(s);
  const double variance_h = mean_of_h_squared(s) - mean_h * mean_h;
  const double variance_sum = s.n * variance_h + s.n * (s.n - 1.0) * covariance_of_h(s);
  PerimeterMoments moments;
  moments.mean = 2.0 * radius * (kPi - s.n * mean_h);
  moments.stdev = 2.0 * std::abs(radius) * std::sqrt(std::max(variance_sum, 0.0));
  return moments;
}

AverageAgainstExact weigh_average(double average, double stdev, std::int64_t trials,
                                  double exact_mean) {
  AverageAgainstExact weighed;
  weighed.standard_error = stdev / std::sqrt(static_cast<double>(trials));
  const double z = (average - exact_mean) / weighed.standard_error;
  if (weighed.standard_error > 0.0 && std::isfinite(z)) weighed.z = z;
  return weighed;
}

}  // namespace polygons::sim
