#pragma once
// Reading, limiting and reporting the run parameters.

#include <istream>
#include <string>
#include <vector>

#include "params/run_parameters.hpp"
#include "sim/random.hpp"
#include "text/io.hpp"

namespace polygons::params {

// Writes the user-login line and answers a first argument "?" (ending the run
// with text::RunEnded), reads the five parameter lines from `in`, limits the
// number of trials, writes the parameter lines, seeds `rng` from iseed between
// the trials line and the classes line, and writes the ruler line.
// Unreadable input throws text::FatalError.
run_parameters readat(std::istream& in, text::LineSink& out,
                      const std::vector<std::string>& args, sim::SeedState& rng);

// Refuses (text::FatalError) a parameter set the trials cannot run on: sides
// below 1, a radius of 0 or not finite, a perimeter range or class width that
// is 0 or not finite.
void refuse_unusable(const run_parameters& p, double perim_max);

}  // namespace polygons::params
