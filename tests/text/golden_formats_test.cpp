// Every row of the golden table of formats: format, value, exact rendering.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "text/number_fields.hpp"

namespace polygons::text {
namespace {

// The table sits in the shared test data of the source tree.
constexpr const char* kFormatsPath = POLYGONS_SOURCE_DIR "/tests/data/formats.tsv";

struct FormatSpec {
  int width = 0;
  int precision = 0;
  std::string conversion;  // "f", "E", "G" or "E3"
};

// Parses "%w.pX" (X one of f, E, G, E3).
bool parse_format(const std::string& text, FormatSpec& spec) {
  if (text.empty() || text[0] != '%') return false;
  char* end = nullptr;
  spec.width = static_cast<int>(std::strtol(text.c_str() + 1, &end, 10));
  if (*end != '.') return false;
  spec.precision = static_cast<int>(std::strtol(end + 1, &end, 10));
  spec.conversion = end;
  return spec.conversion == "f" || spec.conversion == "E" || spec.conversion == "G" ||
         spec.conversion == "E3";
}

std::string render(const FormatSpec& spec, double value) {
  if (spec.conversion == "f") return format_f(value, spec.width, spec.precision);
  if (spec.conversion == "E") return format_E(value, spec.width, spec.precision);
  if (spec.conversion == "G") return format_G(value, spec.width, spec.precision);
  return format_E3(value, spec.width, spec.precision);
}

TEST(GoldenFormats, EveryRowRendersExactly) {
  std::ifstream in(kFormatsPath);
  ASSERT_TRUE(in) << "cannot open " << kFormatsPath;
  std::string row;
  int checked = 0;
  int line_number = 0;
  while (std::getline(in, row)) {
    ++line_number;
    if (row.empty() || row[0] == '#') continue;
    std::size_t tab1 = row.find('\t');
    std::size_t tab2 = row.find('\t', tab1 + 1);
    std::size_t open = row.find('[', tab2);
    std::size_t close = row.rfind(']');
    ASSERT_TRUE(tab1 != std::string::npos && tab2 != std::string::npos &&
                open != std::string::npos && close != std::string::npos && close > open)
        << "malformed row " << line_number << ": " << row;
    FormatSpec spec;
    ASSERT_TRUE(parse_format(row.substr(0, tab1), spec)) << "row " << line_number << ": " << row;
    std::string value_text = row.substr(tab1 + 1, tab2 - tab1 - 1);
    double value = std::strtod(value_text.c_str(), nullptr);
    std::string expected = row.substr(open + 1, close - open - 1);
    EXPECT_EQ(render(spec, value), expected)
        << "row " << line_number << ": " << row.substr(0, tab1) << " of " << value_text;
    ++checked;
  }
  EXPECT_EQ(checked, 3744);
}

}  // namespace
}  // namespace polygons::text
