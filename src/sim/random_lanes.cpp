#include "sim/random_lanes.hpp"

#if POLYGONS_X86_KERNELS
#include <immintrin.h>
#endif

namespace polygons::sim {

namespace {

constexpr std::uint64_t kC1 = (std::uint64_t{1} << 31) - kM1;  // 85
constexpr std::uint64_t kC2 = (std::uint64_t{1} << 31) - kM2;  // 249

// Two folds of p = hi * 2^31 + lo into hi * c + lo bring a product of two
// 31-bit numbers below 2m; one subtraction finishes the reduction mod m.
template <std::uint64_t C>
inline std::uint64_t mul_mod(std::uint64_t a, std::uint64_t s) {
  constexpr std::uint64_t m = (std::uint64_t{1} << 31) - C;
  // Both factors are below 2^31, so the product fits.
  std::uint64_t t =
      static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) * static_cast<std::uint32_t>(s);
  t = (t >> 31) * C + (t & 0x7FFFFFFFu);
  t = (t >> 31) * C + (t & 0x7FFFFFFFu);
  return t >= m ? t - m : t;
}

inline std::int32_t combined(std::uint64_t s1, std::uint64_t s2) {
  std::int64_t z = static_cast<std::int64_t>(s1) - static_cast<std::int64_t>(s2);
  if (z <= 0) z += kM1 - 1;
  return static_cast<std::int32_t>(z);
}

// The lanes of draw_integers: lane j holds the state after draw
// j + kDrawLanes * i; each row writes kDrawLanes consecutive draws, and the
// lanes move kDrawLanes draws on between rows (one multiplication by
// a^kDrawLanes mod m). The last row does not move them, so the last lane
// ends as the state after the last draw written.
constexpr LaneMoves kStreamMoves = {{1, 1},
                                    {power_mod(kA1, kDrawLanes, kM1),
                                     power_mod(kA2, kDrawLanes, kM2)}};

namespace generic {

void draw_lanes(std::uint64_t* lanes1, std::uint64_t* lanes2, std::int32_t* __restrict out,
                std::size_t rows, std::size_t groups, const LaneMoves& moves) {
  // Local copies: the compiler need not fear that writing a draw changes a lane.
  std::uint64_t s1[kDrawLanes], s2[kDrawLanes];
  for (std::size_t j = 0; j < kDrawLanes; ++j) {
    s1[j] = lanes1[j];
    s2[j] = lanes2[j];
  }
  for (std::size_t i = 0, row = 0;;) {
    for (std::size_t j = 0; j < kDrawLanes; ++j) out[i * kDrawLanes + j] = combined(s1[j], s2[j]);
    if (++i == rows * groups) break;
    const bool jump = ++row == rows;
    if (jump) row = 0;
    const std::uint64_t a1 = jump ? moves.jump[0] : moves.step[0];
    const std::uint64_t a2 = jump ? moves.jump[1] : moves.step[1];
    for (std::size_t j = 0; j < kDrawLanes; ++j) {
      s1[j] = mul_mod<kC1>(a1, s1[j]);
      s2[j] = mul_mod<kC2>(a2, s2[j]);
    }
  }
  for (std::size_t j = 0; j < kDrawLanes; ++j) {
    lanes1[j] = s1[j];
    lanes2[j] = s2[j];
  }
}

}  // namespace generic

#if POLYGONS_X86_KERNELS

// The compiler's own vector headers trip its uninitialised-value warning
// (their undefined pass-through operands); nothing here reads such a value.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

// The same steps with the vector units' 32 x 32 -> 64 bit multiply, which
// the compiler does not find by itself.
POLYGONS_TARGET_AVX512 inline __m512i mul_mod_512(__m512i s, __m512i a, __m512i c, __m512i m) {
  const __m512i low31 = _mm512_set1_epi64(0x7FFFFFFF);
  __m512i t = _mm512_mul_epu32(s, a);
  t = _mm512_add_epi64(_mm512_mul_epu32(_mm512_srli_epi64(t, 31), c), _mm512_and_si512(t, low31));
  t = _mm512_add_epi64(_mm512_mul_epu32(_mm512_srli_epi64(t, 31), c), _mm512_and_si512(t, low31));
  return _mm512_mask_sub_epi64(t, _mm512_cmpge_epu64_mask(t, m), t, m);
}

namespace avx512 {

POLYGONS_TARGET_AVX512 void draw_lanes(std::uint64_t* lanes1, std::uint64_t* lanes2,
                                       std::int32_t* out, std::size_t rows, std::size_t groups,
                                       const LaneMoves& moves) {
  constexpr int kVectors = kDrawLanes / 8;
  const __m512i step1 = _mm512_set1_epi64(moves.step[0]), step2 = _mm512_set1_epi64(moves.step[1]);
  const __m512i jump1 = _mm512_set1_epi64(moves.jump[0]), jump2 = _mm512_set1_epi64(moves.jump[1]);
  const __m512i c1 = _mm512_set1_epi64(kC1), c2 = _mm512_set1_epi64(kC2);
  const __m512i m1 = _mm512_set1_epi64(kM1), m2 = _mm512_set1_epi64(kM2);
  const __m512i wrap = _mm512_set1_epi64(kM1 - 1), zero = _mm512_setzero_si512();
  __m512i s1[kVectors], s2[kVectors];
  for (int v = 0; v < kVectors; ++v) {
    s1[v] = _mm512_loadu_si512(lanes1 + 8 * v);
    s2[v] = _mm512_loadu_si512(lanes2 + 8 * v);
  }
  for (std::size_t i = 0, row = 0;;) {
    for (int v = 0; v < kVectors; ++v) {
      __m512i z = _mm512_sub_epi64(s1[v], s2[v]);
      z = _mm512_mask_add_epi64(z, _mm512_cmple_epi64_mask(z, zero), z, wrap);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * kDrawLanes + 8 * v),
                          _mm512_cvtepi64_epi32(z));
    }
    if (++i == rows * groups) break;
    const bool jump = ++row == rows;
    if (jump) row = 0;
    const __m512i a1 = jump ? jump1 : step1, a2 = jump ? jump2 : step2;
    for (int v = 0; v < kVectors; ++v) {
      s1[v] = mul_mod_512(s1[v], a1, c1, m1);
      s2[v] = mul_mod_512(s2[v], a2, c2, m2);
    }
  }
  for (int v = 0; v < kVectors; ++v) {
    _mm512_storeu_si512(lanes1 + 8 * v, s1[v]);
    _mm512_storeu_si512(lanes2 + 8 * v, s2[v]);
  }
}

}  // namespace avx512

POLYGONS_TARGET_AVX2 inline __m256i mul_mod_256(__m256i s, __m256i a, __m256i c, __m256i m) {
  const __m256i low31 = _mm256_set1_epi64x(0x7FFFFFFF);
  __m256i t = _mm256_mul_epu32(s, a);
  t = _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(t, 31), c), _mm256_and_si256(t, low31));
  t = _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(t, 31), c), _mm256_and_si256(t, low31));
  // t < 2^32, so the signed comparison is the unsigned one.
  const __m256i at_least_m = _mm256_cmpgt_epi64(t, _mm256_sub_epi64(m, _mm256_set1_epi64x(1)));
  return _mm256_sub_epi64(t, _mm256_and_si256(at_least_m, m));
}

namespace avx2 {

POLYGONS_TARGET_AVX2 void draw_lanes(std::uint64_t* lanes1, std::uint64_t* lanes2,
                                     std::int32_t* out, std::size_t rows, std::size_t groups,
                                     const LaneMoves& moves) {
  constexpr int kVectors = kDrawLanes / 4;
  const __m256i step1 = _mm256_set1_epi64x(moves.step[0]);
  const __m256i step2 = _mm256_set1_epi64x(moves.step[1]);
  const __m256i jump1 = _mm256_set1_epi64x(moves.jump[0]);
  const __m256i jump2 = _mm256_set1_epi64x(moves.jump[1]);
  const __m256i c1 = _mm256_set1_epi64x(kC1), c2 = _mm256_set1_epi64x(kC2);
  const __m256i m1 = _mm256_set1_epi64x(kM1), m2 = _mm256_set1_epi64x(kM2);
  const __m256i wrap = _mm256_set1_epi64x(kM1 - 1), one = _mm256_set1_epi64x(1);
  const __m256i low_halves = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  __m256i s1[kVectors], s2[kVectors];
  for (int v = 0; v < kVectors; ++v) {
    s1[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes1 + 4 * v));
    s2[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes2 + 4 * v));
  }
  for (std::size_t i = 0, row = 0;;) {
    for (int v = 0; v < kVectors; ++v) {
      __m256i z = _mm256_sub_epi64(s1[v], s2[v]);
      z = _mm256_add_epi64(z, _mm256_and_si256(_mm256_cmpgt_epi64(one, z), wrap));
      const __m128i packed = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(z, low_halves));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * kDrawLanes + 4 * v), packed);
    }
    if (++i == rows * groups) break;
    const bool jump = ++row == rows;
    if (jump) row = 0;
    const __m256i a1 = jump ? jump1 : step1, a2 = jump ? jump2 : step2;
    for (int v = 0; v < kVectors; ++v) {
      s1[v] = mul_mod_256(s1[v], a1, c1, m1);
      s2[v] = mul_mod_256(s2[v], a2, c2, m2);
    }
  }
  for (int v = 0; v < kVectors; ++v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes1 + 4 * v), s1[v]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes2 + 4 * v), s2[v]);
  }
}

}  // namespace avx2

#pragma GCC diagnostic pop

#endif

}  // namespace

DrawLanes draw_lanes_for(Isa isa) { return POLYGONS_KERNEL_OF(isa, draw_lanes); }

void draw_integers(DrawLanes draw_lanes, SeedState& state, std::int32_t* out, std::size_t count) {
  const std::size_t rows = count / kDrawLanes;
  std::size_t done = 0;
  if (rows > 0) {
    alignas(64) std::uint64_t s1[kDrawLanes], s2[kDrawLanes];
    SeedState lane = state;
    for (std::size_t j = 0; j < kDrawLanes; ++j) {
      next_integer(lane);
      s1[j] = static_cast<std::uint64_t>(lane.s1);
      s2[j] = static_cast<std::uint64_t>(lane.s2);
    }
    draw_lanes(s1, s2, out, 1, rows, kStreamMoves);
    state.s1 = static_cast<std::int32_t>(s1[kDrawLanes - 1]);
    state.s2 = static_cast<std::int32_t>(s2[kDrawLanes - 1]);
    done = rows * kDrawLanes;
  }
  for (; done < count; ++done) out[done] = next_integer(state);
}

TrialDraws::TrialDraws(std::size_t n) : n(n) {
  moves.step[0] = kA1;
  moves.step[1] = kA2;
  // From the last draw of a trial in one group to the first of the same
  // lane's trial in the next: kDrawLanes trials on, less the n - 1 draws done.
  const std::uint64_t jump = kDrawLanes * n - (n - 1);
  moves.jump[0] = power_mod(kA1, jump, kM1);
  moves.jump[1] = power_mod(kA2, jump, kM2);
  for (std::size_t j = 0; j < kDrawLanes; ++j) {
    first_draw[0][j] = power_mod(kA1, j * n + 1, kM1);
    first_draw[1][j] = power_mod(kA2, j * n + 1, kM2);
  }
}

void draw_trials(DrawLanes draw_lanes, const TrialDraws& trials, SeedState& state,
                 std::int32_t* out, std::size_t groups) {
  alignas(64) std::uint64_t s1[kDrawLanes], s2[kDrawLanes];
  for (std::size_t j = 0; j < kDrawLanes; ++j) {
    s1[j] = mul_mod<kC1>(trials.first_draw[0][j], static_cast<std::uint64_t>(state.s1));
    s2[j] = mul_mod<kC2>(trials.first_draw[1][j], static_cast<std::uint64_t>(state.s2));
  }
  draw_lanes(s1, s2, out, trials.n, groups, trials.moves);
  state.s1 = static_cast<std::int32_t>(s1[kDrawLanes - 1]);
  state.s2 = static_cast<std::int32_t>(s2[kDrawLanes - 1]);
}

}  // namespace polygons::sim
