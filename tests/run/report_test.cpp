// The three result lines, column for column.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "run/report.hpp"
#include "text/io.hpp"

namespace polygons::run {
namespace {

std::string range_line(double perim_max) {
  text::StringSink out;
  write_range_line(out, 0.0, perim_max);
  return out.text();
}

TEST(PerimeterMax, RegularPolygonsInscribedInTheCircle) {
  const struct {
    int sides;
    double radius;
    double expected;
  } cases[] = {
      {2, 1.0, 4.0},                      // two sides along one diameter
      {3, 1.0, 3.0 * std::sqrt(3.0)},     // equilateral triangle
      {4, 1.0, 4.0 * std::sqrt(2.0)},     // square
      {6, 2.0, 12.0},                     // hexagon: each side a radius
      {3, -1.0, -3.0 * std::sqrt(3.0)},   // a negative radius keeps its sign
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(perimeter_max(c.sides, c.radius), c.expected, 1e-14 * std::abs(c.expected))
        << c.sides << " sides";
  }
}

TEST(ResultLines, RangeLineForCommonPolygons) {
  const struct {
    double perim_max;
    const char* line;
  } cases[] = {
      {perimeter_max(3, 1.0), " Extreme values,    0.000       5.196    | 0, 2 n R SIN(Pi/n)\n"},
      {4.0, " Extreme values,    0.000       4.000    | 0, 2 n R SIN(Pi/n)\n"},
      {40.0, " Extreme values,    0.000       40.00    | 0, 2 n R SIN(Pi/n)\n"},
      {10000.0, " Extreme values,    0.000      1.0000E+04| 0, 2 n R SIN(Pi/n)\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(range_line(c.perim_max), c.line);
}

TEST(ResultLines, AverageAndModeLinesEndWithTheBarInColumn42) {
  text::StringSink out;
  write_average_line(out, 3.806023343, 1.092569534);
  write_mode_line(out, 4.959963676, 0.4572614132);
  write_mode_line(out, 1.5, 0.1);   // a density of exactly 0.1 stays in fixed point
  write_mode_line(out, 1.5, 0.09);  // below 0.1 it takes the exponent form
  write_average_line(out, 12345.6, 0.00731);
  EXPECT_EQ(out.text(),
            " Average, stdev,    3.806       1.093    |\n"
            " Mode x, y,         4.960      0.4573    |\n"
            " Mode x, y,         1.500      0.1000    |\n"
            " Mode x, y,         1.500      9.0000E-02|\n"
            " Average, stdev,   1.2346E+04  7.3100E-03|\n");
}

}  // namespace
}  // namespace polygons::run
