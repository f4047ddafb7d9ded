#pragma once
// The number fields of the line writer, one function per notation:
//   %wd, %w.md, %+w.md   format_d
//   %w.df                format_f
//   %w.dE                format_E
//   %w.dG                format_G
//   %w.dE3               format_E3
// Each returns exactly `width` characters (none for a width below 1), written
// without the locale.

#include <cstdint>
#include <string>

namespace polygons::text {

// A value that does not fit its width gives that many asterisks. NaN and
// infinities are written right-aligned as "NaN", "Infinity" / "-Infinity", or
// "Inf" / "-Inf" when the long word does not fit, else asterisks. Fixed point
// writes the point even when no decimal follows it ("1234."). `digits` of the
// general and E3 forms counts significant digits and is at least 1.
std::string format_d(std::int64_t value, int width, int digits = 0, bool plus = false);
std::string format_f(double value, int width, int decimals);
std::string format_E(double value, int width, int decimals);
std::string format_G(double value, int width, int digits);
std::string format_E3(double value, int width, int digits);

}  // namespace polygons::text
