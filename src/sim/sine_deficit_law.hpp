#pragma once
// The law of W = pi - S, S = sin(pi D_1) + ... + sin(pi D_n) with the D_i
// uniform on the simplex (the arcs between n points uniform on a circle, in
// full turns), from its characteristic function. W = sum of
// h(D_i), h(d) = pi d - sin(pi d) >= 0, lies in [n h(1 / n), pi].

#include <complex>
#include <cstdint>
#include <span>
#include <vector>

namespace polygons::sim {

// h(x) = pi x - sin(pi x), to full relative precision also for small x.
double sine_deficit(double x);

// The distribution function of W as a Fourier series on the window
// [low, low + width], outside which W has no mass that counts:
//   P(W <= w) = (w - low) / width + constant - Re sum_j d_j z^j,
//   z = exp(-2 pi i (w - low) / width), j = 1 .. d.size().
struct DeficitSeries {
  double low = 0.0;
  double width = 1.0;
  double constant = 0.0;
  std::vector<std::complex<double>> d;
};

// P(W <= w) from the series, kept in [0, 1].
double deficit_cdf(const DeficitSeries& series, double w);

// The same for each w[i], into cdf[i] (of the same size): several at a time.
void deficit_cdfs(const DeficitSeries& series, std::span<const double> w, std::span<double> cdf);

// The series for n sides (n >= 4), its terms computed on up to `threads`
// threads (the same series whatever their number); the fewer the sides, the
// longer it takes: measured on one thread, some 0.5 to 0.7 s at 30 sides,
// 0.2 s at 40, 0.1 s at 60, 50 ms at 100 and 15 to 30 ms from 1000 on,
// about half that on two. Below 30 sides the program takes the law from a
// table instead (sim/few_sides_law.hpp).
DeficitSeries deficit_series(std::int32_t sides, int threads = 1);

}  // namespace polygons::sim
