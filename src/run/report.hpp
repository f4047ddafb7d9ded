#pragma once
// The result lines of a run: theoretical range, average and spread, mode.

#include <cstdint>

#include "text/io.hpp"

namespace polygons::run {

// 2 n R sin(pi/n), the perimeter of the regular inscribed n-gon, as
// sim::class_range_max computes it.
double perimeter_max(std::int32_t sides, double radius);

void write_range_line(text::LineSink& out, double perim_min, double perim_max);
void write_average_line(text::LineSink& out, double perim_avg, double perim_stdev);
void write_mode_line(text::LineSink& out, double mode_x, double mode_y);

}  // namespace polygons::run
