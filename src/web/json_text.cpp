#include "web/json_text.hpp"

#include <cmath>

#include "web/fields.hpp"

namespace polygons::web {
namespace {

// Length of the valid UTF-8 sequence that starts at `at`, or 0.
std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  else return 0;
  if (lead == 0xE0) low = 0xA0;  // no overlong forms
  if (lead == 0xED) high = 0x9F;  // no surrogates
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string json_string(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else if (std::size_t length = utf8_length(text, at); length == 0) {
      out += "\\ufffd";
    } else {
      out.append(text.substr(at, length));
      at += length;
      continue;
    }
    ++at;
  }
  out += '"';
  return out;
}

std::string json_real(double value) { return std::isfinite(value) ? real_text(value) : "null"; }

std::string json_integer(std::int64_t value) { return std::to_string(value); }

}  // namespace polygons::web
