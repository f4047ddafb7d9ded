#include "text/number_fields.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

namespace polygons::text {

namespace {

// Writes a field body left to right into the room the field has for it.
// Whatever would pass the end of the room is dropped and marks the body as
// too long, so the field shows asterisks.
struct BodyCursor {
  char* pos;
  char* last;
  bool overflow = false;

  void put(char c) {
    if (pos == last) {
      overflow = true;
    } else {
      *pos++ = c;
    }
  }
  void put(std::string_view text) {
    if (has_room(text.size())) pos = std::copy(text.begin(), text.end(), pos);
  }
  void repeat(char c, std::size_t count) {
    if (has_room(count)) pos = std::fill_n(pos, count, c);
  }

  // std::to_chars straight into the room.
  template <typename... Args>
  void number(Args... args) {
    const std::to_chars_result result = std::to_chars(pos, last, args...);
    if (result.ec == std::errc{}) {
      pos = result.ptr;
    } else {
      overflow = true;
    }
  }

  bool has_room(std::size_t count) {
    if (count > static_cast<std::size_t>(last - pos)) overflow = true;
    return !overflow;
  }
};

// The one place where a field gets its width: the body `write_body` puts
// through a BodyCursor, right-aligned in `width - trailing` columns and
// followed by `trailing` blanks, or `width` asterisks when it does not fit.
template <typename WriteBody>
std::string write_padded(int width, int trailing, WriteBody write_body) {
  width = std::max(width, 0);
  const auto size = static_cast<std::size_t>(width);
  const auto room = static_cast<std::size_t>(width - std::clamp(trailing, 0, width));
  std::string field(size, ' ');
  char* first = field.data();
  BodyCursor cursor{first, first + room};
  write_body(cursor);
  if (cursor.overflow) return std::string(size, '*');
  const auto length = static_cast<std::size_t>(cursor.pos - first);
  std::move_backward(first, cursor.pos, first + room);
  std::fill_n(first, room - length, ' ');
  return field;
}

// More digits than the field is wide never fit; capping them at the width
// keeps every count in range.
int capped(int digits, int width, int least) { return std::max(std::min(digits, width), least); }

// The value as std::to_chars is given it. The run flushes subnormal doubles
// to zero in double arithmetic, and std::to_chars of a double then writes
// them as zero; long double arithmetic is not flushed, so every field shows
// the value it was given.
long double widened(double value) { return value; }

// A double written out exactly has at most this many significant digits, and
// at most this many digits after the point; every further digit is 0.
constexpr int kExactSignificant = 767;
constexpr int kExactDecimals = 1074;

// |value| rounded to `digits` significant digits, d1.d2d3... x 10^exponent.
struct Scientific {
  std::array<char, kExactSignificant + 16> text{};  // d1.d2d3...e+xx, as std::to_chars writes it
  int held = 0;      // digits in `text`; the ones after them are 0
  int exponent = 0;  // decimal exponent of d1

  char digit(int i) const {
    if (i >= held) return '0';
    return text[static_cast<std::size_t>(i == 0 ? 0 : i + 1)];  // past the point
  }
};

// Writes `value` with `significant` digits in the scientific form of
// std::to_chars and returns the decimal exponent it wrote after the 'e'.
// Precondition: [first, last) has room for it.
template <typename Real>
int to_chars_scientific(char* first, char* last, Real value, int significant) {
  const std::to_chars_result result =
      std::to_chars(first, last, value, std::chars_format::scientific, significant - 1);
  assert(result.ec == std::errc{});
  const char* e = std::find(first, result.ptr, 'e');
  int magnitude = 0;
  std::from_chars(e + 2, result.ptr, magnitude);
  return e[1] == '-' ? -magnitude : magnitude;
}

// Precondition: digits >= 1.
Scientific scientific(double value, int digits) {
  assert(digits >= 1);
  Scientific sci;
  sci.held = std::min(digits, kExactSignificant);
  char* first = sci.text.data();
  sci.exponent =
      to_chars_scientific(first, first + sci.text.size(), std::fabs(widened(value)), sci.held);
  return sci;
}

void put_sign(BodyCursor& out, double value) {
  if (std::signbit(value)) out.put('-');
}

void put_digits(BodyCursor& out, const Scientific& sci, int from, int to) {
  for (int i = from; i < to && !out.overflow; ++i) out.put(sci.digit(i));
}

// The exponent's sign and at least `min_digits` digits.
void put_exponent(BodyCursor& out, int exponent, int min_digits) {
  out.put(exponent < 0 ? '-' : '+');
  std::array<char, 8> text{};
  const char* end = std::to_chars(text.data(), text.data() + text.size(), std::abs(exponent)).ptr;
  const auto count = static_cast<int>(end - text.data());
  if (count < min_digits) out.repeat('0', static_cast<std::size_t>(min_digits - count));
  out.put(std::string_view(text.data(), static_cast<std::size_t>(count)));
}

// Fixed point with `decimals` digits after the point; the point is written
// even when no digit follows it.
void put_fixed(BodyCursor& out, double value, int decimals) {
  const int exact = std::min(decimals, kExactDecimals);
  out.number(widened(value), std::chars_format::fixed, exact);
  if (decimals == 0) out.put('.');
  out.repeat('0', static_cast<std::size_t>(decimals - exact));
}

// One digit, the point, `decimals` digits, then E+dd, or +ddd without the
// letter when the exponent needs three digits (a double's never needs four).
void put_exponent_form(BodyCursor& out, double value, int decimals) {
  const Scientific sci = scientific(value, decimals + 1);
  put_sign(out, value);
  out.put(sci.digit(0));
  out.put('.');
  put_digits(out, sci, 1, decimals + 1);
  const bool two_digits = std::abs(sci.exponent) <= 99;
  if (two_digits) out.put('E');
  put_exponent(out, sci.exponent, two_digits ? 2 : 3);
}

// "0." and `digits` significant digits, then E and a three-digit exponent.
void put_exponent3_form(BodyCursor& out, double value, int digits) {
  const Scientific sci = scientific(value, digits);
  put_sign(out, value);
  out.put("0.");
  put_digits(out, sci, 0, digits);
  out.put('E');
  put_exponent(out, value == 0.0 ? 0 : sci.exponent + 1, 3);
}

// NaN and infinities, as Fortran writes them: "NaN", "Infinity" or the short
// "Inf" when the long word does not fit; negative infinity with its sign.
std::string special_field(double value, int width) {
  const std::string_view longer = std::signbit(value) ? "-Infinity" : "Infinity";
  std::string_view word = longer;
  if (std::isnan(value)) {
    word = "NaN";
  } else if (static_cast<int>(longer.size()) > width) {
    word = longer.substr(0, longer.size() - 5);
  }
  return write_padded(width, 0, [&](BodyCursor& out) { out.put(word); });
}

// Magnitude of any int64 without overflow (INT64_MIN included).
std::uint64_t magnitude(std::int64_t value) {
  return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// The general form changes layout where |x| rounded to `digits` significant
// digits reaches a power of ten 10^k, at the boundary 10^k - 0.5*10^(k-digits).
// The double nearest to a boundary counts as reaching it even when it lies
// just below (9.9995 gives 10.00 under %12.4G). That holds exactly when the
// midpoint between |x| and the next double up reaches the boundary, so the
// layout follows the decimal exponent of that midpoint at `digits` digits.
// Precondition: magnitude is finite and above 0.
int layout_exponent(double magnitude, int digits) {
  static_assert(std::numeric_limits<long double>::digits > std::numeric_limits<double>::digits,
                "the midpoint of two doubles must be exact in long double");
  assert(std::isfinite(magnitude) && magnitude > 0.0);
  constexpr int kLowestBinade = std::numeric_limits<double>::min_exponent - 1;
  const int binade = std::max(std::ilogb(magnitude), kLowestBinade);
  const long double midpoint =
      widened(magnitude) + std::ldexp(1.0L, binade - std::numeric_limits<double>::digits);
  std::array<char, 128> text{};
  return to_chars_scientific(text.data(), text.data() + text.size(), midpoint, digits);
}

}  // namespace

std::string format_d(std::int64_t value, int width, int digits, bool plus) {
  return write_padded(width, 0, [&](BodyCursor& out) {
    std::array<char, 24> text{};
    const char* end = std::to_chars(text.data(), text.data() + text.size(), magnitude(value)).ptr;
    const auto count = static_cast<std::size_t>(end - text.data());
    if (value < 0) {
      out.put('-');
    } else if (plus) {
      out.put('+');
    }
    const auto least = static_cast<std::size_t>(std::max(digits, 0));
    if (least > count) out.repeat('0', least - count);
    out.put(std::string_view(text.data(), count));
  });
}

std::string format_f(double value, int width, int decimals) {
  if (!std::isfinite(value)) return special_field(value, width);
  decimals = capped(decimals, width, 0);
  return write_padded(width, 0, [&](BodyCursor& out) { put_fixed(out, value, decimals); });
}

std::string format_E(double value, int width, int decimals) {
  if (!std::isfinite(value)) return special_field(value, width);
  decimals = capped(decimals, width, 0);
  return write_padded(width, 0, [&](BodyCursor& out) { put_exponent_form(out, value, decimals); });
}

// General form: fixed point with `digits` significant digits and four
// trailing blanks for 0.1 - 0.5*10^-(digits+1) <= |x| < 10^digits - 0.5, the
// exponent form otherwise.
std::string format_G(double value, int width, int digits) {
  if (!std::isfinite(value)) return special_field(value, width);
  digits = std::clamp(digits, 1, 99);
  int decimals = digits - 1;  // zero's own form
  if (value != 0.0) {
    const int exponent = layout_exponent(std::fabs(value), digits);
    if (exponent < -1 || exponent >= digits) return format_E(value, width, digits);
    decimals = digits - std::max(exponent + 1, 0);
  }
  return write_padded(width, 4, [&](BodyCursor& out) { put_fixed(out, value, decimals); });
}

std::string format_E3(double value, int width, int digits) {
  if (!std::isfinite(value)) return special_field(value, width);
  digits = capped(digits, width, 1);
  return write_padded(width, 0, [&](BodyCursor& out) { put_exponent3_form(out, value, digits); });
}

}  // namespace polygons::text
