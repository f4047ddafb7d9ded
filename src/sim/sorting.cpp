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

namespace {

std::size_t power_of_two_from(std::size_t n) {
  std::size_t size = 1;
  while (size < n) size *= 2;
  return size;
}

void add_step(std::vector<Comparator>& network, std::size_t low, std::size_t high) {
  network.push_back({static_cast<std::uint16_t>(low), static_cast<std::uint16_t>(high)});
}

// Batcher's network for the n values from `first` on.
void add_odd_even_merge_sort(std::vector<Comparator>& network, std::size_t first,
                             std::size_t n) {
  const std::size_t size = power_of_two_from(n);
  for (std::size_t p = 1; p < size; p *= 2) {
    for (std::size_t k = p; k >= 1; k /= 2) {
      for (std::size_t j = k % p; j + k < size; j += 2 * k) {
        for (std::size_t i = 0; i < k; ++i) {
          const std::size_t low = i + j, high = i + j + k;
          if (high < n && low / (2 * p) == high / (2 * p)) add_step(network, first + low, first + high);
        }
      }
    }
  }
}

// The half-cleaner of distance k over the values from `first` to `last`:
// value i against value i + k, for every i whose bit k is clear.
void add_half_cleaner(std::vector<Comparator>& network, std::size_t first, std::size_t last,
                      std::size_t k) {
  for (std::size_t i = first; i + k < last; ++i) {
    if ((i & k) == 0) add_step(network, i, i + k);
  }
}

// Merges the ascending runs of p values into ascending runs of 2p, values
// past n standing for +infinity (steps that reach them would change
// nothing). The first step sets each value of a pair of runs against its
// mirror image, which leaves two bitonic halves, each sorted by
// half-cleaners.
void add_bitonic_merges(std::vector<Comparator>& network, std::size_t n, std::size_t p,
                        std::size_t tile) {
  for (std::size_t block = 0; block < n; block += 2 * p) {
    for (std::size_t i = 0; i < p; ++i) {
      if (block + 2 * p - 1 - i < n) add_step(network, block + i, block + 2 * p - 1 - i);
    }
  }
  std::size_t k = p / 2;
  for (; k >= tile; k /= 2) add_half_cleaner(network, 0, n, k);
  for (std::size_t first = 0; first < n; first += tile) {
    for (std::size_t step = k; step >= 1; step /= 2) {
      add_half_cleaner(network, first, std::min(first + tile, n), step);
    }
  }
}

}  // namespace

std::vector<Comparator> sorting_network(std::size_t n, std::size_t tile) {
  std::vector<Comparator> network;
  if (n <= tile) {
    add_odd_even_merge_sort(network, 0, n);
    return network;
  }
  for (std::size_t first = 0; first < n; first += tile) {
    add_odd_even_merge_sort(network, first, std::min(tile, n - first));
  }
  for (std::size_t p = tile; p < n; p *= 2) add_bitonic_merges(network, n, p, tile);
  return network;
}

double sorting_network_bytes(std::size_t n) {
  // Batcher's network of 2^k values has (k^2 - k + 4) 2^(k - 2) - 1 steps;
  // a bitonic merge of runs of p into runs of 2p has (k + 1) 2^k / 2 steps
  // for 2^k values, p = 2^(k - 1).
  auto batcher_steps = [](double size) {
    double k = 0.0;
    for (double s = 1.0; s < size; s *= 2.0) k += 1.0;
    return (k * k - k + 4.0) * size / 4.0;
  };
  const double size = static_cast<double>(power_of_two_from(n));
  const double tile = static_cast<double>(kTileRows);
  if (size <= tile) return batcher_steps(size) * sizeof(Comparator);
  double steps = size / tile * batcher_steps(tile);
  double k = 0.0;
  for (double p = 1.0; p < tile; p *= 2.0) k += 1.0;
  for (double p = tile; p < size; p *= 2.0) {
    k += 1.0;
    steps += (k + 1.0) * size / 2.0;
  }
  return steps * sizeof(Comparator);
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
