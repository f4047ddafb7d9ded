#include "params/list_input.hpp"

#include <cctype>
#include <cstdlib>
#include <limits>

#include "text/fixed_text.hpp"
#include "text/io.hpp"

namespace polygons::params {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool ends_value(char c) { return is_blank(c) || c == ',' || c == '/'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The offending text as a diagnostic shows it: quoted, control characters
// as '?', cut when long.
std::string quoted(std::string_view token) {
  constexpr std::size_t kShown = 40;
  std::string shown = "\"";
  for (char c : token.substr(0, kShown)) shown += std::iscntrl(static_cast<unsigned char>(c)) ? '?' : c;
  return shown + (token.size() > kShown ? "...\"" : "\"");
}

// The scanning position of one read within the current line.
class list_scanner {
 public:
  explicit list_scanner(list_input& input) : input_(input) {}

  // Moves to the next line; throws when the input has ended.
  void start_line(std::string_view item_name) {
    if (!std::getline(input_.in, line_)) {
      if (input_.in.bad())
        throw text::FatalError("cannot read " + input_.source_name, text::kExitIoFailure);
      throw text::FatalError(input_.source_name + ", line " + text::i0(input_.line_number + 1) +
                                 ": end of input before a value for the " + std::string(item_name),
                             text::kExitBadInput);
    }
    ++input_.line_number;
    pos_ = 0;
  }

  // Skips blanks and line ends up to the next character that is not a blank.
  void skip_blanks_across_lines(std::string_view item_name) {
    for (;;) {
      while (pos_ < line_.size() && is_blank(line_[pos_])) ++pos_;
      if (pos_ < line_.size()) return;
      start_line(item_name);
    }
  }

  char peek() const { return line_[pos_]; }
  void advance() { ++pos_; }

  std::string_view take_value() {
    std::size_t begin = pos_;
    while (pos_ < line_.size() && !ends_value(line_[pos_])) ++pos_;
    return std::string_view(line_).substr(begin, pos_ - begin);
  }

  [[noreturn]] void refuse(std::string_view token, std::string_view why, std::string_view item_name) const {
    throw text::FatalError(input_.source_name + ", line " + text::i0(input_.line_number) + ": " +
                               quoted(token) + " " + std::string(why) + " (" + std::string(item_name) + ")",
                           text::kExitBadInput);
  }

 private:
  list_input& input_;
  std::string line_;
  std::size_t pos_ = 0;
};

void store_value(const list_scanner& scanner, std::string_view token, const list_item& item) {
  if (std::int32_t* const* target = std::get_if<std::int32_t*>(&item.target)) {
    bool out_of_range = false;
    std::int32_t value = 0;
    if (parse_list_integer(token, value, out_of_range)) {
      **target = value;
      return;
    }
    if (out_of_range) scanner.refuse(token, "is outside the 32-bit integer range", item.name);
    double ignored = 0.0;
    if (parse_list_real(token, ignored)) scanner.refuse(token, "is not an integer", item.name);
    scanner.refuse(token, "is not a number", item.name);
  }
  double value = 0.0;
  if (!parse_list_real(token, value)) scanner.refuse(token, "is not a number", item.name);
  *std::get<double*>(item.target) = value;
}

std::size_t count_digits(std::string_view text, std::size_t& pos) {
  std::size_t begin = pos;
  while (pos < text.size() && is_digit(text[pos])) ++pos;
  return pos - begin;
}

}  // namespace

bool parse_list_integer(std::string_view token, std::int32_t& value, bool& out_of_range) {
  out_of_range = false;
  std::size_t pos = 0;
  bool negative = false;
  if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) negative = token[pos++] == '-';
  std::size_t first_digit = pos;
  if (count_digits(token, pos) == 0 || pos != token.size()) return false;
  // Accumulated as a negative number, so that the lowest value fits too.
  constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kHighest = std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (std::size_t i = first_digit; i < token.size(); ++i) {
    magnitude = magnitude * 10 + (token[i] - '0');
    if (magnitude > -kLowest) {
      out_of_range = true;
      return false;
    }
  }
  if (!negative && magnitude > kHighest) {
    out_of_range = true;
    return false;
  }
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}

bool parse_list_real(std::string_view token, double& value) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) negative = token[pos++] == '-';
  std::string_view rest = token.substr(pos);
  if (equals_ignoring_case(rest, "nan")) {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (equals_ignoring_case(rest, "inf") || equals_ignoring_case(rest, "infinity")) {
    value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  std::size_t digits = count_digits(token, pos);
  if (pos < token.size() && token[pos] == '.') {
    ++pos;
    digits += count_digits(token, pos);
  }
  if (digits == 0) return false;
  std::string number(token.substr(0, pos));
  if (pos < token.size()) {
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(token[pos])));
    if (letter != 'E' && letter != 'D') return false;
    ++pos;
    std::size_t exponent_begin = pos;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) ++pos;
    if (count_digits(token, pos) == 0 || pos != token.size()) return false;
    number += 'e';
    number += token.substr(exponent_begin);
  }
  // The text is plain decimal now; an exponent beyond the range of a double
  // gives infinity or zero as the conversion rounds it.
  value = std::strtod(number.c_str(), nullptr);
  return true;
}

void read_list(list_input& input, std::span<const list_item> items) {
  if (items.empty()) return;
  list_scanner scanner(input);
  scanner.start_line(items.front().name);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const list_item& item = items[i];
    scanner.skip_blanks_across_lines(item.name);
    char c = scanner.peek();
    if (c == '/') return;
    if (c == ',') {  // a null value: the item keeps its value
      scanner.advance();
      continue;
    }
    store_value(scanner, scanner.take_value(), item);
    if (i + 1 == items.size()) return;
    // The separator after a value: blanks and line ends, with at most one comma.
    scanner.skip_blanks_across_lines(items[i + 1].name);
    if (scanner.peek() == ',') scanner.advance();
  }
}

}  // namespace polygons::params
