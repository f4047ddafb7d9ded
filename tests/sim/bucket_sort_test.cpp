#include "sim/bucket_sort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "every_kernel_set.hpp"
#include "sim/random.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim::simtest {
namespace {

// Draws, and draws whose buckets hold many more than chance gives them: the
// rounds of the vector sets go by the fullest bucket, and past a limit the
// sort takes the loop one draw at a time.
TEST_P(EveryKernelSet, BucketSortSortsDrawsAndCrowdedBuckets) {
  SeedState state = seeded(6);
  for (std::size_t n : {100u, 1000u, 4097u, 10000u, 10003u, 70001u}) {
    BucketSort buffers = bucket_sort_for(n);
    std::vector<std::int32_t> draws(n), triples(n), crowds(n), descending(n);
    for (std::size_t i = 0; i < n; ++i) {
      draws[i] = next_integer(state);
      triples[i] = draws[i / 3 * 3];
      crowds[i] = i % 50 < 20 ? draws[i % 7] : i % 50 < 45 ? draws[i % 2] + 1 : draws[i];
      descending[i] = static_cast<std::int32_t>(2 * (n - i));
    }
    for (const std::vector<std::int32_t>& z : {draws, triples, crowds, descending}) {
      std::vector<std::int32_t> expected = z;
      std::sort(expected.begin(), expected.end());
      const std::int32_t* sorted = set().bucket_sort(z.data(), n, buffers);
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), sorted)) << n << " draws";
    }
  }
}

}  // namespace
}  // namespace polygons::sim::simtest
