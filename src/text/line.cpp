#include "text/line.hpp"

#include <algorithm>

#include "text/number_fields.hpp"

namespace polygons::text {

Line& Line::lit(std::string_view literal) {
  put(literal);
  return *this;
}

Line& Line::col(int column) {
  pos_ = static_cast<std::size_t>(std::max(column, 1) - 1);
  std::string& line = lines_.back();
  if (line.size() < pos_) line.resize(pos_, ' ');
  return *this;
}

Line& Line::blanks(int count) {
  put(std::string(static_cast<std::size_t>(std::max(count, 0)), ' '));
  return *this;
}

Line& Line::d(std::int64_t value, int width) {
  put(format_d(value, width));
  return *this;
}

Line& Line::d(std::int64_t value, int width, int digits) {
  put(format_d(value, width, digits));
  return *this;
}

Line& Line::d_signed(std::int64_t value, int width, int digits) {
  put(format_d(value, width, digits, true));
  return *this;
}

Line& Line::f(double value, int width, int decimals) {
  put(format_f(value, width, decimals));
  return *this;
}

Line& Line::E(double value, int width, int decimals) {
  put(format_E(value, width, decimals));
  return *this;
}

Line& Line::G(double value, int width, int digits) {
  put(format_G(value, width, digits));
  return *this;
}

Line& Line::E3(double value, int width, int digits) {
  put(format_E3(value, width, digits));
  return *this;
}

Line& Line::s(std::string_view value) {
  put(value);
  return *this;
}

Line& Line::slash() {
  lines_.emplace_back();
  pos_ = 0;
  return *this;
}

std::string Line::text() const {
  std::string all;
  for (const std::string& line : lines_) {
    all += line;
    all += '\n';
  }
  return all;
}

// Writes `field` from the current column on: blanks fill a gap before it,
// and it overwrites whatever the line already holds there.
void Line::put(std::string_view field) {
  std::string& line = lines_.back();
  if (line.size() < pos_) line.resize(pos_, ' ');
  line.replace(pos_, std::min(field.size(), line.size() - pos_), field);
  pos_ += field.size();
}

void put(LineSink& sink, const Line& line) {
  for (const std::string& text : line.lines()) sink.put_line(text);
}

}  // namespace polygons::text
