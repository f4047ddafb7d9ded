#pragma once
// Reading, limiting and reporting the run parameters.

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "params/run_parameters.hpp"
#include "sim/random.hpp"
#include "text/io.hpp"

namespace polygons::params {

// The limits of the number of trials zn, for the program and for what checks
// its input beforehand (the web service).
inline constexpr double ZN_MAX = 2330000000.0;  // upper limit of zn for every run
inline constexpr std::int32_t ITEM_MAX = 8;     // without a user login zn is limited to 10**ITEM_MAX
inline constexpr double ZN_MIN = 1000.0;        // lower limit of zn

// 10**ITEM_MAX, the upper limit of zn without a user login.
constexpr double zn_max_without_login() {
  double limit = 1.0;
  for (std::int32_t i = 0; i < ITEM_MAX; ++i) limit *= 10.0;
  return limit;
}

// The number of classes of a run of `n` trials that leaves it to the
// program: ceil(log2 n) + 1.
std::int32_t default_klass(std::int64_t n);

// Writes the user-login line and answers a first argument "?" (ending the run
// with text::RunEnded), reads the five parameter lines from `in`, limits the
// number of trials, writes the parameter lines, seeds `rng` from iseed between
// the trials line and the classes line, and writes the ruler line.
// Unreadable input throws text::FatalError.
run_parameters readat(std::istream& in, text::LineSink& out,
                      const std::vector<std::string>& args, sim::SeedState& rng);

// The run parameters as values rather than text: zn is the number of trials
// before the limits, klass below 1 asks for the computed class count.
struct given_parameters {
  std::int32_t sides = 3;
  double radius = 1.0;
  double zn = 1000.0;
  std::int32_t iseed = 1;
  std::int32_t klass = 0;
  std::int32_t ishow = 0;
};

// What readat does after reading, for parameters given as values: the same
// limits and defaults, the same parameter lines on `out` (without the login
// line) and the same seeding of `rng`. A zn that is NaN throws
// text::FatalError.
run_parameters settle_parameters(const given_parameters& given, text::LineSink& out,
                                 bool internet_run, sim::SeedState& rng);

// Refuses (text::FatalError) a parameter set the trials cannot run on: sides
// below 1, a radius of 0 or not finite, a perimeter range or class width that
// is 0 or not finite.
void refuse_unusable(const run_parameters& p, double perim_max);

}  // namespace polygons::params
