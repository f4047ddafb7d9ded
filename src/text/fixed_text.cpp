#include "text/fixed_text.hpp"

#include <algorithm>

namespace polygons::text {

std::string fixed(std::string_view value, std::size_t length) {
  std::string out(value.substr(0, length));
  out.resize(length, ' ');
  return out;
}

std::string_view trimmed(std::string_view value) {
  std::size_t end = value.find_last_not_of(' ');
  return end == std::string_view::npos ? value.substr(0, 0) : value.substr(0, end + 1);
}

bool padded_equal(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  return b.substr(0, a.size()) == a &&
         b.find_first_not_of(' ', a.size()) == std::string_view::npos;
}

std::string join_cut(std::size_t length, std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) {
    out += trimmed(part);
    if (out.size() >= length) break;
  }
  if (out.size() > length) out.resize(length);
  return out;
}

std::string i0(std::int64_t value) { return std::to_string(value); }

}  // namespace polygons::text
