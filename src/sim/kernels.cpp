#include "sim/kernels.hpp"

#include <array>
#include <climits>

// The wider vector units are used only by functions compiled for them and
// called through a KernelSet that this processor can run, so that the build
// stays portable.
#if defined(__x86_64__) && defined(__GNUC__)
#define POLYGONS_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace polygons::sim {

namespace {

constexpr std::uint64_t kC1 = (std::uint64_t{1} << 31) - kM1;  // 85
constexpr std::uint64_t kC2 = (std::uint64_t{1} << 31) - kM2;  // 249

constexpr std::uint64_t power_mod(std::uint64_t base, std::uint64_t exponent,
                                  std::uint64_t modulus) {
  std::uint64_t result = 1;
  while (exponent > 0) {
    if (exponent & 1) result = result * base % modulus;
    base = base * base % modulus;
    exponent >>= 1;
  }
  return result;
}

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

// All ways of drawing share one layout: lane j holds the state after draw
// j + kDrawLanes * i; each round writes one draw per lane, kDrawLanes
// consecutive draws, then moves every lane kDrawLanes draws on (one
// multiplication by a^kDrawLanes mod m). The last round does not move the
// lanes, so the last lane ends as the state after the last draw written.
constexpr std::uint64_t kLaneA1 = power_mod(kA1, kDrawLanes, kM1);
constexpr std::uint64_t kLaneA2 = power_mod(kA2, kDrawLanes, kM2);

void draw_lanes_plain(std::uint64_t* lanes1, std::uint64_t* lanes2, std::int32_t* __restrict out,
                      std::size_t rounds) {
  // Local copies: the compiler need not fear that writing a draw changes a lane.
  std::uint64_t s1[kDrawLanes], s2[kDrawLanes];
  for (std::size_t j = 0; j < kDrawLanes; ++j) {
    s1[j] = lanes1[j];
    s2[j] = lanes2[j];
  }
  for (std::size_t i = 0; i < rounds; ++i) {
    for (std::size_t j = 0; j < kDrawLanes; ++j) out[i * kDrawLanes + j] = combined(s1[j], s2[j]);
    if (i + 1 == rounds) break;
    for (std::size_t j = 0; j < kDrawLanes; ++j) {
      s1[j] = mul_mod<kC1>(kLaneA1, s1[j]);
      s2[j] = mul_mod<kC2>(kLaneA2, s2[j]);
    }
  }
  for (std::size_t j = 0; j < kDrawLanes; ++j) {
    lanes1[j] = s1[j];
    lanes2[j] = s2[j];
  }
}

#if POLYGONS_X86_KERNELS

// The compiler's own vector headers trip its uninitialised-value warning
// (their undefined pass-through operands); nothing here reads such a value.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The same steps with the vector units' 32 x 32 -> 64 bit multiply, which
// the compiler does not find by itself.
__attribute__((target("avx512f"))) inline __m512i mul_mod_512(__m512i s, __m512i a, __m512i c,
                                                              __m512i m) {
  const __m512i low31 = _mm512_set1_epi64(0x7FFFFFFF);
  __m512i t = _mm512_mul_epu32(s, a);
  t = _mm512_add_epi64(_mm512_mul_epu32(_mm512_srli_epi64(t, 31), c), _mm512_and_si512(t, low31));
  t = _mm512_add_epi64(_mm512_mul_epu32(_mm512_srli_epi64(t, 31), c), _mm512_and_si512(t, low31));
  return _mm512_mask_sub_epi64(t, _mm512_cmpge_epu64_mask(t, m), t, m);
}

__attribute__((target("avx512f"))) void draw_lanes_avx512(std::uint64_t* lanes1,
                                                          std::uint64_t* lanes2, std::int32_t* out,
                                                          std::size_t rounds) {
  constexpr int kVectors = kDrawLanes / 8;
  const __m512i a1 = _mm512_set1_epi64(kLaneA1), a2 = _mm512_set1_epi64(kLaneA2);
  const __m512i c1 = _mm512_set1_epi64(kC1), c2 = _mm512_set1_epi64(kC2);
  const __m512i m1 = _mm512_set1_epi64(kM1), m2 = _mm512_set1_epi64(kM2);
  const __m512i wrap = _mm512_set1_epi64(kM1 - 1), zero = _mm512_setzero_si512();
  __m512i s1[kVectors], s2[kVectors];
  for (int v = 0; v < kVectors; ++v) {
    s1[v] = _mm512_loadu_si512(lanes1 + 8 * v);
    s2[v] = _mm512_loadu_si512(lanes2 + 8 * v);
  }
  for (std::size_t i = 0; i < rounds; ++i) {
    for (int v = 0; v < kVectors; ++v) {
      __m512i z = _mm512_sub_epi64(s1[v], s2[v]);
      z = _mm512_mask_add_epi64(z, _mm512_cmple_epi64_mask(z, zero), z, wrap);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * kDrawLanes + 8 * v),
                          _mm512_cvtepi64_epi32(z));
    }
    if (i + 1 == rounds) break;
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

__attribute__((target("avx2"))) inline __m256i mul_mod_256(__m256i s, __m256i a, __m256i c,
                                                           __m256i m) {
  const __m256i low31 = _mm256_set1_epi64x(0x7FFFFFFF);
  __m256i t = _mm256_mul_epu32(s, a);
  t = _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(t, 31), c), _mm256_and_si256(t, low31));
  t = _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(t, 31), c), _mm256_and_si256(t, low31));
  // t < 2^32, so the signed comparison is the unsigned one.
  const __m256i at_least_m = _mm256_cmpgt_epi64(t, _mm256_sub_epi64(m, _mm256_set1_epi64x(1)));
  return _mm256_sub_epi64(t, _mm256_and_si256(at_least_m, m));
}

__attribute__((target("avx2"))) void draw_lanes_avx2(std::uint64_t* lanes1, std::uint64_t* lanes2,
                                                     std::int32_t* out, std::size_t rounds) {
  constexpr int kVectors = kDrawLanes / 4;
  const __m256i a1 = _mm256_set1_epi64x(kLaneA1), a2 = _mm256_set1_epi64x(kLaneA2);
  const __m256i c1 = _mm256_set1_epi64x(kC1), c2 = _mm256_set1_epi64x(kC2);
  const __m256i m1 = _mm256_set1_epi64x(kM1), m2 = _mm256_set1_epi64x(kM2);
  const __m256i wrap = _mm256_set1_epi64x(kM1 - 1), one = _mm256_set1_epi64x(1);
  const __m256i low_halves = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  __m256i s1[kVectors], s2[kVectors];
  for (int v = 0; v < kVectors; ++v) {
    s1[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes1 + 4 * v));
    s2[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes2 + 4 * v));
  }
  for (std::size_t i = 0; i < rounds; ++i) {
    for (int v = 0; v < kVectors; ++v) {
      __m256i z = _mm256_sub_epi64(s1[v], s2[v]);
      z = _mm256_add_epi64(z, _mm256_and_si256(_mm256_cmpgt_epi64(one, z), wrap));
      const __m128i packed = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(z, low_halves));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * kDrawLanes + 4 * v), packed);
    }
    if (i + 1 == rounds) break;
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

#pragma GCC diagnostic pop

#endif

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

// The bodies below are inlined into the functions of every instruction set
// (POLYGONS_KERNELS_FOR), which the compiler vectorises each for its own set.
#define POLYGONS_INLINE __attribute__((always_inline)) inline

// Sorting network and gaps of small polygons, trial by trial, written so
// that the compiler can take several trials per vector.
template <std::size_t N>
POLYGONS_INLINE void small_polygon_gaps(const std::int32_t* __restrict z, std::size_t trials,
                                        double scale, double* __restrict gaps) {
  for (std::size_t t = 0; t < trials; ++t) {
    std::int32_t v[N];
    for (std::size_t i = 0; i < N; ++i) v[i] = z[t * N + i];
    auto order = [&v](std::size_t a, std::size_t b) {
      const std::int32_t low = v[a] < v[b] ? v[a] : v[b];
      const std::int32_t high = v[a] < v[b] ? v[b] : v[a];
      v[a] = low;
      v[b] = high;
    };
    if constexpr (N == 2) {
      order(0, 1);
    } else if constexpr (N == 3) {
      order(0, 1);
      order(1, 2);
      order(0, 1);
    } else {
      order(0, 1);
      order(2, 3);
      order(0, 2);
      order(1, 3);
      order(1, 2);
    }
    for (std::size_t i = 0; i + 1 < N; ++i) {
      gaps[t * N + i] = static_cast<double>(v[i + 1] - v[i]) * scale;
    }
    gaps[t * N + N - 1] = static_cast<double>(v[N - 1] - v[0]) * scale;
  }
}

POLYGONS_INLINE void gaps_of_small_polygons_body(const std::int32_t* z, std::size_t trials,
                                                 std::size_t n, double scale, double* gaps) {
  switch (n) {
    case 2:
      small_polygon_gaps<2>(z, trials, scale, gaps);
      return;
    case 3:
      small_polygon_gaps<3>(z, trials, scale, gaps);
      return;
    case 4:
      small_polygon_gaps<4>(z, trials, scale, gaps);
      return;
    default:
      return;
  }
}

// Every draw is put at its rank, the number of draws below it; the ranks of
// all draws are counted side by side, Width at a time (a multiple of the
// vector width), the unused places padded above every draw.
template <std::size_t Width>
POLYGONS_INLINE void sort_by_rank(std::int32_t* z, std::size_t n) {
  std::int32_t key[Width], rank[Width] = {};
  for (std::size_t i = 0; i < Width; ++i) key[i] = i < n ? z[i] : INT32_MAX;
  for (std::size_t j = 0; j < n; ++j) {
    const std::int32_t k = key[j];
    for (std::size_t i = 0; i < Width; ++i) rank[i] += k < key[i] ? 1 : 0;
  }
  std::uint64_t taken = 0;
  for (std::size_t i = 0; i < n; ++i) {
    z[rank[i]] = key[i];
    taken |= std::uint64_t{1} << rank[i];
  }
  if (taken == (n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1)) return;
  // Equal draws share a rank; order them the plain way.
  for (std::size_t i = 0; i < n; ++i) z[i] = key[i];
  for (std::size_t i = 1; i < n; ++i) {
    const std::int32_t value = z[i];
    std::size_t j = i;
    for (; j > 0 && z[j - 1] > value; --j) z[j] = z[j - 1];
    z[j] = value;
  }
}

POLYGONS_INLINE void sort_few_body(std::int32_t* z, std::size_t n) {
  if (n <= 16) {
    sort_by_rank<16>(z, n);
  } else if (n <= 32) {
    sort_by_rank<32>(z, n);
  } else {
    sort_by_rank<64>(z, n);
  }
}

// Fixed partial sums, added in a fixed order: the same figures whatever the
// vector width.
POLYGONS_INLINE void block_moments_body(const double* values, std::size_t count, double& mean,
                                        double& squares) {
  constexpr std::size_t kPartials = 8;
  mean = sum_in_eight_partials(values, count) / static_cast<double>(count);

  double deviations[kPartials] = {};
  std::size_t i = 0;
  for (; i + kPartials <= count; i += kPartials) {
    for (std::size_t j = 0; j < kPartials; ++j) {
      const double d = values[i + j] - mean;
      deviations[j] += d * d;
    }
  }
  for (std::size_t j = 0; i + j < count; ++j) {
    const double d = values[i + j] - mean;
    deviations[j] += d * d;
  }
  squares = 0.0;
  for (double d : deviations) squares += d;
}

POLYGONS_INLINE void sin_pi_turns_body(double* values, std::size_t count, double pi) {
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

// The kernels of one instruction set, in a namespace of their own: thin
// functions compiled for that set (`target`) around the bodies above.
#define POLYGONS_KERNELS_FOR(isa, target)                                                       \
  namespace isa {                                                                               \
  target void sort_few(std::int32_t* z, std::size_t n) { sort_few_body(z, n); }                \
  target void gaps_of_small_polygons(const std::int32_t* z, std::size_t trials, std::size_t n, \
                                     double scale, double* gaps) {                              \
    gaps_of_small_polygons_body(z, trials, n, scale, gaps);                                     \
  }                                                                                             \
  target void block_moments(const double* values, std::size_t count, double& mean,             \
                            double& squares) {                                                  \
    block_moments_body(values, count, mean, squares);                                           \
  }                                                                                             \
  target void sin_pi_turns(double* values, std::size_t count, double pi) {                      \
    sin_pi_turns_body(values, count, pi);                                                       \
  }                                                                                             \
  }

POLYGONS_KERNELS_FOR(generic, )
#if POLYGONS_X86_KERNELS
POLYGONS_KERNELS_FOR(avx2, __attribute__((target("avx2"))))
POLYGONS_KERNELS_FOR(avx512, __attribute__((target("avx512f"))))
#endif

// The fastest first, "generic" last.
constexpr KernelSet kSets[] = {
#if POLYGONS_X86_KERNELS
    {"avx512", draw_lanes_avx512, avx512::sort_few, avx512::gaps_of_small_polygons,
     avx512::block_moments, avx512::sin_pi_turns},
    {"avx2", draw_lanes_avx2, avx2::sort_few, avx2::gaps_of_small_polygons, avx2::block_moments,
     avx2::sin_pi_turns},
#endif
    {"generic", draw_lanes_plain, generic::sort_few, generic::gaps_of_small_polygons,
     generic::block_moments, generic::sin_pi_turns},
};

}  // namespace

std::span<const KernelSet> kernel_sets() { return kSets; }

bool runs_here(const KernelSet& set) {
  const std::string_view name = set.name;
#if POLYGONS_X86_KERNELS
  __builtin_cpu_init();
  if (name == "avx512") return __builtin_cpu_supports("avx512f");
  if (name == "avx2") return __builtin_cpu_supports("avx2");
#endif
  return name == "generic";
}

const KernelSet& fastest_kernel_set() {
  static const KernelSet& fastest = [] () -> const KernelSet& {
    for (const KernelSet& set : kSets) {
      if (runs_here(set)) return set;
    }
    return kSets[std::size(kSets) - 1];
  }();
  return fastest;
}

const KernelSet* kernel_set_named(std::string_view name) {
  for (const KernelSet& set : kSets) {
    if (name == set.name) return &set;
  }
  return nullptr;
}

void draw_integers(const KernelSet& kernels, SeedState& state, std::int32_t* out,
                   std::size_t count) {
  const std::size_t rounds = count / kDrawLanes;
  std::size_t done = 0;
  if (rounds > 0) {
    alignas(64) std::uint64_t s1[kDrawLanes], s2[kDrawLanes];
    SeedState lane = state;
    for (std::size_t j = 0; j < kDrawLanes; ++j) {
      next_integer(lane);
      s1[j] = static_cast<std::uint64_t>(lane.s1);
      s2[j] = static_cast<std::uint64_t>(lane.s2);
    }
    kernels.draw_lanes(s1, s2, out, rounds);
    state.s1 = static_cast<std::int32_t>(s1[kDrawLanes - 1]);
    state.s2 = static_cast<std::int32_t>(s2[kDrawLanes - 1]);
    done = rounds * kDrawLanes;
  }
  for (; done < count; ++done) out[done] = next_integer(state);
}

}  // namespace polygons::sim
