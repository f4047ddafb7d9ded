// Feeds fuzzed bytes, NUL bytes and overlong lines included, to the plotting
// script builder as its template, with fuzzed image and data paths. The
// script must hold one line per template line after the output line, none
// longer than the template buffer, with exactly the first plotting directive
// aimed at the data file; without a directive the run ends with its one
// error line. Anything else, a crash or undefined behaviour is a fault.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.hpp"
#include "graph/plot_script.hpp"
#include "text/io.hpp"

namespace {

using polygons::fuzz::fuzz_input;
namespace graph = polygons::graph;
namespace text = polygons::text;

[[noreturn]] void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "template reader fault: %s: [%s]\n", what, detail.c_str());
  std::abort();
}

std::vector<std::string> split_lines(const std::string& all) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(all.substr(start, end - start));
  }
  if (start != all.size()) fail("text does not end with a newline", all.substr(start));
  return lines;
}

std::size_t template_line_count(std::string_view input) {
  std::size_t count = 0;
  for (char c : input) count += c == '\n';
  if (!input.empty() && input.back() != '\n') ++count;
  return count;
}

// A quoted path starts and ends with its quote, and between them holds no
// bare quote, backquote or control character.
void check_quoted(const std::string& quoted) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') fail("path not quoted", quoted);
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    auto code = static_cast<unsigned char>(quoted[i]);
    if (quoted[i] == '\\') {
      ++i;
      if (i + 1 >= quoted.size()) fail("escape eats the closing quote", quoted);
      continue;
    }
    if (quoted[i] == '"' || quoted[i] == '`' || code < 32 || code == 127) fail("bare character in path", quoted);
  }
}

void check_script(const std::vector<std::string>& script, std::string_view input, const std::string& image,
                  const std::string& data) {
  if (script.empty() || script[0] != "set output " + graph::quoted_path(image)) {
    fail("output line wrong", script.empty() ? "" : script[0]);
  }
  if (script.size() != 1 + template_line_count(input)) fail("one script line per template line", "");
  bool directive_seen = false;
  for (std::size_t i = 1; i < script.size(); ++i) {
    const std::string& line = script[i];
    bool directive = line.starts_with("plot ") || line.starts_with("splot ");
    if (directive && !directive_seen) {
      directive_seen = true;
      std::string word = line.starts_with("plot ") ? "plot " : "splot";
      if (line != word + " " + graph::quoted_path(data) + " \\") fail("directive not rewritten", line);
      continue;
    }
    if (line.size() > graph::kTemplateLineLength) fail("copied line longer than the buffer", line);
    if (!line.empty() && (line.front() == ' ' || line.back() == ' ')) fail("copied line not trimmed", line);
  }
  if (!directive_seen) fail("script without its directive", "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input input(data, size);
  std::string image = input.text(40);
  std::string data_path = input.text(40);
  check_quoted(graph::quoted_path(image));
  check_quoted(graph::quoted_path(data_path));
  std::string_view template_text = input.rest();
  std::istringstream in{std::string(template_text)};
  text::StringSink script;
  text::StringSink out;
  try {
    graph::gnuload_make(script, image, data_path, in, out);
  } catch (const text::RunEnded&) {
    if (out.text() != " *** Error: No plotting directive ***\n") fail("wrong end without directive", out.text());
    return 0;
  } catch (const std::exception& e) {
    fail("unexpected exception", e.what());
  }
  if (!out.text().empty()) fail("standard output written with a directive present", out.text());
  check_script(split_lines(script.text()), template_text, image, data_path);
  return 0;
}
