#include "web/plot_template.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "graph/plot_script.hpp"
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

}  // namespace polygons::web
