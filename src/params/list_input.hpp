#pragma once
// Free-format list input: the way the parameter lines are read.
//
// Each read starts on a new line and takes values for its items in order.
// Values are separated by blanks, tabs, a comma (blanks around it allowed) or
// the end of a line. A read lacking values goes on to the next lines; values
// left on the line after the last item are skipped unparsed, so a line may
// carry comments. A slash ends the read at once, and a null value (a leading
// comma, or two commas with nothing but blanks between) leaves its item as
// it was.

#include <cstdint>
#include <istream>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace polygons::params {

// One item of a read: the name that diagnostics give it and where its value goes.
struct list_item {
  std::string_view name;
  std::variant<std::int32_t*, double*> target;
};

// The input stream of a sequence of reads and the number of lines consumed.
struct list_input {
  std::istream& in;
  std::string source_name = "standard input";
  std::int64_t line_number = 0;  // lines consumed so far
};

// Performs one read. A missing value (end of input), a value that is not
// valid for its item, or an integer outside the signed 32-bit range throws
// text::FatalError(kExitBadInput) naming the line, the text and the item.
// A failing stream throws text::FatalError(kExitIoFailure).
void read_list(list_input& input, std::span<const list_item> items);

// The value of an integer item: optional sign and decimal digits, in 32 bits.
// False when `token` is not one; `out_of_range` then tells whether it was
// a valid integer too large for 32 bits.
bool parse_list_integer(std::string_view token, std::int32_t& value, bool& out_of_range);

// The value of a real item: an integer, fixed point, an exponent introduced
// by E or D in either case, or NaN, Inf, Infinity in any case with an
// optional sign. False when `token` is none of these.
bool parse_list_real(std::string_view token, double& value);

}  // namespace polygons::params
