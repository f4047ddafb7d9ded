#pragma once
// Fixed-length text: values padded with blanks on the right, taken trimmed
// without their trailing blanks, compared as if the shorter were padded.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace polygons::text {

// `value` padded with blanks or cut to exactly `length` characters.
std::string fixed(std::string_view value, std::size_t length);

// `value` without its trailing blanks; leading blanks stay.
std::string_view trimmed(std::string_view value);

// True when `a` and `b` are equal after the shorter is padded with blanks.
bool padded_equal(std::string_view a, std::string_view b);

// The trimmed parts joined and cut to `length` characters (not padded).
std::string join_cut(std::size_t length, std::initializer_list<std::string_view> parts);

// An integer as plain decimal text: no blanks, a minus sign when negative.
std::string i0(std::int64_t value);

}  // namespace polygons::text
