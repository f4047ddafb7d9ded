#pragma once
// Values written as JSON text.

#include <cstdint>
#include <string>
#include <string_view>

namespace polygons::web {

// `text` between double quotes: quote and backslash escaped, control
// characters (and DEL) as \u00XX, each byte that is not part of valid UTF-8
// as \ufffd, everything else as it is.
std::string json_string(std::string_view text);

// The shortest text that reads back to the same double (0.1, 1e-05, 4.5), or
// null when `value` is not finite.
std::string json_real(double value);

std::string json_integer(std::int64_t value);

}  // namespace polygons::web
