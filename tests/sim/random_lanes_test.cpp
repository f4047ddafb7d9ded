#include "sim/random_lanes.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "every_kernel_set.hpp"
#include "sim_test_support.hpp"

namespace polygons::sim::simtest {
namespace {

TEST_P(EveryKernelSet, DrawsTheSequentialStream) {
  for (std::size_t count : {0u, 5u, 31u, 32u, 33u, 64u, 2046u, 2048u, 8000u}) {
    SeedState lanes = seeded(123);
    SeedState single = lanes;
    std::vector<std::int32_t> fast(count), slow(count);
    draw_integers(set().draw_lanes, lanes, fast.data(), count);
    for (std::int32_t& z : slow) z = next_integer(single);
    EXPECT_EQ(fast, slow) << count << " draws";
    EXPECT_EQ(lanes, single) << count << " draws";
  }
}

}  // namespace
}  // namespace polygons::sim::simtest
