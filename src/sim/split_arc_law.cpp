#include "sim/split_arc_law.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/series_and_rules.hpp"
#include "sim/share_out.hpp"
#include "sim/sine_deficit_law.hpp"

// How G_k(t, w) is computed at a point:
// - The integrand is analytic in x except where (t (1 - x), w - h(t x))
//   crosses an edge e_j of k - 1 arcs, that is at the roots of
//   phi_j(x) = w - h(t x) - e_j(t (1 - x)). phi_j is concave with its top at
//   x = 1 / (j + 1), where it is w - e_{j+1}(t): so it has a root on each
//   side of that top or none, found by bisection. The integral is split at
//   the roots and at the tops (where two roots close to each other, or a
//   pair of complex ones, come near the path), and each piece is taken by
//   the tanh-sinh rule, which keeps its accuracy with singular points at or
//   near the ends of a piece.
// - Between the edges, G_{k-1} is 0 below the lowest, 1 above the highest,
//   and its table elsewhere.
// Levels of 16 x 32 terms, with the rule's step 1/8, agree with levels of
// 24 x 48 terms and steps of 1/12 and 1/16 within 2e-14 for 4 to 29 arcs.
// G_3(1, .) agrees with the three-sided integral within 1e-14, G_4(1, .)
// with 30-digit integrals within 3e-15, and G_20(1, .) to G_30(1, .) with
// the Fourier series of sim/sine_deficit_law.hpp within 2e-13.

namespace polygons::sim {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kLevelStepsPerUnit = 8;   // tanh-sinh step 1/8 for the levels' tables
constexpr int kFinalStepsPerUnit = 12;  // and 1/12 for the whole circle
constexpr double kNegligibleMass = 1e-18;
constexpr double kNegligibleTerm = 2e-15;  // 48 of them add up to 1e-13

// G_2(t, w): the two arcs are t U and t (1 - U), and their sines add up to
// 2 sin(pi t / 2) cos(pi t (U - 1/2)); written with w - e_2(t) so that it
// keeps its precision for small t.
double pair_cdf(double t, double w) {
  const double low = equal_arcs_deficit(2, t);
  if (!(w > low)) return 0.0;
  if (w >= equal_arcs_deficit(1, t)) return 1.0;
  const double drop = (w - low) / (2.0 * std::sin(kPi * t / 2.0));  // 1 - cos(pi t (U - 1/2))
  return std::min(1.0, 4.0 / (kPi * t) * std::asin(std::sqrt(drop / 2.0)));
}

double cdf_in_strip(const ArcLevel& level, std::int32_t strip, double t, double w) {
  if (level.arcs == 2) return pair_cdf(t, w);
  const std::span<const double> c(
      level.coefficients.data() + static_cast<std::size_t>(strip - 1) * kTimeTerms * kStripTerms,
      static_cast<std::size_t>(kTimeTerms) * kStripTerms);
  const double tau = strip_position(strip, t, w);
  double by_time[kTimeTerms];
  for (int a = 0; a < kTimeTerms; ++a) {
    by_time[a] = chebyshev_value(c.subspan(a * kStripTerms, kStripTerms), tau);
  }
  return chebyshev_value(by_time, t * t);
}

// The points where the integrand of G_k(t, w) is not analytic, with 0 and 1.
std::vector<double> cuts_of(std::int32_t arcs, double t, double w) {
  std::vector<double> cuts = {0.0, 1.0};
  for (std::int32_t j = 1; j < arcs; ++j) {
    if (!(w > equal_arcs_deficit(j + 1, t))) continue;  // phi_j < 0 throughout
    const double top = 1.0 / (j + 1);
    auto phi = [&](double x) { return w - sine_deficit(t * x) - equal_arcs_deficit(j, t * (1.0 - x)); };
    cuts.push_back(top);
    if (w < equal_arcs_deficit(j, t)) cuts.push_back(bisection_root(phi, 0.0, top));
    cuts.push_back(bisection_root(phi, top, 1.0));
  }
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

// G_k(t, w), k = level.arcs + 1, by the integral over the first arc.
double next_cdf(const ArcLevel& level, double t, double w, int steps) {
  const std::int32_t arcs = level.arcs + 1;
  const std::vector<double> cuts = cuts_of(arcs, t, w);
  double sum = 0.0;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    const double a = cuts[i], b = cuts[i + 1];
    const double mass = std::pow(1.0 - a, arcs - 1) - std::pow(1.0 - b, arcs - 1);
    if (!(b > a) || mass < kNegligibleMass) continue;
    const double mid = 0.5 * (a + b);
    const std::int32_t strip = strip_of(level.arcs, t * (1.0 - mid), w - sine_deficit(t * mid));
    if (strip == 0) continue;
    if (strip == level.arcs) {
      sum += mass;
      continue;
    }
    sum += tanh_sinh(
        [&](double x) {
          return (arcs - 1) * std::pow(1.0 - x, arcs - 2) *
                 cdf_in_strip(level, strip, t * (1.0 - x), w - sine_deficit(t * x));
        },
        a, b, steps);
  }
  return std::clamp(sum, 0.0, 1.0);
}

// The deficit at position tau of strip j at t.
double deficit_at(std::int32_t strip, double t, double tau) {
  const double low = equal_arcs_deficit(strip + 1, t), high = equal_arcs_deficit(strip, t);
  return low + 0.5 * (1.0 - std::cos(kPi * tau)) * (high - low);
}

// The 2D Chebyshev coefficients of the values at the points of a level's
// strip, values[a * kStripTerms + b] at (t^2, tau) = (point a, point b).
void strip_coefficients(const double* values, double* out) {
  std::vector<std::vector<double>> rows(kStripTerms, std::vector<double>(kTimeTerms));
  for (int a = 0; a < kTimeTerms; ++a) {
    const std::vector<double> c =
        chebyshev_coefficients(std::span<const double>(values + a * kStripTerms, kStripTerms));
    for (int b = 0; b < kStripTerms; ++b) rows[b][a] = c[b];
  }
  for (int b = 0; b < kStripTerms; ++b) {
    const std::vector<double> c = chebyshev_coefficients(rows[b]);
    for (int a = 0; a < kTimeTerms; ++a) out[a * kStripTerms + b] = c[a];
  }
}

}  // namespace

double equal_arcs_deficit(std::int32_t arcs, double t) { return arcs * sine_deficit(t / arcs); }

std::int32_t strip_of(std::int32_t arcs, double t, double w) {
  if (!(w > equal_arcs_deficit(arcs, t))) return 0;  // all arcs equal: no mass below
  if (w >= equal_arcs_deficit(1, t)) return arcs;
  std::int32_t low = 1, high = arcs - 1;  // the strip j is the least with e_{j+1} <= w
  while (low < high) {
    const std::int32_t mid = (low + high) / 2;
    if (w >= equal_arcs_deficit(mid + 1, t)) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return low;
}

double strip_position(std::int32_t strip, double t, double w) {
  const double low = equal_arcs_deficit(strip + 1, t), high = equal_arcs_deficit(strip, t);
  const double share = std::clamp((w - low) / (high - low), 0.0, 1.0);
  return std::acos(1.0 - 2.0 * share) / kPi;
}

double arc_level_cdf(const ArcLevel& level, double t, double w) {
  const std::int32_t strip = strip_of(level.arcs, t, w);
  if (strip == 0) return 0.0;
  if (strip == level.arcs) return 1.0;
  return std::clamp(cdf_in_strip(level, strip, t, w), 0.0, 1.0);
}

ArcLevel next_arc_level(const ArcLevel& level, int threads) {
  ArcLevel next;
  next.arcs = level.arcs + 1;
  const std::size_t strips = static_cast<std::size_t>(next.arcs - 1);
  const std::size_t per_strip = static_cast<std::size_t>(kTimeTerms) * kStripTerms;
  std::vector<double> values(strips * per_strip);
  // One piece of work: one strip at one t.
  share_out(strips * kTimeTerms, threads, [&](std::size_t item) {
    const auto strip = static_cast<std::int32_t>(item / kTimeTerms + 1);
    const int a = static_cast<int>(item % kTimeTerms);
    const double t = std::sqrt(chebyshev_point(a, kTimeTerms));
    double* out = values.data() + item * kStripTerms;
    for (int b = 0; b < kStripTerms; ++b) {
      out[b] = next_cdf(level, t, deficit_at(strip, t, chebyshev_point(b, kStripTerms)),
                        kLevelStepsPerUnit);
    }
  });
  next.coefficients.resize(values.size());
  for (std::size_t strip = 0; strip < strips; ++strip) {
    strip_coefficients(values.data() + strip * per_strip, next.coefficients.data() + strip * per_strip);
  }
  return next;
}

std::vector<std::vector<double>> whole_circle_strips(const ArcLevel& level, int threads) {
  std::vector<std::vector<double>> strips(static_cast<std::size_t>(level.arcs));
  share_out(strips.size(), threads, [&](std::size_t item) {
    const auto strip = static_cast<std::int32_t>(item + 1);
    std::vector<double> values(kWholeCircleTerms);
    for (int b = 0; b < kWholeCircleTerms; ++b) {
      values[b] = next_cdf(level, 1.0, deficit_at(strip, 1.0, chebyshev_point(b, kWholeCircleTerms)),
                           kFinalStepsPerUnit);
    }
    strips[item] = chebyshev_coefficients(values);
  });
  return strips;
}

std::vector<double> without_negligible_terms(std::vector<double> coefficients) {
  while (!coefficients.empty() && std::abs(coefficients.back()) < kNegligibleTerm) {
    coefficients.pop_back();
  }
  return coefficients;
}

}  // namespace polygons::sim
