#pragma once
// The exact distribution of the perimeter, the curve a run's histogram
// converges to: its cumulative distribution function and the probability
// of each class.

#include <cstdint>
#include <span>
#include <vector>

#include "sim/exact_moments.hpp"

namespace polygons::sim {

// Probability that the perimeter of the polygon through `sides` points
// uniform on a circle of radius `radius` is at most x. The perimeter is
// 2 radius S with S the sum of the sides on the unit circle halved, in
// [0, sides sin(pi / sides)]: a negative radius gives P(S >= x / (2 radius)),
// a radius of 0 (and 1 side, whose perimeter is 0) a point mass at 0.
// Accepts any finite radius and 1 to kMaxExactSides sides; throws
// std::invalid_argument otherwise, or for a nan x.
double exact_perimeter_cdf(std::int32_t sides, double radius, double x);

// The exact probability of each class [edges[i], edges[i + 1]) for
// strictly increasing finite edges (edges.size() - 1 values, none for fewer
// than 2 edges); the mass outside [edges.front(), edges.back()) is in no
// class. Throws std::invalid_argument as exact_perimeter_cdf does, or for
// edges that are not finite and strictly increasing. What is computed once
// per number of sides (from 30 on: up to half a second) is computed on up
// to `threads` threads, with the same result whatever their number.
std::vector<double> exact_class_probabilities(std::int32_t sides, double radius,
                                              std::span<const double> edges, int threads = 1);

// Whether the two functions above know the distribution of `sides` sides
// (within 1e-9, checked against independent computations): 1 to
// kMaxExactSides.
bool has_exact_distribution(std::int32_t sides);

}  // namespace polygons::sim
