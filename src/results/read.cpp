#include "results/read.hpp"

#include <charconv>
#include <limits>

namespace polygons::results {
namespace {

// The file's lines, each without its newline; the last one must end in one.
class line_reader {
 public:
  explicit line_reader(std::string_view text) : text_(text) {}
  bool next(std::string_view& line) {
    std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) return false;
    line = text_.substr(at_, end - at_);
    at_ = end + 1;
    ++number_;
    return true;
  }
  bool at_end() const { return at_ == text_.size(); }
  std::size_t number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t number_ = 0;
};

std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (true) {
    std::size_t end = line.find('\t', at);
    fields.push_back(line.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) return fields;
    at = end + 1;
  }
}

// The whole of `text` as an integer or a real (nan and inf included).
template <typename Number>
bool read_number(std::string_view text, Number& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

struct results_parser {
  line_reader lines;
  std::string& error;

  bool fail(const std::string& what) {
    error = "line " + std::to_string(lines.number()) + ": " + what;
    return false;
  }

  bool exact_line(std::string_view expected) {
    std::string_view line;
    if (!lines.next(line)) return fail("the file ends before \"" + std::string(expected) + "\"");
    return line == expected || fail("expected \"" + std::string(expected) + "\"");
  }

  // The line "name<TAB>value", its value read into `out`.
  template <typename Number>
  bool value(std::string_view name, Number& out) {
    std::string_view line;
    if (!lines.next(line)) return fail("the file ends before " + std::string(name));
    std::vector<std::string_view> fields = split_tabs(line);
    if (fields.size() != 2 || fields[0] != name) return fail("expected " + std::string(name));
    return read_number(fields[1], out) ||
           fail("the value of " + std::string(name) + " is not valid");
  }

  bool class_row(ResultClass& row) {
    std::string_view line;
    if (!lines.next(line)) return fail("the file ends before its last class");
    const std::vector<std::string_view> fields = split_tabs(line);
    std::size_t column = 0;
    bool ok = true;
    for_each_column(row, [&](std::string_view, auto& value) {
      ok = ok && column < fields.size() && read_number(fields[column], value);
      ++column;
    });
    if (!ok || column != fields.size()) {
      return fail("expected a class: " + column_names(", ") + ", tab-separated");
    }
    return row.count >= 0 || fail("a negative count");
  }
};

bool in_range(std::int64_t value, std::int64_t low, std::int64_t high) {
  return value >= low && value <= high;
}

}  // namespace

bool parse_results(std::string_view text, const ReadLimits& limits, RunResults& out,
                   std::string& error) {
  results_parser p{line_reader(text), error};
  RunResults r;
  bool ok = p.exact_line(kResultsVersionLine);
  for_each_named_value(r, [&](std::string_view name, auto& value) {
    ok = ok && p.value(name, value);
  });
  if (!ok) return false;
  if (!in_range(r.sides, 1, limits.max_sides) ||
      !in_range(r.classes, 1, limits.max_classes) || r.trials < 1) {
    return p.fail("sides, classes or trials out of range");
  }
  if (!p.exact_line(class_header_line())) return false;
  r.rows.resize(static_cast<std::size_t>(r.classes));
  std::int64_t total = 0;
  for (ResultClass& row : r.rows) {
    if (!p.class_row(row)) return false;
    if (row.count > std::numeric_limits<std::int64_t>::max() - total) {
      return p.fail("the counts overflow");
    }
    total += row.count;
  }
  if (!p.lines.at_end()) return p.fail("a line after the last class");
  if (total != r.trials) {
    error = "the class counts sum to " + std::to_string(total) + ", not to the " +
            std::to_string(r.trials) + " trials";
    return false;
  }
  out = std::move(r);
  return true;
}

}  // namespace polygons::results
