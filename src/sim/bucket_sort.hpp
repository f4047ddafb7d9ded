#pragma once
// Ascending order of the draws of a trial too large for the networks of its
// kernel set (KernelSet::lanes_max), one trial at a time. The draws are uniform, so spreading
// them over about n buckets by their top bits leaves them out of order only
// within a bucket, and a bucket holds a few draws at most: a few rounds of
// odd-even transposition over the whole trial finish the job, with vectors
// as wide as the set's.

#include <cstddef>
#include <cstdint>

#include "sim/isa.hpp"
#include "sim/memory.hpp"

namespace polygons::sim {

// The buffers of the bucket sort of n draws, kept from trial to trial.
struct BucketSort {
  int shift = 0;  // a draw's bucket is its integer shifted right this far
  LineVector<std::int32_t> sorted;
  // The counts of the buckets, then where each starts: in 16 bits while n
  // fits in them, so that they take fewer cache lines, else in 32.
  LineVector<std::uint16_t> narrow_buckets;
  LineVector<std::uint32_t> wide_buckets;
};

// Buffers for n draws: half a bucket to one bucket per draw.
BucketSort bucket_sort_for(std::size_t n);

// At least the bytes bucket_sort_for(n) takes.
double bucket_sort_bytes(std::size_t n);

// The n uniform draws z in ascending order, in buffers.sorted (whose data it
// returns), with the buffers of bucket_sort_for(n).
using BucketSortKernel = const std::int32_t* (*)(const std::int32_t* z, std::size_t n,
                                                 BucketSort& buffers);

// The bucket sort compiled for `isa`.
BucketSortKernel bucket_sort_for(Isa isa);

}  // namespace polygons::sim
