#include "run/report.hpp"

#include <cmath>

#include "sim/class_fit.hpp"
#include "text/line.hpp"

namespace polygons::run {

double perimeter_max(std::int32_t sides, double radius) {
  return sim::class_range_max(sides, radius);
}

void write_range_line(text::LineSink& out, double perim_min, double perim_max) {
  text::put(out, text::Line()
                     .lit(" Extreme values,")
                     .col(18)
                     .G(perim_min, 12, 4)
                     .G(perim_max, 12, 4)
                     .lit("| 0, 2 n R SIN(Pi/n)"));
}

namespace {

// A label, two values in columns 18 to 41, the bar in column 42.
void write_pair_line(text::LineSink& out, std::string_view label, double a, double b) {
  text::put(out, text::Line().lit(label).col(18).G(a, 12, 4).G(b, 12, 4).col(42).lit("|"));
}

}  // namespace

void write_average_line(text::LineSink& out, double perim_avg, double perim_stdev) {
  write_pair_line(out, " Average, stdev,", perim_avg, perim_stdev);
}

void write_mode_line(text::LineSink& out, double mode_x, double mode_y) {
  write_pair_line(out, " Mode x, y,", mode_x, mode_y);
}

}  // namespace polygons::run
