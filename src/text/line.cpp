#include "text/line.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace polygons::text {

namespace {

// A field body, or nothing when the value has no rendering in the notation
// (the field then shows asterisks like any other overflow).
using Body = std::optional<std::string>;

// The one place where a field gets its width: `body` right-aligned in
// `width - trailing` columns and followed by `trailing` blanks, or `width`
// asterisks when the body is missing or does not fit.
std::string write_padded(const Body& body, int width, int trailing = 0) {
  width = std::max(width, 0);
  trailing = std::clamp(trailing, 0, width);
  std::size_t room = static_cast<std::size_t>(width - trailing);
  if (!body || body->size() > room) return std::string(static_cast<std::size_t>(width), '*');
  std::string field(room - body->size(), ' ');
  field += *body;
  field.append(static_cast<std::size_t>(trailing), ' ');
  return field;
}

// printf of one double, sized to whatever it produces.
std::string printf_double(const char* format, int precision, double value) {
  int size = std::snprintf(nullptr, 0, format, precision, value);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  std::snprintf(out.data(), out.size() + 1, format, precision, value);
  return out;
}

// The decimal digits and exponent of |value| rounded to `digits` significant
// digits (correct rounding of the binary value): |value| ~ 0.d1d2... x 10^(exponent+1).
struct Scientific {
  std::string digits;
  int exponent = 0;  // of the first digit, as in d1.d2d3... x 10^exponent
};

Scientific scientific(double value, int digits) {
  std::string text = printf_double("%.*e", digits - 1, std::fabs(value));
  std::size_t e = text.find('e');
  Scientific result;
  for (std::size_t i = 0; i < e; ++i) {
    if (text[i] != '.') result.digits.push_back(text[i]);
  }
  result.exponent = std::atoi(text.c_str() + e + 1);
  return result;
}

std::string sign_of(double value) { return std::signbit(value) ? "-" : ""; }

// Exponent digits with their sign, at least `min_digits` wide.
std::string signed_exponent(int exponent, int min_digits) {
  std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
  if (digits.size() < static_cast<std::size_t>(min_digits)) {
    digits.insert(0, static_cast<std::size_t>(min_digits) - digits.size(), '0');
  }
  return (exponent < 0 ? "-" : "+") + digits;
}

// NaN and infinities, as Fortran writes them: "NaN", "Infinity" or the short
// "Inf" when the long word does not fit; negative infinity with its sign.
std::string special_field(double value, int width) {
  if (std::isnan(value)) return write_padded(std::string("NaN"), width);
  std::string sign = sign_of(value);
  std::string longer = sign + "Infinity";
  if (longer.size() <= static_cast<std::size_t>(std::max(width, 0))) {
    return write_padded(longer, width);
  }
  return write_padded(sign + "Inf", width);
}

// Fixed point with `decimals` digits after the point; the point is written
// even when no digit follows it.
std::string fixed_body(double value, int decimals) {
  std::string body = printf_double("%.*f", decimals, value);
  if (decimals == 0) body.push_back('.');
  return body;
}

// One digit, the point, `decimals` digits, then E+dd, or +ddd without the
// letter when the exponent needs three digits.
Body exponent_body(double value, int decimals) {
  Scientific sci = scientific(value, decimals + 1);
  if (std::abs(sci.exponent) > 999) return std::nullopt;
  std::string body = sign_of(value);
  body += sci.digits.substr(0, 1);
  body += '.';
  body += sci.digits.substr(1);
  if (std::abs(sci.exponent) <= 99) {
    body += 'E';
    body += signed_exponent(sci.exponent, 2);
  } else {
    body += signed_exponent(sci.exponent, 3);
  }
  return body;
}

// "0." and `digits` significant digits, then E and a three-digit exponent.
Body exponent3_body(double value, int digits) {
  Scientific sci = scientific(value, digits);
  int exponent = value == 0.0 ? 0 : sci.exponent + 1;
  if (std::abs(exponent) > 999) return std::nullopt;
  return sign_of(value) + "0." + sci.digits + "E" + signed_exponent(exponent, 3);
}

// Magnitude of any int64 without overflow (INT64_MIN included).
std::uint64_t magnitude(std::int64_t value) {
  return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

}  // namespace

std::string format_d(std::int64_t value, int width, int digits, bool plus) {
  std::string body = std::to_string(magnitude(value));
  if (digits > 0 && body.size() < static_cast<std::size_t>(digits)) {
    if (static_cast<std::size_t>(digits) > static_cast<std::size_t>(std::max(width, 0))) {
      return write_padded(std::nullopt, width);
    }
    body.insert(0, static_cast<std::size_t>(digits) - body.size(), '0');
  }
  if (value < 0) {
    body.insert(0, 1, '-');
  } else if (plus) {
    body.insert(0, 1, '+');
  }
  return write_padded(body, width);
}

std::string format_f(double value, int width, int decimals) {
  if (!std::isfinite(value)) return special_field(value, width);
  decimals = std::max(decimals, 0);
  return write_padded(fixed_body(value, decimals), width);
}

std::string format_E(double value, int width, int decimals) {
  if (!std::isfinite(value)) return special_field(value, width);
  decimals = std::max(decimals, 0);
  return write_padded(exponent_body(value, decimals), width);
}

namespace {

// The boundary below which |x| rounded to `digits` significant digits has at
// most `before_point` digits before the point: 10^before_point * (1 - 0.5*10^-digits),
// taken as the double nearest to it (before_point -1 gives the lower end,
// 0.1 - 0.5*10^-(digits+1)). A value that reads back as the boundary itself
// counts as reaching it, so 9.9995 gives 10.00 under %12.4G.
double general_boundary(int before_point, int digits) {
  std::string text = "0." + std::string(static_cast<std::size_t>(digits), '9') + "5e" +
                     std::to_string(before_point);
  return std::strtod(text.c_str(), nullptr);
}

}  // namespace

// General form: fixed point with `digits` significant digits and four
// trailing blanks for 0.1 - 0.5*10^-(digits+1) <= |x| < 10^digits - 0.5, the
// exponent form otherwise.
std::string format_G(double value, int width, int digits) {
  if (!std::isfinite(value)) return special_field(value, width);
  digits = std::clamp(digits, 1, 99);
  if (value == 0.0) return write_padded(fixed_body(value, digits - 1), width, 4);
  double abs_value = std::fabs(value);
  if (abs_value < general_boundary(-1, digits) || abs_value >= general_boundary(digits, digits)) {
    return format_E(value, width, digits);
  }
  int before_point = 0;
  while (abs_value >= general_boundary(before_point, digits)) ++before_point;
  return write_padded(fixed_body(value, digits - before_point), width, 4);
}

std::string format_E3(double value, int width, int digits) {
  if (!std::isfinite(value)) return special_field(value, width);
  digits = std::max(digits, 1);
  return write_padded(exponent3_body(value, digits), width);
}

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
