#include "sim/sorting.hpp"

#include <algorithm>

namespace polygons::sim {

namespace {

// Appends steps from `first` on to the network.
struct StepsFrom {
  std::vector<Comparator>& network;
  std::size_t first = 0;

  void operator()(std::size_t low, std::size_t high) const {
    network.push_back(
        {static_cast<std::uint16_t>(first + low), static_cast<std::uint16_t>(first + high)});
  }
};

// Batcher's odd-even merge sort of the n values from `first` on.
void add_odd_even_merge_sort(std::vector<Comparator>& network, std::size_t first,
                             std::size_t n) {
  network_detail::for_each_odd_even_step(n, StepsFrom{network, first});
}

void add_half_cleaner(std::vector<Comparator>& network, std::size_t first, std::size_t last,
                      std::size_t k) {
  network_detail::for_each_half_cleaner_step(first, last, k, StepsFrom{network});
}

// The half-cleaners of distance k down to 1 over the values from `first` to
// `last`; with `blocks`, those of distance kBlockRows / 2 down, for whole
// blocks, as one block step each.
void add_half_cleaners(std::vector<Comparator>& network, std::size_t first, std::size_t last,
                       std::size_t k, bool blocks) {
  for (; k >= kBlockRows; k /= 2) add_half_cleaner(network, first, last, k);
  if (k == 0) return;
  std::size_t block = first;
  if (blocks && k == kBlockRows / 2) {
    for (; block + kBlockRows <= last; block += kBlockRows) {
      network.push_back({static_cast<std::uint16_t>(block), kCleanBlock});
    }
  }
  for (; k >= 1; k /= 2) add_half_cleaner(network, block, last, k);
}

// The first step of a bitonic merge of the ascending runs of p values from
// `first` to `last`, pairwise into runs of 2p: each value of a pair of runs
// against its mirror image, which leaves two bitonic halves, each sorted by
// half-cleaners. Values past `last` stand for +infinity: steps that reach
// them would change nothing.
void add_mirror_step(std::vector<Comparator>& network, std::size_t first, std::size_t last,
                     std::size_t p) {
  const StepsFrom add{network};
  for (std::size_t block = first; block < last; block += 2 * p) {
    for (std::size_t i = 0; i < p; ++i) {
      if (block + 2 * p - 1 - i < last) add(block + i, block + 2 * p - 1 - i);
    }
  }
}

// Runs of kBlockRows values: whole blocks sorted in registers, the rest by
// Batcher's network.
void add_sorted_blocks(std::vector<Comparator>& network, std::size_t n) {
  const std::size_t whole_blocks = n / kBlockRows * kBlockRows;
  for (std::size_t block = 0; block < whole_blocks; block += kBlockRows) {
    network.push_back({static_cast<std::uint16_t>(block), kSortBlock});
  }
  add_odd_even_merge_sort(network, whole_blocks, n - whole_blocks);
}

}  // namespace

std::vector<Comparator> sorting_network(std::size_t n, NetworkShape shape, std::size_t tile) {
  std::vector<Comparator> network;
  const bool blocks = shape == NetworkShape::register_blocks;
  std::size_t run = tile;
  if (blocks) {
    run = kBlockRows;
    add_sorted_blocks(network, n);
  } else {
    for (std::size_t first = 0; first < n; first += tile) {
      add_odd_even_merge_sort(network, first, std::min(tile, n - first));
    }
  }
  // Merges of runs shorter than a tile, tile by tile, the values of each
  // staying in the first-level cache.
  for (std::size_t first = 0; first < n; first += tile) {
    const std::size_t last = std::min(first + tile, n);
    for (std::size_t p = run; p < last - first; p *= 2) {
      add_mirror_step(network, first, last, p);
      add_half_cleaners(network, first, last, p / 2, blocks);
    }
  }
  // Longer runs: the long steps over all values, then the short ones tile by
  // tile.
  for (std::size_t p = std::max(tile, run); p < n; p *= 2) {
    add_mirror_step(network, 0, n, p);
    std::size_t k = p / 2;
    for (; k >= tile; k /= 2) add_half_cleaner(network, 0, n, k);
    for (std::size_t first = 0; first < n; first += tile) {
      add_half_cleaners(network, first, std::min(first + tile, n), k, blocks);
    }
  }
  return network;
}

double sorting_network_bytes(std::size_t n) {
  // The bitonic sorting network of 2^k values has k (k + 1) 2^(k - 2)
  // steps: more than Batcher's, and more than this network, whose blocks
  // take the place of many steps each.
  double k = 0.0, size = 1.0;
  while (size < static_cast<double>(n)) {
    size *= 2.0;
    k += 1.0;
  }
  return std::max(1.0, k * (k + 1.0) * size / 4.0) * sizeof(Comparator);
}

}  // namespace polygons::sim
