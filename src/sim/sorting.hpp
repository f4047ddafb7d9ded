#pragma once
// Putting the draws of a trial in ascending order, two ways by size: a
// sorting network over many trials side by side (one trial per lane) up to
// kLanesMax draws, and a bucket sort of one trial at a time beyond. Ascending
// order of the combined integers is ascending order of the draws, since a
// draw is an increasing function of its integer.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/isa.hpp"
#include "sim/memory.hpp"

namespace polygons::sim {

// Trials of at most this many draws are sorted side by side. Beyond, a
// group of trials outgrows the second-level cache, and the network, whose
// steps per draw grow with the square of log n, loses to the bucket sort.
inline constexpr std::size_t kLanesMax = 4096;

// One step of a sorting network: the smaller of the values at `low` and
// `high` goes to `low`, the larger to `high`.
struct Comparator {
  std::uint16_t low;
  std::uint16_t high;
};

// Rows a tile of the network holds: the trials of a group, one tile of their
// rows at a time, stay in the first-level cache.
inline constexpr std::size_t kTileRows = 256;

// A network that sorts n values, n <= kLanesMax. Up to `tile` values (a
// power of two), Batcher's odd-even merge sort of the next power of two,
// without the steps that reach past n. Beyond, each tile of `tile` values is
// sorted so, then the sorted runs are merged pairwise by bitonic merges
// whose steps within a tile are done tile by tile: the network touches the
// values of a tile many times, and those outside it only a few.
std::vector<Comparator> sorting_network(std::size_t n, std::size_t tile = kTileRows);

// At least the bytes of sorting_network(n).
double sorting_network_bytes(std::size_t n);

// The network applied to rows of Lanes values: row i holds value i of each
// lane, at rows + i * Lanes.
template <std::size_t Lanes>
POLYGONS_INLINE void sort_lanes(std::int32_t* rows, std::span<const Comparator> network) {
  for (const Comparator c : network) {
    std::int32_t* __restrict low = rows + c.low * Lanes;
    std::int32_t* __restrict high = rows + c.high * Lanes;
    for (std::size_t j = 0; j < Lanes; ++j) {
      const std::int32_t a = low[j], b = high[j];
      low[j] = a < b ? a : b;
      high[j] = a < b ? b : a;
    }
  }
}

// The buffers of the bucket sort of n draws, kept from trial to trial.
struct BucketSort {
  int shift = 0;  // a draw's bucket is its integer shifted right this far
  LineVector<std::int32_t> sorted;
  LineVector<std::uint32_t> buckets;
};

// Buffers for n draws: about two buckets per draw.
BucketSort bucket_sort_for(std::size_t n);

// The bytes bucket_sort_for(n) takes.
double bucket_sort_bytes(std::size_t n);

// Ascending order of the n uniform draws z, with the buffers of
// bucket_sort_for(n).
void bucket_sort(std::int32_t* z, std::size_t n, BucketSort& buffers);

}  // namespace polygons::sim
