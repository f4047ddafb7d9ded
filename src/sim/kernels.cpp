#include "sim/kernels.hpp"

#include <array>

namespace polygons::sim {

namespace {

// a * s mod m for m = 2^31 - c: with p = hi * 2^31 + lo, p = hi * c + lo (mod m).
// Gives exactly the value of the Schrage step; the 64-bit form vectorises.
template <std::uint64_t A, std::uint64_t C>
inline std::uint64_t step(std::uint64_t s) {
  constexpr std::uint64_t m = (std::uint64_t{1} << 31) - C;
  const std::uint64_t p = A * s;
  const std::uint64_t t = (p >> 31) * C + (p & 0x7FFFFFFFu);
  return t >= m ? t - m : t;
}

constexpr std::uint64_t kC1 = (std::uint64_t{1} << 31) - kM1;  // 85
constexpr std::uint64_t kC2 = (std::uint64_t{1} << 31) - kM2;  // 249

std::uint64_t power_mod(std::uint64_t base, std::uint64_t exponent, std::uint64_t modulus) {
  std::uint64_t result = 1;
  while (exponent > 0) {
    if (exponent & 1) result = result * base % modulus;
    base = base * base % modulus;
    exponent >>= 1;
  }
  return result;
}

__attribute__((target_clones("avx512f", "avx2", "default")))
void draw_lanes(std::uint64_t* s1, std::uint64_t* s2, std::int32_t* out, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    for (std::size_t j = 0; j < kDrawLanes; ++j) {
      s1[j] = step<kA1, kC1>(s1[j]);
      s2[j] = step<kA2, kC2>(s2[j]);
      std::int64_t z = static_cast<std::int64_t>(s1[j]) - static_cast<std::int64_t>(s2[j]);
      if (z <= 0) z += kM1 - 1;
      out[j * length + i] = static_cast<std::int32_t>(z);
    }
  }
}

// Taylor coefficients of sin: (-1)^k / (2k+1)!, k = 1 .. 10; the first term
// left out is below 1.2e-18 on [0, pi/2].
constexpr std::array<double, 10> kSinCoefficients = {
    -1.0 / 6.0,
    1.0 / 120.0,
    -1.0 / 5040.0,
    1.0 / 362880.0,
    -1.0 / 39916800.0,
    1.0 / 6227020800.0,
    -1.0 / 1307674368000.0,
    1.0 / 355687428096000.0,
    -1.0 / 121645100408832000.0,
    1.0 / 51090942171709440000.0,
};

}  // namespace

LaneMultipliers lane_multipliers(std::size_t count) {
  LaneMultipliers m;
  m.length = count / kDrawLanes;
  m.a1 = power_mod(kA1, m.length, kM1);
  m.a2 = power_mod(kA2, m.length, kM2);
  return m;
}

void draw_integers(SeedState& state, std::int32_t* out, std::size_t count,
                   const LaneMultipliers& multipliers) {
  const std::size_t length = count / kDrawLanes;
  std::size_t done = 0;
  if (length > 0) {
    const LaneMultipliers m =
        multipliers.length == length ? multipliers : lane_multipliers(count);
    alignas(64) std::uint64_t s1[kDrawLanes], s2[kDrawLanes];
    s1[0] = static_cast<std::uint64_t>(state.s1);
    s2[0] = static_cast<std::uint64_t>(state.s2);
    for (std::size_t j = 1; j < kDrawLanes; ++j) {
      s1[j] = s1[j - 1] * m.a1 % kM1;
      s2[j] = s2[j - 1] * m.a2 % kM2;
    }
    draw_lanes(s1, s2, out, length);
    state.s1 = static_cast<std::int32_t>(s1[kDrawLanes - 1]);
    state.s2 = static_cast<std::int32_t>(s2[kDrawLanes - 1]);
    done = length * kDrawLanes;
  }
  for (; done < count; ++done) out[done] = next_integer(state);
}

__attribute__((target_clones("avx512f", "avx2", "default")))
void sin_pi_turns(double* values, std::size_t count, double pi) {
  for (std::size_t i = 0; i < count; ++i) {
    const double x = values[i];
    const double t = x < 0.5 ? x : 1.0 - x;  // sin(pi x) = sin(pi (1 - x)); exact
    const double a = t * pi;
    const double a2 = a * a;
    double q = kSinCoefficients[9];
    for (int k = 8; k >= 0; --k) q = q * a2 + kSinCoefficients[k];
    values[i] = a + a * (a2 * q);
  }
}

}  // namespace polygons::sim
