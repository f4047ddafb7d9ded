#include "sim/sorting.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

namespace polygons::sim {

namespace {

// Ascending order of draws that are out of order only within a bucket. The
// larger of each draw and those before it is carried in a register, the
// smaller written behind it; only a draw that belongs two or more places back
// (rare) takes the loop that moves it there.
void finish_buckets(std::int32_t* z, std::size_t n) {
  std::int32_t high = z[0];
  for (std::size_t i = 1; i < n; ++i) {
    const std::int32_t value = z[i];
    const std::int32_t low = value < high ? value : high;
    high = value < high ? high : value;
    std::size_t j = i - 1;
    while (j > 0 && z[j - 1] > low) {
      z[j] = z[j - 1];
      --j;
    }
    z[j] = low;
  }
  z[n - 1] = high;
}

}  // namespace

std::vector<Comparator> sorting_network(std::size_t n) {
  std::size_t size = 1;
  while (size < n) size *= 2;
  std::vector<Comparator> network;
  for (std::size_t p = 1; p < size; p *= 2) {
    for (std::size_t k = p; k >= 1; k /= 2) {
      for (std::size_t j = k % p; j + k < size; j += 2 * k) {
        for (std::size_t i = 0; i < k; ++i) {
          const std::size_t low = i + j, high = i + j + k;
          if (high < n && low / (2 * p) == high / (2 * p)) {
            network.push_back({static_cast<std::uint16_t>(low), static_cast<std::uint16_t>(high)});
          }
        }
      }
    }
  }
  return network;
}

double sorting_network_bytes(std::size_t n) {
  // Batcher's network of 2^k values has (k^2 - k + 4) 2^(k - 2) - 1 steps.
  double k = 0.0, size = 1.0;
  while (size < static_cast<double>(n)) {
    size *= 2.0;
    k += 1.0;
  }
  return (k * k - k + 4.0) * size / 4.0 * sizeof(Comparator);
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
// bits leaves them nearly in order; finish_buckets finishes the job.
void bucket_sort(std::int32_t* z, std::size_t n, BucketSort& w) {
  std::fill(w.buckets.begin(), w.buckets.end(), 0u);
  for (std::size_t i = 0; i < n; ++i)
    ++w.buckets[(static_cast<std::uint32_t>(z[i]) >> w.shift) + 1];
  for (std::size_t b = 1; b < w.buckets.size(); ++b) w.buckets[b] += w.buckets[b - 1];
  for (std::size_t i = 0; i < n; ++i) {
    w.sorted[w.buckets[static_cast<std::uint32_t>(z[i]) >> w.shift]++] = z[i];
  }
  finish_buckets(w.sorted.data(), n);
  std::memcpy(z, w.sorted.data(), n * sizeof(std::int32_t));
}

}  // namespace polygons::sim
