#include "sim/share_out.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <vector>

namespace polygons::sim {
namespace {

TEST(ShareOut, DoesEveryPieceOnceOnAnyNumberOfThreads) {
  for (int threads : {-1, 0, 1, 2, 7}) {
    for (std::size_t count : {0, 1, 5, 100}) {
      std::vector<std::atomic<int>> done(count);
      share_out(count, threads, [&](std::size_t i) { ++done[i]; });
      for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(done[i], 1) << threads << " threads, piece " << i << " of " << count;
      }
    }
  }
}

// A piece that throws stops the handing out and reaches the caller once
// every thread is done, instead of ending the process.
TEST(ShareOut, ThrowsTheFirstFailureAfterAllThreadsStop) {
  for (int threads : {1, 3}) {
    std::atomic<int> after{0};
    EXPECT_THROW(share_out(1000, threads,
                           [&](std::size_t i) {
                             if (i == 10) throw std::runtime_error("piece 10");
                             if (i > 10) ++after;
                           }),
                 std::runtime_error);
    EXPECT_LT(after, 990) << threads << " threads";
  }
}

}  // namespace
}  // namespace polygons::sim
