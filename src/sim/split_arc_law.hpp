#pragma once
// The law of the deficit of k arcs that together span a part t of the
// circle (in full turns):
//   W_k(t) = h(t D_1) + ... + h(t D_k),  h(x) = pi x - sin(pi x),
// the D_i uniform on the simplex. For t = 1 it is pi - S, S the sum of the
// sines whose double is the perimeter on the unit circle. Its distribution
// function G_k(t, w) = P(W_k(t) <= w) is built arc by arc: the first arc
// has density (k - 1)(1 - x)^(k - 2), and the other k - 1 span t (1 - x),
//   G_k(t, w) = int_0^1 (k - 1)(1 - x)^(k - 2) G_{k-1}(t (1 - x), w - h(t x)) dx.
// G_2 is known in closed form. This takes minutes for some 30 arcs, so the
// program does not build it when it runs: a table of G_n(1, .) made once
// with it ships with the program (sim/few_sides_law.hpp).

#include <cstdint>
#include <vector>

namespace polygons::sim {

// e_j(t) = j h(t / j): the deficit of j arcs that share t equally, the
// others empty. For fixed t, e_1(t) > e_2(t) > ... : W_k(t) lies in
// [e_k(t), e_1(t)], and its law is analytic between two neighbours of these
// (the strips), with powers of half-integers at their ends.
double equal_arcs_deficit(std::int32_t arcs, double t);

// The strip of k arcs that holds w at t: j with e_{j+1}(t) <= w < e_j(t);
// but 0 up to and at e_k(t) (where G_k is 0), k from e_1(t) up (where it
// is 1).
std::int32_t strip_of(std::int32_t arcs, double t, double w);

// The place of w in strip j, in [0, 1], with the ends' square roots taken
// out: tau where (w - e_{j+1}) / (e_j - e_{j+1}) = (1 - cos(pi tau)) / 2.
double strip_position(std::int32_t strip, double t, double w);

// kTimeTerms x kStripTerms Chebyshev coefficients for each strip of k arcs:
// in t^2 and in the strip position, both mapped onto [-1, 1].
inline constexpr int kTimeTerms = 16;
inline constexpr int kStripTerms = 32;

struct ArcLevel {
  std::int32_t arcs = 2;             // 2: the closed form, no table
  std::vector<double> coefficients;  // strip j at (j - 1) kTimeTerms kStripTerms
};

// G_k(t, w) from the level of k arcs.
double arc_level_cdf(const ArcLevel& level, double t, double w);

// The level of one arc more, with up to `threads` threads.
ArcLevel next_arc_level(const ArcLevel& level, int threads);

// Chebyshev coefficients, kWholeCircleTerms for each strip, of G_n(1, .) in
// the strip position, n = level.arcs + 1: the whole circle.
inline constexpr int kWholeCircleTerms = 48;
std::vector<std::vector<double>> whole_circle_strips(const ArcLevel& level, int threads);

// The coefficients without the trailing ones too small to count (the
// series of a strip where G is 0 to the last digit becomes empty).
std::vector<double> without_negligible_terms(std::vector<double> coefficients);

}  // namespace polygons::sim
