#include "sim/sine_deficit_law.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "sim/exact_moments.hpp"
#include "sim/share_out.hpp"

// Take X_1 .. X_n independent with density lambda exp(-lambda x), x >= 0,
// lambda = n. Given T = X_1 + ... + X_n = 1 they are uniform on the simplex,
// so the density of W at w is f(1, w) / f_T(1), f the joint density of
// (T, V = h(X_1) + ... + h(X_n)), and the characteristic function of W is
//   phi(v) = I(v) / I(0),  I(v) = (1 / 2 pi) int exp(-i u) psi(u, v)^n du,
// psi(u, v) = E exp(i (u X + v h(X))).
// - The u-integral is a sum over u_k = k hu, hu = 2 pi / c: by Poisson's
//   formula that adds the terms of T = 1 + c, 1 + 2c, ... (those of
//   T = 1 - c, ... vanish, T >= 0), and c is chosen so that
//   f_T(1 + c) / f_T(1) < e^-40. It stops at |u| = U where
//   (1 + (U / n)^2)^(-n / 2) = 1e-30: for large v, psi(u, v) has a bump near
//   u = -v h'(x) that a cut at 1e-18 left out, and that showed as a false
//   feature of the density near w = 0 some 1e-8 high.
// - psi is a composite Gauss-Legendre sum along x = r (1 + i slope): h is
//   entire, Im h(x) >= 0 there for r < 1.6 and slopes up to 0.5, so
//   exp(i v h(x)) decays instead of turning fast, and the path may end where
//   its terms are below 1e-22 or at r = 1.5 (the slope keeps
//   lambda - U slope >= 21, so exp(-21 * 1.5) bounds what is left). Each
//   panel spans a phase and a decay of at most 6 per half-width, where 16
//   nodes are exact to about 1e-20.
// On the window [low, low + width] the density of W is the Fourier series
// of the coefficients phi(v_j) exp(-i v_j low), v_j = 2 pi j / width; its
// integral is the series of DeficitSeries. The window starts at the least
// W, n h(1 / n) (all gaps equal), and ends 12 standard deviations above the
// mean plus h(g), g the gap that the largest gap exceeds with probability
// below e^-28 (W is large when one gap is): some 0.66 at 30 sides, which
// leaves out the 60% of [low, pi] where W has no mass that counts. The
// coefficients stop when three in a row are below 1e-15 (they fall fast:
// the density vanishes like (w - low)^((n - 3) / 2) at low and is smooth
// elsewhere).
// Checked against the table made arc by arc (sim/split_arc_law.hpp), a
// method of its own, within 2e-13 at 20 to 30 sides; and against the same
// series with a wider window, more terms and a longer u-sum within 1e-13
// up to 1000 sides and 1e-11 at 10000, where a double's last digit in w is
// some 1e-8 of a standard deviation.

namespace polygons::sim {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kNodes = 16;
constexpr double kUpperReach = 12.0;  // standard deviations of W above its mean
constexpr double kTailExponent = 28.0;
constexpr int kMaxTerms = 6000;
constexpr int kBatchPerThread = 4;  // terms computed side by side, per thread
constexpr double kLeastDecay = 21.0;  // of lambda - |u| slope, so that the path may end at
constexpr double kPathEnd = 1.5;     // r = 1.5, below which Im h(x) >= 0 for slopes <= 0.5
constexpr double kMostSlope = 0.5;

struct GaussRule {
  std::array<double, kNodes> x{}, w{};
};

// The Gauss-Legendre rule of kNodes nodes on [-1, 1], by Newton's method.
GaussRule make_gauss_rule() {
  GaussRule rule;
  for (int i = 0; i < kNodes; ++i) {
    double x = std::cos(kPi * (i + 0.75) / (kNodes + 0.5));
    double derivative = 1.0;
    for (int iteration = 0; iteration < 100; ++iteration) {
      double p0 = 1.0, p1 = x;
      for (int k = 2; k <= kNodes; ++k) {
        const double p2 = ((2.0 * k - 1.0) * x * p1 - (k - 1.0) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      derivative = kNodes * (x * p1 - p0) / (x * x - 1.0);
      const double step = p1 / derivative;
      x -= step;
      if (std::abs(step) < 1e-16) break;
    }
    rule.x[i] = x;
    rule.w[i] = 2.0 / ((1.0 - x * x) * derivative * derivative);
  }
  return rule;
}

const GaussRule& gauss_rule() {
  static const GaussRule rule = make_gauss_rule();
  return rule;
}

using Complex = std::complex<double>;

template <typename Number>
Number sine_deficit(Number x) {
  const Number y = kPi * x;
  if (std::abs(y) > 0.5) return y - std::sin(y);
  // y^3 / 3! - y^5 / 5! + ...: each term below 1/20 of the one before.
  const Number y2 = y * y;
  Number term = y * y2 / 6.0, sum = 0.0;
  for (int k = 5; k < 40; k += 2) {
    sum += term;
    term *= -y2 / ((k - 1.0) * k);
    if (std::abs(term) <= 1e-18 * std::abs(sum)) break;
  }
  return sum;
}


// The u-grid and the path of x of one number of sides.
struct Grid {
  double n = 0.0;
  double hu = 0.0;     // step of u
  int steps = 0;       // u_k for k = -steps .. steps
  double slope = 0.0;  // x = r (1 + i slope), r >= 0
};

Grid grid_for(std::int32_t sides) {
  Grid g;
  g.n = sides;
  double c = 1.0;
  while ((g.n - 1.0) * std::log1p(c) - g.n * c > -40.0) c += 0.25;
  g.hu = 2.0 * kPi / c;
  const double u_end = g.n * std::sqrt(std::expm1(60.0 * std::log(10.0) / g.n));
  g.steps = static_cast<int>(std::ceil(u_end / g.hu));
  g.slope = std::clamp((g.n - kLeastDecay) / u_end, 0.0, kMostSlope);
  return g;
}

// The nodes of psi(., v) on the path: position x and weight
// lambda exp(-lambda x + i v h(x)) dx.
struct Nodes {
  std::vector<Complex> x, weight;
};

Nodes nodes_for(const Grid& g, double v) {
  const GaussRule& rule = gauss_rule();
  const double u_end = g.hu * g.steps;
  const Complex direction(1.0, g.slope);
  // The modulus of d/dr of the exponent, and the modulus of the integrand
  // with the largest |u|.
  auto rate = [&](double r) {
    const double phase = u_end + v * kPi * (1.0 - std::cos(kPi * r)) * std::abs(direction);
    return std::abs(direction) * std::hypot(g.n, phase) + 1e-300;
  };
  auto size = [&](double r) {
    const Complex x = r * direction;
    return g.n * std::exp(-(g.n - u_end * g.slope) * r - v * sine_deficit(x).imag());
  };
  Nodes nodes;
  for (double left = 0.0; left < kPathEnd && size(left) > 1e-22;) {
    const double guess = std::min(left + 12.0 / rate(left), kPathEnd);
    const double right = std::min(left + 12.0 / rate(guess), kPathEnd);
    const double half = 0.5 * (right - left), mid = 0.5 * (right + left);
    for (int i = 0; i < kNodes; ++i) {
      const Complex x = (mid + half * rule.x[i]) * direction;
      nodes.x.push_back(x);
      nodes.weight.push_back(half * rule.w[i] * g.n * direction *
                             std::exp(-g.n * x + Complex(0.0, v) * sine_deficit(x)));
    }
    left = right;
  }
  return nodes;
}

// a += b * c, without the checks of the library's complex product.
inline void add_product(Complex& a, Complex b, Complex c) {
  a = Complex(a.real() + b.real() * c.real() - b.imag() * c.imag(),
              a.imag() + b.real() * c.imag() + b.imag() * c.real());
}

inline Complex product(Complex b, Complex c) {
  return Complex(b.real() * c.real() - b.imag() * c.imag(),
                 b.real() * c.imag() + b.imag() * c.real());
}

// I(v) as the sum over the u-grid.
Complex joint_at_one(const Grid& g, double v) {
  const Nodes nodes = nodes_for(g, v);
  const std::size_t m = nodes.x.size();
  std::vector<Complex> up_power(nodes.weight), down_power(nodes.weight), up_step(m), down_step(m);
  for (std::size_t i = 0; i < m; ++i) {
    up_step[i] = std::exp(Complex(0.0, g.hu) * nodes.x[i]);
    down_step[i] = std::exp(Complex(0.0, -g.hu) * nodes.x[i]);
  }
  auto term = [&](Complex psi, double u) {
    return std::exp(g.n * std::log(psi) - Complex(0.0, u));
  };
  Complex sum = 0.0;
  for (int k = 0; k <= g.steps; ++k) {
    Complex up = 0.0, down = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
      up += up_power[i];
      down += down_power[i];
      up_power[i] = product(up_power[i], up_step[i]);
      down_power[i] = product(down_power[i], down_step[i]);
    }
    const double u = k * g.hu;
    sum += term(up, u);
    if (k > 0) sum += term(down, -u);
  }
  return sum * (g.hu / (2.0 * kPi));
}

}  // namespace

double sine_deficit(double x) { return sine_deficit<double>(x); }

void deficit_cdfs(const DeficitSeries& series, std::span<const double> w, std::span<double> cdf) {
  std::vector<std::size_t> inside;
  for (std::size_t i = 0; i < w.size(); ++i) {
    if (!(w[i] > series.low)) {
      cdf[i] = 0.0;
    } else if (w[i] >= series.low + series.width) {
      cdf[i] = 1.0;
    } else {
      inside.push_back(i);
    }
  }
  // Horner's rule for a few points side by side: each one's steps wait on
  // the one before, and independent chains keep the multiplier busy.
  constexpr std::size_t kAtOnce = 4;
  for (std::size_t start = 0; start < inside.size(); start += kAtOnce) {
    const std::size_t count = std::min(kAtOnce, inside.size() - start);
    std::array<double, kAtOnce> t{};
    std::array<Complex, kAtOnce> z{}, sum{};
    for (std::size_t k = 0; k < kAtOnce; ++k) {
      if (k < count) t[k] = (w[inside[start + k]] - series.low) / series.width;
      z[k] = std::polar(1.0, -2.0 * kPi * t[k]);
    }
    for (std::size_t j = series.d.size(); j-- > 0;) {
      for (std::size_t k = 0; k < kAtOnce; ++k) sum[k] = product(sum[k] + series.d[j], z[k]);
    }
    for (std::size_t k = 0; k < count; ++k) {
      cdf[inside[start + k]] = std::clamp(t[k] + series.constant - sum[k].real(), 0.0, 1.0);
    }
  }
}

double deficit_cdf(const DeficitSeries& series, double w) {
  double cdf = 0.0;
  deficit_cdfs(series, std::span<const double>(&w, 1), std::span<double>(&cdf, 1));
  return cdf;
}

DeficitSeries deficit_series(std::int32_t sides, int threads) {
  const Grid g = grid_for(sides);
  const PerimeterMoments moments = exact_perimeter_moments(sides, 0.5);
  const double mean_w = kPi - moments.mean, sd_w = moments.stdev;
  DeficitSeries series;
  series.low = g.n * sine_deficit(1.0 / g.n);
  // W is large when one gap is: P(largest gap > g) <= n (1 - g)^(n - 1).
  const double gap = -std::expm1(-(std::log(g.n) + kTailExponent) / (g.n - 1.0));
  const double high = std::min(kPi, mean_w + sine_deficit(gap) + kUpperReach * sd_w);
  series.width = high - series.low;
  const Complex at_zero = joint_at_one(g, 0.0);
  // The terms are independent: a batch of them at a time over the cores,
  // then taken in order up to the third small one in a row, as one thread
  // would.
  threads = std::clamp(threads, 1, 256);
  std::vector<Complex> batch(static_cast<std::size_t>(kBatchPerThread * std::max(threads, 2)));
  int quiet = 0;
  for (int first = 1; first <= kMaxTerms && quiet < 3; first += static_cast<int>(batch.size())) {
    share_out(batch.size(), threads, [&](std::size_t i) {
      const double v = 2.0 * kPi * (first + static_cast<int>(i)) / series.width;
      const Complex c = joint_at_one(g, v) / at_zero * std::polar(1.0, -v * series.low);
      batch[i] = Complex(0.0, -2.0) * c / (v * series.width);
    });
    for (std::size_t i = 0; i < batch.size() && first + static_cast<int>(i) <= kMaxTerms && quiet < 3; ++i) {
      series.d.push_back(batch[i]);
      series.constant += batch[i].real();
      quiet = std::abs(batch[i]) < 1e-15 ? quiet + 1 : 0;
    }
  }
  return series;
}

}  // namespace polygons::sim
