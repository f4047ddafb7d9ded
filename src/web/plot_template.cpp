#include "web/plot_template.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "graph/plot_script.hpp"
#include "params/readat.hpp"
#include "sim/class_fit.hpp"
#include "web/fields.hpp"

namespace polygons::web {
namespace {

constexpr std::size_t kMaxTemplateBytes = 64 * 1024;

// Where the plotting directive's line starts, or npos.
std::size_t directive_start(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    std::size_t length = (end == std::string_view::npos ? text.size() : end) - at;
    if (graph::is_plotting_directive(text.substr(at, length))) return at;
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return std::string_view::npos;
}

// The label goes left of the line, where the bars of a perimeter's
// histogram are lower than right of its mean; a mean of 0 (one corner) is at
// the left edge, so its label goes right.
std::string mean_marker_lines(double mean) {
  const std::string x = real_text(mean);
  char label[64];
  std::snprintf(label, sizeof label, "exact mean %.6g", mean);
  const char* side = mean > 0 ? "right offset -0.5, -1.2" : "left offset 0.5, -1.2";
  return "set arrow from " + x + ", graph 0 to " + x +
         ", graph 1 nohead front lw 2 dt 2 lc rgb \"#1b7f3b\"\n" + "set label \"" + label +
         "\" at " + x + ", graph 1 " + side + " front tc rgb \"#1b7f3b\"\n";
}

constexpr std::string_view kDensityBlock = "$exact_density";

// Where the line after the one starting at `at` starts; npos after the last.
std::size_t next_line(std::string_view text, std::size_t at) {
  const std::size_t end = text.find('\n', at);
  return end == std::string_view::npos ? end : end + 1;
}

// Whether a gnuplot line holds a comment: a '#' outside quotes.
bool has_comment(std::string_view line) {
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote != 0) {
      if (c == '\\' && quote == '"') {
        ++i;
      } else if (c == quote) {
        quote = 0;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '#') {
      return true;
    }
  }
  return false;
}

// Where the plotting command's last line ends (at its newline or the end of
// the text), for a directive at `at`; npos when the text ends first or that
// line ends in a comment.
std::size_t command_end(std::string_view text, std::size_t at) {
  for (std::size_t line = next_line(text, at); line != std::string_view::npos && line < text.size();
       line = next_line(text, line)) {
    std::size_t end = text.find('\n', line);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view body = text.substr(line, end - line);
    const std::size_t last = body.find_last_not_of(" \t\r");
    if (last == std::string_view::npos || body[last] != '\\') {
      return has_comment(body) ? std::string_view::npos : end;
    }
  }
  return std::string_view::npos;
}

std::string density_block(std::span<const double> centre, std::span<const double> density) {
  std::string block;
  for (std::size_t k = 0; k < centre.size() && k < density.size(); ++k) {
    if (!std::isfinite(centre[k]) || !std::isfinite(density[k])) continue;
    block += real_text(centre[k]) + " " + real_text(density[k]) + "\n";
  }
  if (block.empty()) return block;
  return std::string(kDensityBlock) + " << EOD\n" + block + "EOD\n";
}

}  // namespace

std::optional<std::string> read_template(const std::filesystem::path& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the plotting template " + path.string();
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string body = text.str();
  if (body.empty() || body.size() > kMaxTemplateBytes) {
    error = "the plotting template " + path.string() + " is empty or too large";
    return std::nullopt;
  }
  if (body.back() != '\n') body.push_back('\n');
  return body;
}

std::string with_exact_mean_line(std::string_view plot_template, double mean) {
  const std::size_t at = directive_start(plot_template);
  std::string text(plot_template);
  if (at == std::string_view::npos || !std::isfinite(mean)) return text;
  return text.insert(at, mean_marker_lines(mean));
}

std::string with_exact_density_line(std::string_view plot_template, std::span<const double> centre,
                                    std::span<const double> density) {
  std::string text(plot_template);
  const std::size_t at = directive_start(plot_template);
  if (at == std::string_view::npos) return text;
  const std::size_t end = command_end(plot_template, at);
  const std::string block = density_block(centre, density);
  if (end == std::string_view::npos || block.empty()) return text;
  text.insert(end, ", \\\n     " + std::string(kDensityBlock) +
                       " using 1:2 with lines lw 2 lc rgb \"#1b7f3b\" title \"exact density\"");
  return text.insert(at, block);
}

std::string run_template(std::string_view plot_template, const run_request& request, double mean) {
  const std::int32_t classes = request.classes > 0
                                   ? request.classes
                                   : params::default_klass(std::llround(request.trials));
  const sim::ClassDensities exact =
      sim::exact_class_densities(request.sides, request.radius, classes);
  return with_exact_mean_line(with_exact_density_line(plot_template, exact.centre, exact.density),
                              mean);
}

}  // namespace polygons::web
