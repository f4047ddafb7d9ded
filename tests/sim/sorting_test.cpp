#include "sim/sorting.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/random.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim::simtest {
namespace {

constexpr NetworkShape kShapes[] = {NetworkShape::batcher_tiles, NetworkShape::register_blocks};

std::vector<std::int32_t> sorted_by_network(std::vector<std::int32_t> z, NetworkShape shape,
                                            std::size_t tile = kTileRows) {
  sort_lanes<1>(z.data(), sorting_network(z.size(), shape, tile));
  return z;
}

// By the 0-1 principle, a network that sorts every sequence of zeros and
// ones sorts every sequence. Small tiles stand in for the tiles of the
// larger networks, with merges of runs of every length.
TEST(SortingNetwork, SortsEveryZeroOneSequence) {
  const std::size_t tiles[] = {kTileRows, 1, 2, 4, 8, 16};
  for (NetworkShape shape : kShapes) {
    for (std::size_t tile : tiles) {
      for (std::size_t n = 1; n <= 18; ++n) {
        for (std::uint32_t bits = 0; bits < (1u << n); ++bits) {
          std::vector<std::int32_t> z(n);
          for (std::size_t i = 0; i < n; ++i) z[i] = static_cast<std::int32_t>((bits >> i) & 1);
          const std::vector<std::int32_t> sorted = sorted_by_network(z, shape, tile);
          ASSERT_TRUE(std::is_sorted(sorted.begin(), sorted.end()))
              << n << " values, shape " << static_cast<int>(shape) << ", tiles of " << tile
              << ", bits " << bits;
        }
      }
    }
  }
}

TEST(SortingNetwork, SortsDrawsAndTiesUpToTheLargestSize) {
  SeedState state = seeded(5);
  std::vector<std::size_t> sizes = {100, 255, 256, 257, 1000, kLanesMax - 1, kLanesMax};
  for (std::size_t n = 1; n <= 64; ++n) sizes.push_back(n);
  for (std::size_t n : sizes) {
    for (NetworkShape shape : kShapes) {
      EXPECT_LE(static_cast<double>(sorting_network(n, shape).size() * sizeof(Comparator)),
                sorting_network_bytes(n));
    }
    std::vector<std::int32_t> draws(n), ties(n), descending(n);
    for (std::size_t i = 0; i < n; ++i) {
      draws[i] = next_integer(state);
      ties[i] = static_cast<std::int32_t>((i * 7919) % 5);
      descending[i] = static_cast<std::int32_t>(n - i);
    }
    for (std::vector<std::int32_t> z : {draws, ties, descending}) {
      std::vector<std::int32_t> expected = z;
      std::sort(expected.begin(), expected.end());
      for (NetworkShape shape : kShapes) {
        EXPECT_EQ(sorted_by_network(z, shape), expected)
            << n << " values, shape " << static_cast<int>(shape);
      }
    }
  }
}

}  // namespace
}  // namespace polygons::sim::simtest
