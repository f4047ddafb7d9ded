#include "support/report_lines.hpp"

namespace polygons::testing {

constexpr std::size_t kEndReportLines = 4;

std::vector<std::string> report_lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

bool has_end_report(const std::vector<std::string>& lines) {
  const std::size_t n = lines.size();
  return n > kEndReportLines && lines[n - 4] == "  " && lines[n - 3] == lines.front();
}

std::string without_clock_lines(const std::vector<std::string>& lines) {
  std::string text;
  if (lines.size() <= 1 + kEndReportLines) return text;
  for (std::size_t i = 1; i + kEndReportLines < lines.size(); ++i) text += lines[i] + "\n";
  return text;
}

}  // namespace polygons::testing
