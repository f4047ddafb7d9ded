#include "graph/plot_script.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace polygons::graph {
namespace {

constexpr const char* kOutputLine = "set output \"./tmp/gnu.png\"\n";
constexpr const char* kPlotLine = "plot  \"./tmp/gnudata.dat\" \\\n";

std::string script_for(const std::string& template_text) {
  std::istringstream in(template_text);
  text::StringSink script;
  text::StringSink out;
  gnuload_make(script, "./tmp/gnu.png", "./tmp/gnudata.dat", in, out);
  EXPECT_EQ(out.text(), "");
  EXPECT_TRUE(in.eof()) << "the template is read to its end";
  return script.text();
}

struct TemplateCase {
  const char* why;
  std::string template_text;
  std::string script;
};

TEST(GnuloadMake, TemplateCases) {
  const std::string out = kOutputLine;
  const std::string plot = kPlotLine;
  const TemplateCase cases[] = {
      {"directive on the first line", "plot x\n", out + plot},
      {"directive alone, the padding supplies its blank", "plot\n", out + plot},
      {"indented directive; the rest of the line is dropped", "set key\n   plot sin(x) \\\n  using 1:2\n",
       out + "set key\n" + plot + "using 1:2\n"},
      {"splot keeps one blank", "splot a b c\n", out + "splot \"./tmp/gnudata.dat\" \\\n"},
      {"tab-indented, capitalised, longer word and comment are copied",
       "\tplot a\nPlot b\nplotting c\n#plot d\nplot e\n",
       out + "\tplot a\nPlot b\nplotting c\n#plot d\n" + plot},
      {"a second directive is copied unchanged", "plot a\n  plot b  \nsplot c\n",
       out + plot + "plot b\nsplot c\n"},
      {"lines are left-adjusted and trimmed; blank lines stay empty",
       "  set grid   \n\n     \nplot x\n   using 1:2 \t \n",
       out + "set grid\n\n\n" + plot + "using 1:2 \t\n"},
      {"a last line without newline still counts", "set key\nplot", out + "set key\n" + plot},
      {"carriage returns are not blanks", "set key\r\nplot\r\nplot x\r\n",
       out + "set key\r\nplot\r\n" + plot},
      {"directive as last line leaves the continuation", "plot a", out + plot},
  };
  for (const TemplateCase& c : cases) {
    EXPECT_EQ(script_for(c.template_text), c.script) << c.why;
  }
}

TEST(GnuloadMake, LongLineIsCutTo512Characters) {
  const std::string long_line = std::string(600, 'a');
  const std::string script = script_for(long_line + "\nplot\n" + "  " + long_line + "b\nc\n");
  EXPECT_EQ(script, std::string(kOutputLine) + std::string(512, 'a') + "\n" + kPlotLine +
                        std::string(510, 'a') + "\nc\n");
}

TEST(GnuloadMake, DirectiveBeyondTheCutIsNotSeen) {
  std::istringstream in(std::string(510, ' ') + "  plot\n");
  text::StringSink script;
  text::StringSink out;
  EXPECT_THROW(gnuload_make(script, "i", "d", in, out), text::RunEnded);
}

TEST(GnuloadMake, NulBytesAreCopied) {
  const std::string with_nul("set title \"a\0b\"\n", 16);
  const std::string script = script_for(with_nul + std::string("\0plot\nplot\n", 11));
  EXPECT_EQ(script, std::string(kOutputLine) + with_nul + std::string("\0plot\n", 6) + kPlotLine);
}

TEST(GnuloadMake, NoDirectiveEndsTheRunAfterTheErrorLine) {
  for (const std::string template_text : {"", "\n", "set key\n#plot\nPLOT x\n"}) {
    std::istringstream in(template_text);
    text::StringSink script;
    text::StringSink out;
    EXPECT_THROW(gnuload_make(script, "./tmp/gnu.png", "./tmp/gnudata.dat", in, out),
                 text::RunEnded);
    EXPECT_EQ(out.text(), " *** Error: No plotting directive ***\n");
    EXPECT_EQ(script.text().substr(0, script.text().find('\n') + 1), kOutputLine);
  }
}

TEST(GnuloadMake, ReadsOnFromWhereTheParametersEnded) {
  std::istringstream in("3\n1\nplot\nusing 1:2\n");
  std::string skipped;
  std::getline(in, skipped);
  std::getline(in, skipped);
  text::StringSink script;
  text::StringSink out;
  gnuload_make(script, "./tmp/gnu.png", "./tmp/gnudata.dat", in, out);
  EXPECT_EQ(script.text(), std::string(kOutputLine) + kPlotLine + "using 1:2\n");
}

TEST(QuotedPath, OrdinaryPathsAreOnlyQuoted) {
  EXPECT_EQ(quoted_path("./tmp/abc/gnu.png"), "\"./tmp/abc/gnu.png\"");
  EXPECT_EQ(quoted_path("./tmp/a b;$(c)'d@e/gnu.png"), "\"./tmp/a b;$(c)'d@e/gnu.png\"");
}

TEST(QuotedPath, CharactersGnuplotWouldInterpretAreEscaped) {
  EXPECT_EQ(quoted_path("a\"b"), "\"a\\\"b\"");
  EXPECT_EQ(quoted_path("a\\b"), "\"a\\\\b\"");
  EXPECT_EQ(quoted_path("a`b`"), "\"a\\0140b\\0140\"");
  EXPECT_EQ(quoted_path("a\nb\x7f"), "\"a\\0012b\\0177\"");
}

}  // namespace
}  // namespace polygons::graph
