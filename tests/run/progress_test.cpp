#include "run/progress.hpp"

#include <gtest/gtest.h>

namespace polygons::run {
namespace {

TEST(Progress, TextShowsShareAndTimeLeft) {
  EXPECT_EQ(progress_text(0.421, 12.2), " polygons: 42% of the trials done, about 13 s left");
  EXPECT_EQ(progress_text(0.5, 600.0), " polygons: 50% of the trials done, about 10 min left");
  EXPECT_EQ(progress_text(0.01, 36000.0), " polygons: 1% of the trials done, about 10 h left");
  EXPECT_EQ(progress_text(0.0, -1.0), " polygons: 0% of the trials done, time left unknown");
  EXPECT_EQ(progress_text(0.25, 3.0, "rank 0's share of the trials"),
            " polygons: 25% of rank 0's share of the trials done, about 3 s left");
}

}  // namespace
}  // namespace polygons::run
