#pragma once
// The plotting script: the template from standard input with the image's
// output line in front and its first plotting directive aimed at the data file.

#include <istream>
#include <string>
#include <string_view>

#include "text/io.hpp"

namespace polygons::graph {

// Length of the template line buffer; a longer input line is cut.
inline constexpr std::size_t kTemplateLineLength = 512;

// Reads the next line of `in` into `line` without its newline, keeping at most
// kTemplateLineLength characters and skipping the rest of a longer line. Any
// byte, NUL included, is kept as it is. Returns false at end of input.
bool read_template_line(std::istream& in, std::string& line);

// True for the template line that holds the plotting directive: within its
// first kTemplateLineLength characters and after leading blanks (not tabs),
// "plot" or "splot" followed by a blank or the line's end.
bool is_plotting_directive(std::string_view line);

// `path` as a double-quoted gnuplot string. Quote, backslash, backquote (which
// gnuplot would run as a command even inside quotes) and control characters
// are escaped, so the string always names exactly `path`; an ordinary path is
// simply put between quotes.
std::string quoted_path(std::string_view path);

// Writes the script to `script`: the output line for `image`, the template
// lines of `in` left-adjusted and trimmed, with the first line beginning
// "plot " or "splot " replaced by the directive that plots `data`. Consumes
// `in` to its end. Without a directive, writes " *** Error: No plotting
// directive ***" to `out` and throws text::RunEnded.
void gnuload_make(text::LineSink& script, std::string_view image, std::string_view data,
                  std::istream& in, text::LineSink& out);

}  // namespace polygons::graph
