#pragma once
// The law of S = sin(pi D_1) + sin(pi D_2) + sin(pi D_3), the D_i the arcs
// between 3 points uniform on a circle, in full turns.

namespace polygons::sim {

// P(S <= s), to about 1e-14.
double three_sides_cdf(double s);

}  // namespace polygons::sim
