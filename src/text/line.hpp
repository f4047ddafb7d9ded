#pragma once
// The fixed-column line writer. A layout such as
//   " Radius," col 30 %12.4G(radius) col 42 "| (radius of circle)"
// reads in code as
//   Line().lit(" Radius,").col(30).G(radius, 12, 4).col(42).lit("| (radius of circle)")
// Every report line and file line of the program is built with it. The Line
// keeps the columns; the number fields come from text/number_fields.hpp.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/io.hpp"

namespace polygons::text {

class Line {
 public:
  Line& lit(std::string_view literal);                 // "literal"
  Line& col(int column);                               // col c (1-based; may overwrite)
  Line& blanks(int count);                             // nX
  Line& d(std::int64_t value, int width);              // %wd
  Line& d(std::int64_t value, int width, int digits);  // %w.md
  Line& d_signed(std::int64_t value, int width, int digits);  // %+w.md
  Line& f(double value, int width, int decimals);      // %w.df
  Line& E(double value, int width, int decimals);      // %w.dE
  Line& G(double value, int width, int digits);        // %w.dG
  Line& E3(double value, int width, int digits);       // %w.dE3
  Line& s(std::string_view value);                     // %s
  Line& slash();                                       // /

  // The finished lines ('/' separates them), without newlines.
  const std::vector<std::string>& lines() const { return lines_; }
  // All lines, each followed by a newline.
  std::string text() const;

 private:
  void put(std::string_view field);
  std::vector<std::string> lines_{std::string()};
  std::size_t pos_ = 0;  // 0-based column of the next item on the current line
};

// Hands every line of `line` to `sink`.
void put(LineSink& sink, const Line& line);

}  // namespace polygons::text
