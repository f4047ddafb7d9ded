#include "sim/sorting.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

namespace polygons::sim {

namespace {

void insertion_sort(std::int32_t* z, std::size_t n) {
  for (std::size_t i = 1; i < n; ++i) {
    const std::int32_t value = z[i];
    std::size_t j = i;
    while (j > 0 && z[j - 1] > value) {
      z[j] = z[j - 1];
      --j;
    }
    z[j] = value;
  }
}

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
  insertion_sort(z, n);
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

// The kernels of one instruction set: thin functions compiled for that set
// around the bodies above.
#define POLYGONS_SORTING_FOR(isa, target)                                                       \
  namespace isa {                                                                               \
  target void sort_few(std::int32_t* z, std::size_t n) { sort_few_body(z, n); }                \
  target void gaps_of_small_polygons(const std::int32_t* z, std::size_t trials, std::size_t n, \
                                     double scale, double* gaps) {                              \
    gaps_of_small_polygons_body(z, trials, n, scale, gaps);                                     \
  }                                                                                             \
  }

POLYGONS_FOR_EVERY_SET(POLYGONS_SORTING_FOR)

}  // namespace

SortFew sort_few_for(Isa isa) { return POLYGONS_KERNEL_OF(isa, sort_few); }

GapsOfSmallPolygons gaps_of_small_polygons_for(Isa isa) {
  return POLYGONS_KERNEL_OF(isa, gaps_of_small_polygons);
}

BucketSort bucket_sort_for(std::size_t n) {
  int bits = 2;
  while ((std::size_t{1} << bits) < 2 * n && bits < 24) ++bits;
  BucketSort buffers;
  buffers.shift = 31 - bits;
  buffers.sorted.resize(n);
  buffers.buckets.resize((std::size_t{1} << bits) + 1);
  return buffers;
}

double bucket_sort_bytes(std::size_t n) {
  return static_cast<double>(n) * 5.0 * sizeof(std::int32_t);
}

// The draws are uniform, so spreading them over about 2n buckets by their top
// bits leaves them nearly in order; an insertion pass finishes the job.
void bucket_sort(std::int32_t* z, std::size_t n, BucketSort& w) {
  std::fill(w.buckets.begin(), w.buckets.end(), 0u);
  for (std::size_t i = 0; i < n; ++i)
    ++w.buckets[(static_cast<std::uint32_t>(z[i]) >> w.shift) + 1];
  for (std::size_t b = 1; b < w.buckets.size(); ++b) w.buckets[b] += w.buckets[b - 1];
  for (std::size_t i = 0; i < n; ++i) {
    w.sorted[w.buckets[static_cast<std::uint32_t>(z[i]) >> w.shift]++] = z[i];
  }
  insertion_sort(w.sorted.data(), n);
  std::memcpy(z, w.sorted.data(), n * sizeof(std::int32_t));
}

}  // namespace polygons::sim
