#include "graph/plot_script.hpp"

#include <streambuf>

#include "text/fixed_text.hpp"
#include "text/line.hpp"

namespace polygons::graph {
namespace {

// Leading blanks (code 32 only) removed; a tab is not a blank here.
std::string_view left_adjusted(std::string_view line) {
  const auto first = line.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view() : line.substr(first);
}

void copy_line(text::LineSink& script, std::string_view line) {
  text::put(script, text::Line().s(text::trimmed(left_adjusted(line))));
}

}  // namespace

bool is_plotting_directive(std::string_view line) {
  const std::string padded =
      text::fixed(left_adjusted(line.substr(0, kTemplateLineLength)), kTemplateLineLength);
  return padded.starts_with("plot ") || padded.starts_with("splot ");
}

bool read_template_line(std::istream& in, std::string& line) {
  line.clear();
  std::streambuf* buffer = in.rdbuf();
  if (buffer == nullptr) return false;
  bool read_any = false;
  for (;;) {
    const auto c = buffer->sbumpc();
    if (c == std::streambuf::traits_type::eof()) {
      in.setstate(std::ios::eofbit);
      return read_any;
    }
    read_any = true;
    if (c == '\n') return true;
    if (line.size() < kTemplateLineLength) line.push_back(std::streambuf::traits_type::to_char_type(c));
  }
}

std::string quoted_path(std::string_view path) {
  std::string quoted = "\"";
  for (const char ch : path) {
    const auto code = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      quoted.push_back('\\');
      quoted.push_back(ch);
    } else if (ch == '`' || code < 32 || code == 127) {
      quoted.append("\\0");  // gnuplot's octal escape: \0 and three digits
      quoted.push_back(static_cast<char>('0' + (code >> 6)));
      quoted.push_back(static_cast<char>('0' + ((code >> 3) & 7)));
      quoted.push_back(static_cast<char>('0' + (code & 7)));
    } else {
      quoted.push_back(ch);
    }
  }
  quoted.push_back('"');
  return quoted;
}

void gnuload_make(text::LineSink& script, std::string_view image, std::string_view data,
                  std::istream& in, text::LineSink& out) {
  text::put(script, text::Line().lit("set output ").s(quoted_path(image)));
  std::string line;
  for (;;) {
    if (!read_template_line(in, line)) {
      text::put(out, text::Line().lit(" *** Error: No plotting directive ***"));
      throw text::RunEnded{};
    }
    if (is_plotting_directive(line)) break;
    copy_line(script, line);
  }
  const std::string padded = text::fixed(left_adjusted(line), kTemplateLineLength);
  text::put(script, text::Line().s(std::string_view(padded).substr(0, 5)).lit(" ").s(quoted_path(data)).lit(" \\"));
  while (read_template_line(in, line)) copy_line(script, line);
}

}  // namespace polygons::graph
