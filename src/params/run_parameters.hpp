#pragma once
// The six run parameters, read from standard input by `readat`.

#include <cstdint>

namespace polygons::params {

struct run_parameters {
  std::int32_t sides = 3;     // vertices n of each polygon
  double radius = 1.0;        // radius R of the circle
  std::int64_t N = 1000;      // number of trials, after the limits
  std::int32_t iseed = 1;     // seed of the generator (0: from the clock)
  std::int32_t klass = 0;     // number of classes (at least 1 after readat)
  std::int32_t ishow = 0;     // list the histogram on standard output when not 0
};

}  // namespace polygons::params
