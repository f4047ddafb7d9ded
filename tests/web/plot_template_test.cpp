#include "web/plot_template.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace polygons::web {
namespace {

const std::string kMarker =
    "set arrow from 2.5, graph 0 to 2.5, graph 1 nohead front lw 2 dt 2 lc rgb \"#1b7f3b\"\n"
    "set label \"exact mean 2.5\" at 2.5, graph 1 right offset -0.5, -1.2 front tc rgb \"#1b7f3b\"\n";

// The marker goes just before the line the program takes for its plotting
// directive, and nowhere when it takes none.
TEST(ExactMeanLine, GoesBeforeThePlottingDirectiveTheProgramFinds) {
  struct marker_case {
    std::string text;
    std::size_t marker_at;  // npos: left as it is
    const char* why;
  };
  const std::string long_blanks(512, ' ');
  const marker_case cases[] = {
      {"set x\nplot \"d\" using 1:2\n", 6, "plain"},
      {"set x\n   plot 'd'\nplot 'e'\n", 6, "leading blanks, first directive only"},
      {"splot 'd'\n", 0, "splot"},
      {"set x\nplot\n", 6, "the word alone"},
      {"# plot it\nplots\n\tplot 'd'\nset plot 'd'\n", std::string::npos,
       "comment, longer word, tab before, word inside"},
      {long_blanks + "plot 'd'\n", std::string::npos, "beyond the part of the line read"},
      {"", std::string::npos, "empty"},
  };
  for (const marker_case& c : cases) {
    std::string expected = c.text;
    if (c.marker_at != std::string::npos) expected.insert(c.marker_at, kMarker);
    EXPECT_EQ(with_exact_mean_line(c.text, 2.5), expected) << c.why;
  }
  EXPECT_EQ(with_exact_mean_line("plot 'd'\n", std::nan("")), "plot 'd'\n");
  EXPECT_NE(with_exact_mean_line("plot 'd'\n", 0.0).find("graph 1 left offset 0.5, -1.2"),
            std::string::npos)
      << "a mean of 0 is at the left edge: its label goes right of it";
}

// The points go in a data block before the directive, the line at the end of
// the command the program builds from the directive and the lines that
// continue it; without a place for it, nothing is added.
TEST(ExactDensityLine, JoinsTheEndOfThePlottingCommand) {
  const std::string block = "$exact_density << EOD\n0.5 0.25\n1.5 0.75\nEOD\n";
  const std::string line =
      ", \\\n     $exact_density using 1:2 with lines lw 2 lc rgb \"#1b7f3b\" title \"exact density\"";
  struct density_case {
    std::string text;
    std::string expected;  // empty: left as it is
    const char* why;
  };
  const density_case cases[] = {
      {"set x\nplot \"d\" \\\n  using 1:2 lc rgb \"#4a7ab8\"\nset y\n",
       "set x\n" + block + "plot \"d\" \\\n  using 1:2 lc rgb \"#4a7ab8\"" + line + "\nset y\n",
       "a quoted '#' is no comment"},
      {"plot \"d\" \\\n  using 1:2, \\  \n  \"\" using 1:3", block + "plot \"d\" \\\n  using 1:2, \\  \n  \"\" using 1:3" + line,
       "continued lines, a blank after the backslash, no newline at the end"},
      {"plot \"d\"\nusing 1:2 # boxes\n", "", "the command ends in a comment"},
      {"plot \"d\"\n", "", "nothing after the directive"},
      {"set x\n", "", "no directive"},
  };
  const std::vector<double> centre = {0.5, std::nan(""), 1.5};
  const std::vector<double> density = {0.25, 0.5, 0.75};
  for (const density_case& c : cases) {
    const std::string expected = c.expected.empty() ? c.text : c.expected;
    EXPECT_EQ(with_exact_density_line(c.text, centre, density), expected) << c.why;
  }
  EXPECT_EQ(with_exact_density_line("plot 'd'\nusing 1\n", {}, {}), "plot 'd'\nusing 1\n")
      << "no points";
}

}  // namespace
}  // namespace polygons::web
