// Drives the fixed-column line writer with fuzzed items: every field format
// with any width, digit count and value, literals, columns, blanks and line
// breaks. Each field must fill exactly its width, show asterisks only when
// the value cannot be written in it, and read back as the value it was given;
// the finished lines must match a plain model of the column rules.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.hpp"
#include "text/line.hpp"
#include "text/number_fields.hpp"

namespace {

using polygons::fuzz::fuzz_input;
namespace text = polygons::text;

void fail(const char* what, const std::string& field) {
  std::fprintf(stderr, "line writer fault: %s: [%s]\n", what, field.c_str());
  std::abort();
}

void require(bool ok, const char* what, const std::string& field) {
  if (!ok) fail(what, field);
}

// Asterisks only (a field of width 0 counts: it has no room for anything).
bool all_asterisks(const std::string& field) { return field.find_first_not_of('*') == std::string::npos; }

// The field without its leading and trailing blanks.
std::string stripped(const std::string& field) {
  std::size_t first = field.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  std::size_t last = field.find_last_not_of(' ');
  return field.substr(first, last - first + 1);
}

// Scientific text in a form strtod reads: an exponent written without its
// letter ("1.0000+100") gets its E back.
std::string with_exponent_letter(std::string body) {
  if (body.find('E') != std::string::npos) return body;
  std::size_t sign = body.find_last_of("+-");
  if (sign != std::string::npos && sign > 0) body.insert(sign, 1, 'E');
  return body;
}

// True when the whole of `body` reads as a number; `value` receives it.
bool read_number(const std::string& body, double& value) {
  if (body.empty()) return false;
  char* end = nullptr;
  value = std::strtod(body.c_str(), &end);
  return end == body.c_str() + body.size();
}

// The written value may differ from the exact one by the rounding at its last
// digit: at most half a unit there, doubled for reading it back into a double.
void check_rounding(double value, double written, double unit, const char* what,
                    const std::string& field) {
  if (std::isinf(written) || std::isinf(unit)) return;  // rounded up past the largest double
  require(std::fabs(written - value) <= unit, what, field);
}

void check_special(double value, const std::string& field) {
  if (all_asterisks(field)) return;
  std::string body = stripped(field);
  if (std::isnan(value)) {
    require(body == "NaN", "NaN written wrongly", field);
  } else {
    std::string sign = value < 0 ? "-" : "";
    require(body == sign + "Infinity" || body == sign + "Inf", "infinity written wrongly", field);
  }
}

void check_width(const std::string& field, int width) {
  require(field.size() == static_cast<std::size_t>(std::max(width, 0)), "field width", field);
}

void check_d(const std::string& field, std::int64_t value, int width, int digits, bool plus) {
  check_width(field, width);
  std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::string needed = std::to_string(magnitude);
  std::size_t length = std::max<std::size_t>(needed.size(), static_cast<std::size_t>(std::max(digits, 0)));
  if (value < 0 || plus) ++length;
  if (all_asterisks(field)) {
    require(length > static_cast<std::size_t>(std::max(width, 0)), "integer fits but shows asterisks", field);
    return;
  }
  require(field.size() >= length, "integer written too short", field);
  std::string body = stripped(field);
  require(body.find(' ') == std::string::npos, "blank inside an integer", field);
  if (plus) require(body[0] == '+' || body[0] == '-', "sign missing", field);
  errno = 0;
  char* end = nullptr;
  long long back = std::strtoll(body.c_str(), &end, 10);
  require(errno == 0 && end == body.c_str() + body.size() && back == value, "integer reads back wrongly",
          field);
}

void check_f(const std::string& field, double value, int width, int decimals) {
  check_width(field, width);
  if (!std::isfinite(value)) return check_special(value, field);
  if (all_asterisks(field) || decimals < 0) return;
  std::string body = stripped(field);
  require(body.find('.') != std::string::npos, "fixed point without its point", field);
  require(body.size() - body.find('.') - 1 == static_cast<std::size_t>(decimals), "wrong number of decimals",
          field);
  double written;
  require(read_number(body, written), "fixed point does not read back", field);
  check_rounding(value, written, std::pow(10.0, -decimals), "fixed point rounded wrongly", field);
}

void check_E(const std::string& field, double value, int width, int decimals) {
  check_width(field, width);
  if (!std::isfinite(value)) return check_special(value, field);
  if (all_asterisks(field) || decimals < 0) return;
  std::string body = stripped(field);
  require(field.size() - body.size() == field.find_first_not_of(' '), "exponent form not right-aligned",
          field);
  double written;
  require(read_number(with_exponent_letter(body), written), "exponent form does not read back", field);
  check_rounding(value, written, std::fabs(value) * std::pow(10.0, -decimals) + 5e-324,
                 "exponent form rounded wrongly", field);
}

void check_G(const std::string& field, double value, int width, int digits) {
  check_width(field, width);
  if (!std::isfinite(value)) return check_special(value, field);
  if (all_asterisks(field) || digits < 1) return;
  double written;
  require(read_number(with_exponent_letter(stripped(field)), written), "general form does not read back",
          field);
  check_rounding(value, written, std::fabs(value) * std::pow(10.0, 1 - digits) + 5e-324,
                 "general form rounded wrongly", field);
  double magnitude = std::fabs(value);
  bool fixed_range = value == 0.0 || (magnitude >= 0.1 - 0.5 * std::pow(10.0, -(digits + 1)) &&
                                      magnitude < std::pow(10.0, digits) - 0.5);
  if (fixed_range && digits <= 15) {
    require(field.size() >= 4 && field.compare(field.size() - 4, 4, "    ") == 0,
            "general fixed form without its four blanks", field);
  }
}

void check_E3(const std::string& field, double value, int width, int digits) {
  check_width(field, width);
  if (!std::isfinite(value)) return check_special(value, field);
  if (all_asterisks(field) || digits < 1) return;
  std::string body = stripped(field);
  std::size_t start = body[0] == '-' ? 1 : 0;
  require(body.compare(start, 2, "0.") == 0, "E3 form does not start with 0.", field);
  require(body.size() >= 5 && body[body.size() - 5] == 'E', "E3 exponent not of three digits", field);
  double written;
  require(read_number(body, written), "E3 form does not read back", field);
  check_rounding(value, written, std::fabs(value) * std::pow(10.0, 1 - digits) + 5e-324,
                 "E3 form rounded wrongly", field);
}

// A value that is often near a rounding edge: a decimal with a few digits
// and any exponent, or any bit pattern at all.
double next_value(fuzz_input& input) {
  if (input.byte() % 2 == 0) return input.any_double();
  std::int64_t mantissa = input.in_range(-99999999, 99999999);
  std::int64_t exponent = input.in_range(-330, 310);
  std::string decimal = std::to_string(mantissa) + "e" + std::to_string(exponent);
  return std::strtod(decimal.c_str(), nullptr);
}

int next_width(fuzz_input& input) { return static_cast<int>(input.in_range(-3, 120)); }
int next_digits(fuzz_input& input) { return static_cast<int>(input.in_range(-3, 40)); }

// The column rules: an item is written from the current column, overwriting
// what is there; col c fills with blanks up to column c and moves there.
struct line_model {
  std::vector<std::string> lines{std::string()};
  std::size_t pos = 0;

  void put(const std::string& field) {
    std::string& line = lines.back();
    if (line.size() < pos) line.resize(pos, ' ');
    for (std::size_t i = 0; i < field.size(); ++i) {
      if (pos + i < line.size()) {
        line[pos + i] = field[i];
      } else {
        line.push_back(field[i]);
      }
    }
    pos += field.size();
  }
  void col(int column) {
    pos = static_cast<std::size_t>(std::max(column, 1) - 1);
    if (lines.back().size() < pos) lines.back().resize(pos, ' ');
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input input(data, size);
  text::Line line;
  line_model model;
  for (int item = 0; item < 64 && !input.empty(); ++item) {
    switch (input.byte() % 12) {
      case 0: {
        std::string literal = input.text(24);
        line.lit(literal);
        model.put(literal);
        break;
      }
      case 1: {
        int column = static_cast<int>(input.in_range(-3, 140));
        line.col(column);
        model.col(column);
        break;
      }
      case 2: {
        int count = static_cast<int>(input.in_range(-3, 40));
        line.blanks(count);
        model.put(std::string(static_cast<std::size_t>(std::max(count, 0)), ' '));
        break;
      }
      case 3: {
        std::int64_t value = input.any_int64();
        int width = next_width(input);
        std::string field = text::format_d(value, width);
        check_d(field, value, width, 0, false);
        line.d(value, width);
        model.put(field);
        break;
      }
      case 4:
      case 5: {
        bool plus = input.byte() % 2 == 1;
        std::int64_t value = input.any_int64();
        int width = next_width(input);
        int digits = next_digits(input);
        std::string field = text::format_d(value, width, digits, plus);
        check_d(field, value, width, digits, plus);
        if (plus) {
          line.d_signed(value, width, digits);
        } else {
          line.d(value, width, digits);
        }
        model.put(field);
        break;
      }
      case 6: {
        double value = next_value(input);
        int width = next_width(input);
        int decimals = next_digits(input);
        std::string field = text::format_f(value, width, decimals);
        check_f(field, value, width, decimals);
        line.f(value, width, decimals);
        model.put(field);
        break;
      }
      case 7: {
        double value = next_value(input);
        int width = next_width(input);
        int decimals = next_digits(input);
        std::string field = text::format_E(value, width, decimals);
        check_E(field, value, width, decimals);
        line.E(value, width, decimals);
        model.put(field);
        break;
      }
      case 8: {
        double value = next_value(input);
        int width = next_width(input);
        int digits = next_digits(input);
        std::string field = text::format_G(value, width, digits);
        check_G(field, value, width, digits);
        line.G(value, width, digits);
        model.put(field);
        break;
      }
      case 9: {
        double value = next_value(input);
        int width = next_width(input);
        int digits = next_digits(input);
        std::string field = text::format_E3(value, width, digits);
        check_E3(field, value, width, digits);
        line.E3(value, width, digits);
        model.put(field);
        break;
      }
      case 10: {
        std::string value = input.text(40);
        line.s(value);
        model.put(value);
        break;
      }
      default:
        line.slash();
        model.lines.emplace_back();
        model.pos = 0;
        break;
    }
  }
  if (line.lines() != model.lines) fail("lines differ from the column rules", line.text());
  text::StringSink sink;
  text::put(sink, line);
  if (sink.text() != line.text()) fail("sink text differs from the line text", sink.text());
  return 0;
}
