// Writes sim/few_sides_table.cpp: the laws of 4 to 29 sides, built arc by
// arc (sim/split_arc_law.hpp) and kept as sim/few_sides_law.hpp describes.
// It takes a few minutes; scripts/make-few-sides-table.sh runs it.
//   make_few_sides_table FILE

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <thread>
#include <vector>

#include "sim/few_sides_law.hpp"
#include "sim/split_arc_law.hpp"

namespace {

using polygons::sim::StripSeries;

std::string number(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", x);
  return text;
}

void write_table(std::ostream& out, const std::vector<StripSeries>& strips,
                 const std::vector<double>& coefficients) {
  out << "// Made by make_few_sides_table (scripts/make-few-sides-table.sh): the laws\n"
         "// of 4 to 29 sides, as sim/few_sides_law.hpp describes. Not to be edited.\n\n"
         "#include \"sim/few_sides_law.hpp\"\n\nnamespace polygons::sim {\n\nnamespace {\n\n"
         "constexpr StripSeries kStrips[] = {\n";
  for (const StripSeries& s : strips) {
    out << "    {" << s.sides << ", " << s.strip << ", " << s.first << ", " << s.count << "},\n";
  }
  out << "};\n\nconstexpr double kCoefficients[] = {\n";
  for (std::size_t i = 0; i < coefficients.size(); ++i) {
    out << (i % 3 == 0 ? "    " : " ") << number(coefficients[i]) << ","
        << (i % 3 == 2 || i + 1 == coefficients.size() ? "\n" : "");
  }
  out << "};\n\n}  // namespace\n\n"
         "std::span<const StripSeries> few_sides_strips() { return kStrips; }\n"
         "std::span<const double> few_sides_coefficients() { return kCoefficients; }\n\n"
         "}  // namespace polygons::sim\n";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace polygons::sim;
  if (argc != 2) {
    std::cerr << "usage: make_few_sides_table FILE\n";
    return 2;
  }
  try {
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<StripSeries> strips;
    std::vector<double> coefficients;
    ArcLevel level;  // 2 arcs
    for (std::int32_t sides = kFirstTableSides; sides <= kLastTableSides; ++sides) {
      level = next_arc_level(level, threads);
      const std::vector<std::vector<double>> series = whole_circle_strips(level, threads);
      for (std::size_t j = 0; j < series.size(); ++j) {
        const std::vector<double> kept = without_negligible_terms(series[j]);
        strips.push_back({sides, static_cast<std::int32_t>(j + 1),
                          static_cast<std::int32_t>(coefficients.size()),
                          static_cast<std::int32_t>(kept.size())});
        coefficients.insert(coefficients.end(), kept.begin(), kept.end());
      }
      std::cerr << sides << " sides done\n";
    }
    std::ofstream out(argv[1]);
    write_table(out, strips, coefficients);
    if (!out.flush()) {
      std::cerr << "make_few_sides_table: cannot write " << argv[1] << "\n";
      return 1;
    }
  } catch (const std::exception& error) {
    std::cerr << "make_few_sides_table: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
