#include "sim/three_sides_law.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "sim/series_and_rules.hpp"

// Given the first arc t, the other two split r = 1 - t uniformly, and their
// sines add up to A cos(pi r (U - 1/2)), A = 2 sin(pi r / 2), U uniform:
// at most z with probability 1 - 2 acos(z / A) / (pi r) between
// sin(pi r) and A. The first arc has density 2 (1 - t), so
//   P(S <= s) = int_0^1 2 (1 - t) Q(s - sin(pi t), 1 - t) dt.
// Q is smooth in t except where s - sin(pi t) meets A (a square root) or
// sin(pi r) (a kink): the integral is split there, and each piece taken by
// the tanh-sinh rule, which keeps its accuracy at such ends.
//
// That takes some 30 microseconds; the distribution function is kept
// instead as two Chebyshev series of 32 terms, within 3e-15 of the
// integral: on [2, top] in s, where it is analytic, and on [0, 2] in
// sqrt(2 - s), since below 2 it has a part in (2 - s)^(3/2) (two of the
// arcs near 1/2, the third near 0).

namespace polygons::sim {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kStepsPerUnit = 12;  // of the tanh-sinh rule

double pair_at_most(double z, double r) {
  const double top = 2.0 * std::sin(kPi * r / 2.0);
  if (z >= top) return 1.0;
  if (z <= std::sin(kPi * r)) return 0.0;
  return 1.0 - 2.0 * std::acos(z / top) / (kPi * r);
}

double integrand(double s, double t) {
  return 2.0 * (1.0 - t) * pair_at_most(s - std::sin(kPi * t), 1.0 - t);
}

double three_sides_integral(double s) {
  const double top = 1.5 * std::sqrt(3.0);
  if (!(s > 0.0)) return 0.0;
  if (s >= top) return 1.0;
  // f(t) = sin(pi t) + A(1 - t) = sin(pi t) + 2 cos(pi t / 2) rises from 2
  // to the top at t = 1/3 and falls to 0 at t = 1; 2 sin(pi t) peaks at 1/2.
  auto f = [s](double t) { return s - std::sin(kPi * t) - 2.0 * std::cos(kPi * t / 2.0); };
  std::vector<double> cuts = {0.0, 1.0, 1.0 / 3.0, 0.5};
  if (s > 2.0) cuts.push_back(bisection_root(f, 0.0, 1.0 / 3.0));
  cuts.push_back(bisection_root(f, 1.0 / 3.0, 1.0));
  if (s < 2.0) {
    const double t = std::asin(s / 2.0) / kPi;
    cuts.push_back(t);
    cuts.push_back(1.0 - t);
  }
  std::sort(cuts.begin(), cuts.end());
  double sum = 0.0;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    if (cuts[i + 1] > cuts[i]) {
      sum += tanh_sinh([s](double t) { return integrand(s, t); }, cuts[i], cuts[i + 1], kStepsPerUnit);
    }
  }
  return std::clamp(sum, 0.0, 1.0);
}

constexpr int kTerms = 32;

struct Chebyshev {
  double low = 0.0, high = 0.0;
  std::vector<double> c;
};

template <typename F>
Chebyshev chebyshev_of(F f, double low, double high) {
  std::vector<double> values(kTerms);
  for (int k = 0; k < kTerms; ++k) values[k] = f(low + (high - low) * chebyshev_point(k, kTerms));
  return {low, high, chebyshev_coefficients(values)};
}

double value_of(const Chebyshev& series, double x) {
  return chebyshev_value(series.c, (x - series.low) / (series.high - series.low));
}

struct ThreeSidesTable {
  Chebyshev below_two, above_two;
};

const ThreeSidesTable& three_sides_table() {
  static const ThreeSidesTable table{
      chebyshev_of([](double root) { return three_sides_integral(2.0 - root * root); }, 0.0,
                   std::sqrt(2.0)),
      chebyshev_of(three_sides_integral, 2.0, 1.5 * std::sqrt(3.0))};
  return table;
}

}  // namespace

double three_sides_cdf(double s) {
  if (!(s > 0.0)) return 0.0;
  if (s >= 1.5 * std::sqrt(3.0)) return 1.0;
  const ThreeSidesTable& table = three_sides_table();
  const double p = s < 2.0 ? value_of(table.below_two, std::sqrt(2.0 - s))
                            : value_of(table.above_two, s);
  return std::clamp(p, 0.0, 1.0);
}

}  // namespace polygons::sim
