#pragma once
// Putting the draws of a trial in ascending order by a sorting network over
// many trials side by side (one trial per lane), up to kLanesMax draws;
// sim/bucket_sort.hpp sorts larger trials. Ascending order of the combined
// integers is ascending order of the draws, since a draw is an increasing
// function of its integer.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "sim/isa.hpp"

namespace polygons::sim {

// The most values a network sorts. Each kernel set sorts trials side by side
// up to a limit of its own, at most this (KernelSet::lanes_max): beyond, the
// network, whose steps per draw grow with the square of log n, loses to the
// bucket sort, and a group of trials outgrows the second-level cache.
inline constexpr std::size_t kLanesMax = 4096;

// One step of a sorting network: the smaller of the values at `low` and
// `high` goes to `low`, the larger to `high`. Or, when `high` is one of the
// markers below, a step over the kBlockRows values from `low` on, done with
// the values in registers: one pass over their rows in place of a dozen or
// more.
struct Comparator {
  std::uint16_t low;
  std::uint16_t high;
};

inline constexpr std::size_t kBlockRows = 16;
// Sorts the block.
inline constexpr std::uint16_t kSortBlock = 0xffff;
// The half-cleaners of distance 8, 4, 2 and 1 over the block: the end of a
// bitonic merge.
inline constexpr std::uint16_t kCleanBlock = 0xfffe;
static_assert(kLanesMax < kCleanBlock, "a row index must not read as a marker");

// Rows a tile of the network holds: the trials of a group, one tile of their
// rows at a time, stay in the first-level cache.
inline constexpr std::size_t kTileRows = 256;

// How a network starts. Either way, sorted runs are then merged pairwise by
// bitonic merges, first tile by tile, then across tiles with the short steps
// of each merge again tile by tile: the network touches the values of a tile
// many times in a row, and those outside it only a few.
enum class NetworkShape {
  // Each tile sorted by Batcher's odd-even merge sort (of the next power of
  // two, without the steps that reach past n), which takes the fewest
  // comparisons: for sets with few vector registers, which compare slower
  // than they load and store.
  batcher_tiles,
  // Blocks of kBlockRows sorted in registers, and the last steps of each
  // merge done in registers too: fewer passes over the rows, for sets with
  // many vector registers.
  register_blocks,
};

// A network that sorts n values, n <= kLanesMax; `tile` a power of two.
std::vector<Comparator> sorting_network(std::size_t n, NetworkShape shape,
                                        std::size_t tile = kTileRows);

// At least the bytes of sorting_network(n).
double sorting_network_bytes(std::size_t n);

namespace network_detail {

// Calls step(low, high) for each step of Batcher's odd-even merge sort of n
// values: that of the next power of two, without the steps that reach past n.
template <typename Step>
constexpr void for_each_odd_even_step(std::size_t n, Step&& step) {
  std::size_t size = 1;
  while (size < n) size *= 2;
  for (std::size_t p = 1; p < size; p *= 2) {
    for (std::size_t k = p; k >= 1; k /= 2) {
      for (std::size_t j = k % p; j + k < size; j += 2 * k) {
        for (std::size_t i = 0; i < k; ++i) {
          const std::size_t low = i + j, high = i + j + k;
          if (high < n && low / (2 * p) == high / (2 * p)) step(low, high);
        }
      }
    }
  }
}

// Calls step(i, i + k) for each i from `first` to `last` whose bit k is
// clear: the half-cleaner of distance k.
template <typename Step>
constexpr void for_each_half_cleaner_step(std::size_t first, std::size_t last, std::size_t k,
                                          Step&& step) {
  for (std::size_t i = first; i + k < last; ++i) {
    if ((i & k) == 0) step(i, i + k);
  }
}

// The steps of a block: Batcher's network of kBlockRows values, or its
// half-cleaners of distance kBlockRows / 2 down to 1.
template <bool Sort, typename Step>
constexpr void for_each_block_step(Step&& step) {
  if (Sort) {
    for_each_odd_even_step(kBlockRows, step);
  } else {
    for (std::size_t k = kBlockRows / 2; k >= 1; k /= 2) {
      for_each_half_cleaner_step(0, kBlockRows, k, step);
    }
  }
}

template <bool Sort>
constexpr std::size_t block_step_count() {
  std::size_t count = 0;
  for_each_block_step<Sort>([&count](std::size_t, std::size_t) { ++count; });
  return count;
}

template <bool Sort>
constexpr auto block_steps() {
  std::array<Comparator, block_step_count<Sort>()> steps{};
  std::size_t count = 0;
  for_each_block_step<Sort>([&](std::size_t low, std::size_t high) {
    steps[count++] = {static_cast<std::uint16_t>(low), static_cast<std::uint16_t>(high)};
  });
  return steps;
}
inline constexpr auto kSortSteps = block_steps<true>();
inline constexpr auto kCleanSteps = block_steps<false>();

template <std::size_t Width>
using Ints = Vector<Width, std::int32_t>;

template <typename V, std::size_t Steps, std::size_t... S>
POLYGONS_INLINE void apply_in_registers(V* v, const std::array<Comparator, Steps>& steps,
                                        std::index_sequence<S...>) {
  auto apply = [v](Comparator c) {
    const V a = v[c.low], b = v[c.high];
    v[c.low] = a < b ? a : b;
    v[c.high] = a < b ? b : a;
  };
  (apply(steps[S]), ...);
}

// The block's rows, Width lanes at a time: loaded, put through `steps`,
// stored.
template <std::size_t Lanes, std::size_t Width, std::size_t Steps>
POLYGONS_INLINE void block_in_registers(std::int32_t* rows,
                                        const std::array<Comparator, Steps>& steps) {
  static_assert(Lanes % Width == 0);
  using V = Ints<Width>;
  for (std::size_t j = 0; j < Lanes; j += Width) {
    V v[kBlockRows];
    for (std::size_t r = 0; r < kBlockRows; ++r) {
      std::memcpy(&v[r], rows + r * Lanes + j, sizeof(V));
    }
    apply_in_registers(v, steps, std::make_index_sequence<Steps>());
    for (std::size_t r = 0; r < kBlockRows; ++r) {
      std::memcpy(rows + r * Lanes + j, &v[r], sizeof(V));
    }
  }
}

}  // namespace network_detail

// The network applied to rows of Lanes values: row i holds value i of each
// lane, at rows + i * Lanes. With Blocks (a network of register_blocks),
// blocks go Width lanes at a time, Width the int32 values of a vector
// register.
template <std::size_t Lanes, std::size_t Width = 1, bool Blocks = true>
POLYGONS_INLINE void sort_lanes(std::int32_t* rows, std::span<const Comparator> network) {
  for (const Comparator c : network) {
    if constexpr (Blocks) {
      if (c.high >= kCleanBlock) {
        std::int32_t* block = rows + c.low * Lanes;
        if (c.high == kSortBlock) {
          network_detail::block_in_registers<Lanes, Width>(block, network_detail::kSortSteps);
        } else {
          network_detail::block_in_registers<Lanes, Width>(block, network_detail::kCleanSteps);
        }
        continue;
      }
    }
    std::int32_t* __restrict low = rows + c.low * Lanes;
    std::int32_t* __restrict high = rows + c.high * Lanes;
    for (std::size_t j = 0; j < Lanes; ++j) {
      const std::int32_t a = low[j], b = high[j];
      low[j] = a < b ? a : b;
      high[j] = a < b ? b : a;
    }
  }
}

}  // namespace polygons::sim
