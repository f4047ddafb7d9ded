#include "web/plot_template.hpp"

#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
}  // namespace polygons::web
