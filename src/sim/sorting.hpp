#pragma once
// Putting the draws of a trial in ascending order, three ways by size:
// sorting networks for polygons of two to four vertices, a rank sort without
// branches on the data up to kSortFewMax draws, and a bucket sort beyond.
// Ascending order of the combined integers is ascending order of the draws,
// since a draw is an increasing function of its integer.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/isa.hpp"

namespace polygons::sim {

// sort_few takes at most this many draws.
inline constexpr std::size_t kSortFewMax = 64;

// Ascending order of n <= kSortFewMax combined integers, without branches on
// the data: every draw is put at its rank, all ranks counted side by side
// (equal draws, which are rare, fall back to an insertion sort).
using SortFew = void (*)(std::int32_t* z, std::size_t n);

// For polygons of n = 2, 3 or 4 vertices: sorts the draws of each of
// `trials` consecutive trials (n draws each) by a sorting network and writes
// their gaps in full turns, as the engine does for larger polygons (the
// closing side's gap is the span of the draws), several trials per vector.
using GapsOfSmallPolygons = void (*)(const std::int32_t* z, std::size_t trials, std::size_t n,
                                     double scale, double* gaps);

// The kernels compiled for `isa`.
SortFew sort_few_for(Isa isa);
GapsOfSmallPolygons gaps_of_small_polygons_for(Isa isa);

// The buffers of the bucket sort of n draws, kept from trial to trial.
struct BucketSort {
  int shift = 0;  // a draw's bucket is its integer shifted right this far
  std::vector<std::int32_t> sorted;
  std::vector<std::uint32_t> buckets;
};

// Buffers for n draws: about two buckets per draw.
BucketSort bucket_sort_for(std::size_t n);

// The bytes bucket_sort_for(n) takes.
double bucket_sort_bytes(std::size_t n);

// Ascending order of the n uniform draws z, with the buffers of
// bucket_sort_for(n).
void bucket_sort(std::int32_t* z, std::size_t n, BucketSort& buffers);

}  // namespace polygons::sim
