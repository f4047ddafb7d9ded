#pragma once
// L'Ecuyer's combined multiplicative congruential generator (CACM 31, 1988):
// two prime-modulus generators combined by subtraction. Every random number of
// a run comes from one stream of it (what a run promises about that stream:
// sim/engine.hpp). Many draws at once: sim/random_lanes.hpp.

#include <cstdint>
#include <span>

namespace polygons::sim {

// The generator state. A value: copy it, advance it, jump it.
struct SeedState {
  std::int32_t s1 = 2147483562;  // 1 .. m1 - 1
  std::int32_t s2 = 2147483398;  // 1 .. m2 - 1
  bool operator==(const SeedState&) const = default;
};

inline constexpr std::int32_t kM1 = 2147483563, kA1 = 40014, kQ1 = 53668, kR1 = 12211;
inline constexpr std::int32_t kM2 = 2147483399, kA2 = 40692, kQ2 = 52774, kR2 = 3791;

// The combined integer of one step, 1 .. m1 - 1; advances `state`.
inline std::int32_t next_integer(SeedState& state) {
  std::int32_t k = state.s1 / kQ1;
  state.s1 = kA1 * (state.s1 - k * kQ1) - k * kR1;
  if (state.s1 < 0) state.s1 += kM1;
  k = state.s2 / kQ2;
  state.s2 = kA2 * (state.s2 - k * kQ2) - k * kR2;
  if (state.s2 < 0) state.s2 += kM2;
  std::int32_t z = state.s1 - state.s2;
  if (z <= 0) z += kM1 - 1;
  return z;
}

// The exact double that maps the combined integer into (0, 1); it differs in
// its last bits from the double nearest to 1/m1.
double scale();

// The uniform number of one combined integer.
inline double uniform_of(std::int32_t z) { return static_cast<double>(z) * scale(); }

// One draw in the open interval (0, 1); advances `state`.
inline double for_random_number(SeedState& state) { return uniform_of(next_integer(state)); }

// The seed size in bits.
int for_random_seed_bit_size();

// Sets the state from seed words: s1 from words[0], s2 from words[1].
void for_random_seed_put(SeedState& state, std::span<const std::uint32_t> words);

// Seeds from the clock (seconds since the epoch plus processor time).
void for_random_seed_put(SeedState& state);

// The run's seeding: a non-zero seed gives a reproducible stream, 0 the clock.
void random_init(SeedState& state, std::int32_t iseed);

// base^exponent mod modulus, by repeated squaring in O(log exponent). Each
// component of the generator is multiplicative, s' = a s mod m, so k steps on
// it is s a^k mod m. The modulus must be below 2^32.
constexpr std::uint64_t power_mod(std::uint64_t base, std::uint64_t exponent,
                                  std::uint64_t modulus) {
  std::uint64_t result = 1;
  base %= modulus;
  while (exponent > 0) {
    if (exponent & 1) result = result * base % modulus;
    base = base * base % modulus;
    exponent >>= 1;
  }
  return result;
}

// The state `steps` draws after `state`, in O(log steps).
constexpr SeedState seed_ahead(SeedState state, std::uint64_t steps) {
  const std::uint64_t s1 = static_cast<std::uint64_t>(state.s1) * power_mod(kA1, steps, kM1) % kM1;
  const std::uint64_t s2 = static_cast<std::uint64_t>(state.s2) * power_mod(kA2, steps, kM2) % kM2;
  return SeedState{static_cast<std::int32_t>(s1), static_cast<std::int32_t>(s2)};
}

// Moves `state` `steps` draws on, as that many calls of next_integer would.
constexpr void advance(SeedState& state, std::uint64_t steps) { state = seed_ahead(state, steps); }

}  // namespace polygons::sim
