#include "web/fields.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "sim/exact_moments.hpp"

namespace polygons::web {
namespace {

static_assert(kMaxSides <= sim::kMaxExactSides, "every run the service takes gets its exact answer");

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Skips digits from `pos`; returns how many there were.
std::size_t skip_digits(std::string_view text, std::size_t& pos) {
  std::size_t start = pos;
  while (pos < text.size() && is_digit(text[pos])) ++pos;
  return pos - start;
}

// The rule every field shares: what is sent on to the program must never be
// something its free-format reader takes as a separator, a slash or a line end,
// so only the characters of a plain number are let through.
bool is_number_shaped(std::string_view text) {
  if (text.empty() || text.size() > kMaxFieldLength) return false;
  for (char c : text) {
    if (!(is_digit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E' || c == 'd' ||
          c == 'D')) {
      return false;
    }
  }
  return true;
}

struct field_rule {
  std::string_view name;
  bool required;
};

const field_rule kRules[] = {
    {kSidesField, true},  {kRadiusField, true},  {kTrialsField, true},
    {kSeedField, true},   {kClassesField, true}, {kShowField, false},
};

// The single submitted value of `name`; an error when given more than once.
bool find_single(const submitted_fields& fields, std::string_view name,
                 std::optional<std::string_view>& value, field_error& error) {
  value.reset();
  for (const auto& [key, text] : fields) {
    if (key != name) continue;
    if (value) {
      error = {std::string(name), std::string(name) + ": given more than once"};
      return false;
    }
    value = text;
  }
  return true;
}

field_error refuse(std::string_view name, std::string_view expectation) {
  return {std::string(name), std::string(name) + ": must be " + std::string(expectation)};
}

bool whole_in_range(std::string_view name, std::string_view text, long long low, long long high,
                    std::string_view expectation, int& out, field_error& error) {
  auto value = parse_whole_number(text);
  if (!value || *value < low || *value > high) {
    error = refuse(name, expectation);
    return false;
  }
  out = static_cast<int>(*value);
  return true;
}

bool real_in_range(std::string_view name, std::string_view text, double low, double high,
                   std::string_view expectation, double& out, field_error& error) {
  auto value = parse_real_number(text);
  if (!value || !(*value >= low && *value <= high)) {
    error = refuse(name, expectation);
    return false;
  }
  out = *value;
  return true;
}

// The shortest text of `value` in `format`, its exponent without a plus
// sign or leading zeros: 1e6, 1e-6, 2.5.
std::string with_plain_exponent(double value, std::chars_format format) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, format);
  std::string text(buffer, ec == std::errc() ? end : buffer);
  const std::size_t e = text.find('e');
  if (e == std::string::npos) return text;
  std::size_t at = e + 1;
  if (text[at] == '+') text.erase(at, 1);
  if (text[at] == '-') ++at;
  while (at + 1 < text.size() && text[at] == '0') text.erase(at, 1);
  if (text.compare(e, std::string::npos, "e0") == 0) text.erase(e);
  return text;
}

}  // namespace

std::optional<long long> parse_whole_number(std::string_view text) {
  text = trim_blanks(text);
  if (!is_number_shaped(text)) return std::nullopt;
  std::size_t pos = 0;
  if (text[pos] == '+' || text[pos] == '-') ++pos;
  std::size_t digits = skip_digits(text, pos);
  if (digits == 0 || pos != text.size()) return std::nullopt;
  std::string_view magnitude = text.substr(text[0] == '+' ? 1 : 0);
  long long value = 0;
  auto [end, ec] = std::from_chars(magnitude.data(), magnitude.data() + magnitude.size(), value);
  if (ec != std::errc() || end != magnitude.data() + magnitude.size()) return std::nullopt;
  return value;
}

std::optional<double> parse_real_number(std::string_view text) {
  text = trim_blanks(text);
  if (!is_number_shaped(text)) return std::nullopt;
  std::size_t pos = 0;
  if (text[pos] == '+' || text[pos] == '-') ++pos;
  std::size_t digits = skip_digits(text, pos);
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    digits += skip_digits(text, pos);
  }
  if (digits == 0) return std::nullopt;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E' || text[pos] == 'd' ||
                            text[pos] == 'D')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    std::size_t exponent_digits = skip_digits(text, pos);
    if (exponent_digits == 0 || exponent_digits > 4) return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;

  std::string plain(text.substr(text[0] == '+' ? 1 : 0));
  for (char& c : plain) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  double value = 0.0;
  auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

bool parse_run_request(const submitted_fields& fields, run_request& out, field_error& error) {
  std::optional<std::string_view> values[std::size(kRules)];
  for (std::size_t i = 0; i < std::size(kRules); ++i) {
    if (!find_single(fields, kRules[i].name, values[i], error)) return false;
    if (!values[i] && kRules[i].required) {
      error = {std::string(kRules[i].name), std::string(kRules[i].name) + ": missing"};
      return false;
    }
  }

  run_request request;
  bool ok =
      whole_in_range(kSidesField, *values[0], kMinSides, kMaxSides,
                     "a whole number from " + range_text(kMinSides, kMaxSides), request.sides,
                     error) &&
      real_in_range(kRadiusField, *values[1], kMinRadius, kMaxRadius,
                    "a number from " + range_text(kMinRadius, kMaxRadius) + " (such as 1 or 2.5)",
                    request.radius, error) &&
      real_in_range(kTrialsField, *values[2], kMinTrials, kMaxTrials,
                    "a number from " + range_text(kMinTrials, kMaxTrials) + " (such as 1e6)",
                    request.trials, error) &&
      whole_in_range(kSeedField, *values[3], kMinSeed, kMaxSeed,
                     "a whole number from " + range_text(kMinSeed, kMaxSeed) +
                         " (0 takes a seed from the clock)",
                     request.seed, error) &&
      whole_in_range(kClassesField, *values[4], kMinClasses, kMaxClasses,
                     "a whole number from " + range_text(kMinClasses, kMaxClasses) +
                         " (0 chooses one)",
                     request.classes, error) &&
      (!values[5] ||
       whole_in_range(kShowField, *values[5], 0, 1, "0 or 1", request.show, error));
  if (ok) out = request;
  return ok;
}

bool parse_answer_format(const submitted_fields& fields, answer_format& out, field_error& error) {
  std::optional<std::string_view> value;
  if (!find_single(fields, kFormatField, value, error)) return false;
  if (!value || *value == "text") {
    out = answer_format::text;
  } else if (*value == "json") {
    out = answer_format::json;
  } else if (*value == "csv") {
    out = answer_format::csv;
  } else {
    error = refuse(kFormatField, "json, csv or text");
    return false;
  }
  return true;
}

std::string limit_text(double value) {
  const bool whole = std::trunc(value) == value && std::fabs(value) < 9e18;
  std::string shortest = whole ? with_plain_exponent(value, std::chars_format::scientific)
                               : with_plain_exponent(value, std::chars_format::general);
  if (!whole) return shortest;
  std::string digits = std::to_string(static_cast<long long>(value));
  return std::fabs(value) < 1e5 || digits.size() <= shortest.size() ? digits : shortest;
}

std::string range_text(double low, double high) {
  return limit_text(low) + " to " + limit_text(high);
}

std::string real_text(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

std::string parameter_lines(const run_request& request) {
  return std::to_string(request.sides) + "\n" + real_text(request.radius) + "\n" +
         real_text(request.trials) + " " + std::to_string(request.seed) + "\n" +
         std::to_string(request.classes) + "\n" + std::to_string(request.show) + "\n";
}

}  // namespace polygons::web
