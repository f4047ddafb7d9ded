#include "sim/random.hpp"

#include <bit>
#include <ctime>
#include <vector>

namespace polygons::sim {

double scale() {
  static const double value = std::bit_cast<double>(std::uint64_t{0x3E0000000A9FFFFE});
  return value;
}

int for_random_seed_bit_size() { return 64; }

namespace {

// Reduction of a seed word into 1 .. modulus, as ((w - 1) mod modulus) + 1;
// a zero word gives the modulus itself.
std::int32_t reduce_seed_word(std::uint32_t word, std::uint32_t modulus) {
  if (word == 0) return static_cast<std::int32_t>(modulus);
  return static_cast<std::int32_t>((word - 1) % modulus + 1);
}

}  // namespace

void for_random_seed_put(SeedState& state, std::span<const std::uint32_t> words) {
  state.s1 = reduce_seed_word(words.size() > 0 ? words[0] : 0, kM1 - 1);
  state.s2 = reduce_seed_word(words.size() > 1 ? words[1] : 0, kM2 - 1);
}

void for_random_seed_put(SeedState& state) {
  std::int64_t t =
      static_cast<std::int64_t>(std::time(nullptr)) + static_cast<std::int64_t>(std::clock());
  auto t32 = static_cast<std::uint32_t>(t);
  // Arithmetic right shifts of the signed 32-bit value, as the seeding defines.
  auto sar = [](std::uint32_t v, int bits) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(v) >> bits);
  };
  std::uint32_t w0 = (t32 << 16) | sar(t32, 16);
  std::uint32_t w1 = (w0 << 4) | sar(w0, 28);
  const std::uint32_t words[2] = {w0, w1};
  for_random_seed_put(state, words);
}

void random_init(SeedState& state, std::int32_t iseed) {
  if (iseed == 0) {
    for_random_seed_put(state);
    return;
  }
  int count = for_random_seed_bit_size() / 32;
  std::vector<std::uint32_t> words(count > 0 ? count : 0, static_cast<std::uint32_t>(iseed));
  for_random_seed_put(state, words);
}

}  // namespace polygons::sim
