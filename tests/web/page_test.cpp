#include "web/page.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "web/polygon_pictures.hpp"

namespace polygons::web {
namespace {

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

TEST(HtmlEscape, NeutralisesMarkupAndQuotes) {
  EXPECT_EQ(html_escape("<b>&\"'x"), "&lt;b&gt;&amp;&quot;&#39;x");
  EXPECT_EQ(html_escape(" .Sides,   3 | (sides)"), " .Sides,   3 | (sides)");
}

TEST(Page, EmptyFormLabelsEveryFieldAndFitsAPhone) {
  std::string html = render_page({});
  EXPECT_TRUE(contains(html, "name=\"viewport\""));
  for (std::string_view field : {"sides", "radius", "trials", "seed", "classes", "show"}) {
    std::string name(field);
    EXPECT_TRUE(contains(html, "<label for=\"" + name + "\"")) << name;
    EXPECT_TRUE(contains(html, "id=\"" + name + "\" name=\"" + name + "\"")) << name;
  }
  EXPECT_TRUE(contains(html, "value=\"1e6\"")) << "default trials";
  EXPECT_FALSE(contains(html, "<script"));
  EXPECT_FALSE(contains(html, "id=\"report\""));
  EXPECT_FALSE(contains(html, "<img"));
}

// The help under a field names its range; the checks take both ends and
// refuse what lies just beyond them.
TEST(Page, ShowsTheLimitsTheChecksEnforce) {
  const std::string html = render_page({});
  struct limit_case {
    std::string field;
    bool whole;
  };
  const limit_case cases[] = {
      {"sides", true}, {"radius", false}, {"trials", false}, {"seed", true}, {"classes", true},
  };
  auto accepts = [](const std::string& field, const std::string& text) {
    submitted_fields fields = {{"sides", "3"}, {"radius", "1"}, {"trials", "1e6"},
                               {"seed", "1"},  {"classes", "0"}};
    for (auto& [name, value] : fields) {
      if (name == field) value = text;
    }
    run_request request;
    field_error error;
    return parse_run_request(fields, request, error);
  };
  auto number_text = [](double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return std::string(text);
  };
  for (const limit_case& c : cases) {
    SCOPED_TRACE(c.field);
    const std::size_t input = html.find("id=\"" + c.field + "\" name=");
    ASSERT_NE(input, std::string::npos);
    const std::size_t help = html.find("<small>", input);
    const std::string help_text = html.substr(help, html.find("</small>", help) - help);
    std::smatch range;
    ASSERT_TRUE(std::regex_search(help_text, range, std::regex("(-?[0-9](?:[0-9.e-]*[0-9])?) to (-?[0-9](?:[0-9.e-]*[0-9])?)")))
        << help_text;
    const std::string low = range[1], high = range[2];
    EXPECT_TRUE(accepts(c.field, low)) << low;
    EXPECT_TRUE(accepts(c.field, high)) << high;
    const double low_value = std::strtod(low.c_str(), nullptr);
    const double high_value = std::strtod(high.c_str(), nullptr);
    const std::string below = c.whole ? number_text(low_value - 1) : number_text(low_value * (1 - 1e-9));
    const std::string above = c.whole ? number_text(high_value + 1) : number_text(high_value * (1 + 1e-9));
    EXPECT_FALSE(accepts(c.field, below)) << below;
    EXPECT_FALSE(accepts(c.field, above)) << above;
  }
}

TEST(Page, ShowsSubmittedTextAndReportEscaped) {
  page_content page;
  page.form = form_values_from({{"sides", "\"><script>x</script>"}, {"show", "1"}});
  page.error = "sides: must be <a whole number>";
  page.report = " .Sides,  3 <tag> & more\n";
  page.exact_answer = {"Exact mean: 1.", "The run's <average>"};
  page.chart_url = "/runs/0123/gnu.png";
  std::string html = render_page(page);
  EXPECT_FALSE(contains(html, "<script>x"));
  EXPECT_TRUE(contains(html, "value=\"&quot;&gt;&lt;script&gt;x&lt;/script&gt;\""));
  EXPECT_TRUE(contains(html, "sides: must be &lt;a whole number&gt;"));
  EXPECT_TRUE(contains(html, "<pre id=\"report\"> .Sides,  3 &lt;tag&gt; &amp; more\n</pre>"));
  EXPECT_TRUE(contains(html, "</pre>\n<h2>Exact answer</h2>\n<div id=\"exact\">\n<p>Exact mean: "
                             "1.</p>\n<p>The run&#39;s &lt;average&gt;</p>\n</div>"))
      << "under the report, escaped";
  EXPECT_TRUE(contains(html, "<img id=\"chart\" src=\"/runs/0123/gnu.png\""));
  EXPECT_TRUE(contains(html, "value=\"1\" checked"));
}

// The link is the address the form's own GET sends; a seed of 0 takes a new
// one from the clock, so its link must not claim to repeat the run. The
// histogram's listing is in the link whenever the run listed it.
TEST(Page, LinksARunAndSaysWhenItCannotBeRepeated) {
  struct link_case {
    const char* seed;
    bool repeatable;
    const char* show;
  };
  for (const link_case c : {link_case{"7", true, "1"}, link_case{"-3", true, " +01"},
                            link_case{"0", false, "1"}, link_case{" 000", false, "0"}}) {
    SCOPED_TRACE(c.seed);
    page_content page;
    page.form = form_values_from({{"sides", "7"}, {"radius", "0.5"}, {"trials", "1e+06"},
                                  {"seed", c.seed}, {"classes", "0"}, {"show", c.show}});
    page.run_link = true;
    page.data_url = "/runs/0123/data";
    page.kept_for = "600 seconds";
    page.polygons = "<figure>";
    const std::string link = "/run?sides=7&amp;radius=0.5&amp;trials=1e%2B06&amp;seed=" +
                             std::string(c.seed[0] == ' ' ? "%20000" : c.seed) +
                             "&amp;classes=0" + (c.show[0] == '0' ? "" : "&amp;show=1");
    const std::string html = render_page(page);
    EXPECT_TRUE(contains(html, "<a href=\"" + link + "\">"));
    EXPECT_EQ(contains(html, "Link to this run"), c.repeatable);
    EXPECT_EQ(contains(html, "cannot be repeated"), !c.repeatable);
    EXPECT_EQ(contains(html, "runs it again with the same figures"), c.repeatable);
    EXPECT_TRUE(contains(html, "href=\"/runs/0123/data.csv\" download>"));
    EXPECT_TRUE(contains(html, "href=\"/runs/0123/data.json\" download>"));
  }
}

// The pictures come from the run's own stream: six, each with its text
// alternative, light however many corners, and none for a clock seed.
TEST(PolygonPictures, SixLightPicturesOfAReplayableRun) {
  for (const int sides : {1, 3, 10000}) {
    SCOPED_TRACE(sides);
    const std::string html = polygon_pictures_html(run_request{.sides = sides, .seed = 5});
    const std::regex figure("<figure class=\"polygon\" data-perimeter=\"[-+.0-9e]+\"><svg [^>]*"
                            "role=\"img\" aria-label=\"Trial [1-6]: [^\"]+\">");
    EXPECT_EQ(std::distance(std::sregex_iterator(html.begin(), html.end(), figure),
                            std::sregex_iterator()),
              kPicturedTrials);
    const std::size_t points = html.find("<polygon points=\"");
    ASSERT_NE(points, std::string::npos);
    const std::string first = html.substr(points, html.find('"', points + 18) - points);
    EXPECT_EQ(std::count(first.begin(), first.end(), ' '),
              std::min<std::size_t>(sides, kMaxDrawnCorners));
  }
  EXPECT_EQ(polygon_pictures_html(run_request{.seed = 0}), "");
}

}  // namespace
}  // namespace polygons::web
