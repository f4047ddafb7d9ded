#include "sim/sorting.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "every_kernel_set.hpp"

namespace polygons::sim::simtest {
namespace {

TEST_P(EveryKernelSet, SortFewOrdersAnyInputIncludingEqualDraws) {
  std::vector<std::vector<std::int32_t>> inputs = {
      {5},
      {9, 3, 7, 1, 5},
      {1, 1, 1, 1, 1, 1},
      {4, 2, 4, 2, 4, 2, 4},
      {2147483562, 1, 2147483562, 2, 1, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 3},
  };
  for (std::size_t n : {17u, 32u, 33u, 64u}) {
    std::vector<std::int32_t> z(n);
    for (std::size_t i = 0; i < n; ++i)
      z[i] = static_cast<std::int32_t>((i * 7919) % 13);  // many ties
    inputs.push_back(z);
    for (std::size_t i = 0; i < n; ++i) z[i] = static_cast<std::int32_t>(n - i);  // descending
    inputs.push_back(z);
  }
  for (std::vector<std::int32_t> z : inputs) {
    std::vector<std::int32_t> expected = z;
    std::sort(expected.begin(), expected.end());
    set().sort_few(z.data(), z.size());
    EXPECT_EQ(z, expected);
  }
}

}  // namespace
}  // namespace polygons::sim::simtest
