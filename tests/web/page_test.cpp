#include "web/page.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace polygons::web
