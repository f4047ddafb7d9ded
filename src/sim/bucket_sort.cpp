#include "sim/bucket_sort.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

// The helpers below take and return vectors wider than the baseline's; they
// are always inlined into the kernels of their own set, so no call passes
// one.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace polygons::sim {

namespace {

// Rounds of odd-even transposition beyond which the sort finishes the
// buckets one draw at a time instead. With two draws per bucket or fewer on
// average (up to 2^25 draws), the fullest bucket comes near it only by a
// freak of chance.
constexpr std::uint32_t kMostRounds = 24;

template <typename V>
POLYGONS_INLINE V load(const void* from) {
  V v;
  std::memcpy(&v, from, sizeof v);
  return v;
}

template <typename V>
POLYGONS_INLINE void store(void* to, V v) {
  std::memcpy(to, &v, sizeof v);
}

// Each lane plus the lane K before it; the first K lanes as they are.
template <std::size_t K, typename V, std::size_t... I>
POLYGONS_INLINE V add_lanes_before(V v, std::index_sequence<I...>) {
  constexpr std::size_t width = sizeof...(I);
  return v + __builtin_shufflevector(v, V{}, (I >= K ? I - K : width + I)...);
}

// Each lane the sum of those up to it: lanes added 1 apart, then 2, 4, ...
template <typename V, std::size_t... Step>
POLYGONS_INLINE V running_sums(V v, std::index_sequence<Step...>) {
  constexpr auto lanes = std::make_index_sequence<sizeof(V) / sizeof(v[0])>();
  ((v = add_lanes_before<(std::size_t{1} << Step)>(v, lanes)), ...);
  return v;
}

template <typename V, std::size_t... I>
POLYGONS_INLINE V last_lane_everywhere(V v, std::index_sequence<I...>) {
  return __builtin_shufflevector(v, v, ((void)I, sizeof...(I) - 1)...);
}

// Turns counts into the sums of the counts up to each, and returns the
// largest count.
template <std::size_t Width, typename Count>
POLYGONS_INLINE Count running_starts(Count* buckets, std::size_t count) {
  using V = Vector<Width, Count>;
  constexpr auto lanes = std::make_index_sequence<Width>();
  constexpr auto steps = std::make_index_sequence<std::bit_width(Width) - 1>();
  V carry{}, most{};
  std::size_t b = 0;
  for (; b + Width <= count; b += Width) {
    const V counts = load<V>(buckets + b);
    most = most < counts ? counts : most;
    const V sums = running_sums(counts, steps) + carry;
    store(buckets + b, sums);
    carry = last_lane_everywhere(sums, lanes);
  }
  Count sum = carry[0], largest = 0;
  for (; b < count; ++b) {
    largest = std::max(largest, buckets[b]);
    sum += buckets[b];
    buckets[b] = sum;
  }
  for (std::size_t j = 0; j < Width; ++j) largest = std::max(largest, most[j]);
  return largest;
}

// The pairs of lanes (0, 1), (2, 3), ... of v each in order.
template <typename V, std::size_t... I>
POLYGONS_INLINE V order_pairs(V v, std::index_sequence<I...>) {
  constexpr std::size_t width = sizeof...(I);
  const V other = __builtin_shufflevector(v, v, (I ^ 1)...);
  const V low = v < other ? v : other, high = v < other ? other : v;
  return __builtin_shufflevector(low, high, (I % 2 == 0 ? I : width + I)...);
}

POLYGONS_INLINE void order_pair(std::int32_t* z) {
  const std::int32_t a = z[0], b = z[1];
  z[0] = a < b ? a : b;
  z[1] = a < b ? b : a;
}

// Lanes From to From + width - 1 of a and b joined.
template <std::size_t From, typename V, std::size_t... I>
POLYGONS_INLINE V lanes_from(V a, V b, std::index_sequence<I...>) {
  return __builtin_shufflevector(a, b, (From + I)...);
}

// Two rounds of odd-even transposition: the pairs of draws (i, i + 1) with i
// even put in order, then those with i odd. One pass, Width draws at a time:
// vector k after the first round (e), joined with the first lane of vector
// k + 1, makes the pairs of the second round from draw kW + 1 on (o), and
// the last lane of the o before with the o of k makes vector k's result.
template <std::size_t Width>
POLYGONS_INLINE void two_transposition_rounds(std::int32_t* z, std::size_t n) {
  using V = Vector<Width, std::int32_t>;
  constexpr auto lanes = std::make_index_sequence<Width>();
  const std::size_t vectors = n / Width;
  if (vectors < 2) {
    for (std::size_t i = 0; i + 1 < n; i += 2) order_pair(z + i);
    for (std::size_t i = 1; i + 1 < n; i += 2) order_pair(z + i);
    return;
  }
  V e = order_pairs(load<V>(z), lanes);
  V o_before = lanes_from<1>(V{}, e, lanes);  // its last lane: draw 0, which no odd pair takes
  for (std::size_t k = 0; k + 1 < vectors; ++k) {
    const V e_next = order_pairs(load<V>(z + (k + 1) * Width), lanes);
    const V o = order_pairs(lanes_from<1>(e, e_next, lanes), lanes);
    store(z + k * Width, lanes_from<Width - 1>(o_before, o, lanes));
    e = e_next;
    o_before = o;
  }
  // The last whole vector after the first round, its first draw after the
  // second; the draws after it and the second round's pairs from it on one
  // at a time.
  const std::size_t last = (vectors - 1) * Width;
  store(z + last, e);
  z[last] = o_before[Width - 1];
  for (std::size_t i = last + Width; i + 1 < n; i += 2) order_pair(z + i);
  for (std::size_t i = last + 1; i + 1 < n; i += 2) order_pair(z + i);
}

// Ascending order of draws that are out of order only within a bucket, one
// draw at a time. The larger of each draw and those before it is carried in
// a register, the smaller written behind it, and the value written last is
// kept in a register too, so that the common case reads nothing back from
// memory; only a draw that belongs two or more places back (rare) takes the
// loop that moves it there.
void finish_buckets(std::int32_t* z, std::size_t n) {
  std::int32_t high = z[0];
  std::int32_t written = INT32_MIN;  // at i - 2
  for (std::size_t i = 1; i < n; ++i) {
    const std::int32_t value = z[i];
    const std::int32_t low = value < high ? value : high;
    high = value < high ? high : value;
    if (written <= low) [[likely]] {
      z[i - 1] = low;
      written = low;
      continue;
    }
    std::size_t j = i - 1;
    while (j > 0 && z[j - 1] > low) {
      z[j] = z[j - 1];
      --j;
    }
    z[j] = low;
    written = z[i - 1];
  }
  z[n - 1] = high;
}

std::uint32_t bucket_of(std::int32_t draw, int shift) {
  return static_cast<std::uint32_t>(draw) >> shift;
}

// Odd-even transposition sorts m values in m rounds. Rounds leave a pair of
// draws from two buckets as it is, in order already, so every bucket is
// sorted on its own, as if alone, and the fullest bucket sets the rounds.
// Vectors of four int32 values compare slower than the loop one draw at a
// time.
template <std::size_t Width, typename Count>
POLYGONS_INLINE const std::int32_t* bucket_sort_body(const std::int32_t* z, std::size_t n,
                                                     BucketSort& w,
                                                     LineVector<Count>& bucket_counts) {
  Count* buckets = bucket_counts.data();
  const int shift = w.shift;
  // Bucket b's count goes to buckets[b + 1], so that the running sums make
  // buckets[b] the place of its first draw.
  std::fill(bucket_counts.begin(), bucket_counts.end(), Count{0});
  for (std::size_t i = 0; i < n; ++i) ++buckets[bucket_of(z[i], shift) + 1];
  const std::uint32_t rounds = running_starts<Width>(buckets, bucket_counts.size());
  std::int32_t* sorted = w.sorted.data();
  for (std::size_t i = 0; i < n; ++i) sorted[buckets[bucket_of(z[i], shift)]++] = z[i];
  if (Width < 8 || rounds > kMostRounds) {
    finish_buckets(sorted, n);
  } else {
    for (std::uint32_t r = 0; r < rounds; r += 2) two_transposition_rounds<Width>(sorted, n);
  }
  return sorted;
}

template <std::size_t Width>
POLYGONS_INLINE const std::int32_t* bucket_sort_of_width(const std::int32_t* z, std::size_t n,
                                                         BucketSort& w) {
  return w.narrow_buckets.empty() ? bucket_sort_body<Width>(z, n, w, w.wide_buckets)
                                  : bucket_sort_body<Width>(z, n, w, w.narrow_buckets);
}

#define POLYGONS_BUCKET_SORT_FOR(isa, target)                                             \
  namespace isa {                                                                         \
  target const std::int32_t* bucket_sort(const std::int32_t* z, std::size_t n,            \
                                         BucketSort& buffers) {                           \
    return bucket_sort_of_width<vector_ints(Isa::isa)>(z, n, buffers);                    \
  }                                                                                       \
  }

POLYGONS_FOR_EVERY_SET(POLYGONS_BUCKET_SORT_FOR)

}  // namespace

BucketSort bucket_sort_for(std::size_t n) {
  // Fewer buckets than draws: the counts stay in the first-level cache, and
  // the rounds this takes more cost less than the misses it saves.
  int bits = 2;
  while ((std::size_t{2} << bits) < n && bits < 24) ++bits;
  BucketSort buffers;
  buffers.shift = 31 - bits;
  buffers.sorted.resize(n);
  const std::size_t buckets = (std::size_t{1} << bits) + 1;
  if (n <= UINT16_MAX) {
    buffers.narrow_buckets.resize(buckets);
  } else {
    buffers.wide_buckets.resize(buckets);
  }
  return buffers;
}

double bucket_sort_bytes(std::size_t n) {
  return (2.0 * static_cast<double>(n) + 2.0) * sizeof(std::int32_t);
}

BucketSortKernel bucket_sort_for(Isa isa) { return POLYGONS_KERNEL_OF(isa, bucket_sort); }

}  // namespace polygons::sim
