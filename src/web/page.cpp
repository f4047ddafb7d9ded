#include "web/page.hpp"

#include <cctype>

namespace polygons::web {
namespace {

constexpr std::string_view kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Simulation of random polygons</title>
<style>
body { font-family: sans-serif; max-width: 52rem; margin: 0 auto; padding: 0.5rem 1rem; line-height: 1.4; }
.field { margin: 0.6rem 0; }
.field label { display: block; font-weight: bold; }
.field input[type=text] { font-size: 1rem; width: 12rem; max-width: 100%; padding: 0.2rem; }
.field small { display: block; color: #444; }
button { font-size: 1rem; padding: 0.3rem 1.2rem; }
.error { color: #a00; font-weight: bold; }
.notice { color: #750; font-weight: bold; }
pre { overflow-x: auto; background: #f4f4f4; padding: 0.5rem; font-size: 0.8rem; }
img { max-width: 100%; height: auto; }
a { color: #0645ad; }
.link code { overflow-wrap: anywhere; }
.polygons { display: flex; flex-wrap: wrap; gap: 0.5rem 1rem; }
.polygon { margin: 0; width: 9rem; text-align: center; font-size: 0.85rem; overflow-wrap: anywhere; }
.polygon svg { display: block; margin: 0 auto; }
</style>
</head>
<body>
<h1>Simulation of random polygons</h1>
<p>Each trial places the corners of a polygon at random on a circle and measures
its perimeter. The report gives the range, average, standard deviation and most
frequent class of the perimeter; the chart shows its histogram.</p>
)";

constexpr std::string_view kTail = "</body>\n</html>\n";

struct field_view {
  std::string_view name;
  std::string_view label;
  std::string_view input_mode;
  std::string help;
};

// The help under each field states the limits the checks apply.
std::vector<field_view> text_fields() {
  return {
      {kSidesField, "Sides", "numeric",
       "Number of corners of each polygon, " + range_text(kMinSides, kMaxSides) + "."},
      {kRadiusField, "Radius", "decimal",
       "Radius of the circle, " + range_text(kMinRadius, kMaxRadius) + "."},
      {kTrialsField, "Number of trials", "decimal",
       "How many random polygons to draw, " + range_text(kMinTrials, kMaxTrials) +
           "; more trials take longer."},
      {kSeedField, "Seed", "numeric",
       "Start of the random sequence, " + range_text(kMinSeed, kMaxSeed) +
           ": the same seed gives the same result; 0 takes one from the clock."},
      {kClassesField, "Classes", "numeric",
       "Number of histogram classes, " + range_text(kMinClasses, kMaxClasses) +
           "; 0 chooses one from the number of trials."},
  };
}

const std::string& value_of(const form_values& form, std::string_view name) {
  if (name == kSidesField) return form.sides;
  if (name == kRadiusField) return form.radius;
  if (name == kTrialsField) return form.trials;
  if (name == kSeedField) return form.seed;
  if (name == kClassesField) return form.classes;
  return form.show;
}

void append_form(std::string& html, const page_content& content) {
  const form_values& form = content.form;
  html += "<form method=\"get\" action=\"/run\">\n";
  for (const field_view& field : text_fields()) {
    std::string name(field.name);
    std::string help = html_escape(field.help);
    if (field.name == kTrialsField && !content.trials_limit.empty()) {
      help += " <span id=\"trials-limit\">" + html_escape(content.trials_limit) + "</span>";
    }
    html += "<div class=\"field\"><label for=\"" + name + "\">" + std::string(field.label) +
            "</label><input type=\"text\" id=\"" + name + "\" name=\"" + name + "\" value=\"" +
            html_escape(value_of(form, field.name)) + "\" inputmode=\"" +
            std::string(field.input_mode) + "\" maxlength=\"" +
            std::to_string(kMaxFieldLength) + "\" required><small>" + help + "</small></div>\n";
  }
  html += std::string("<div class=\"field\"><label for=\"show\"><input type=\"checkbox\" "
                      "id=\"show\" name=\"show\" value=\"1\"") +
          (form.show == "1" ? " checked" : "") +
          "> Show values</label><small>Also list the histogram, class by class, in the "
          "report.</small></div>\n"
          "<button type=\"submit\">Run</button>\n</form>\n";
}

// Percent-encoded except the characters that never need it.
std::string url_component(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

// The run's link and, while they are kept, its data. A seed of 0 takes a new
// seed from the clock on every run, so its link cannot promise the same run.
void append_run_links(std::string& html, const page_content& content) {
  const std::string link = html_escape(run_link_of(content.form));
  const bool clock = parse_whole_number(content.form.seed) == 0;
  html += "<h2>This run</h2>\n";
  if (clock) {
    html += "<p class=\"link\" id=\"run-link\">This run took its seed from the clock, so it cannot "
            "be repeated: <a href=\"" + link + "\">the link to its parameters</a> "
            "(<code>" + link + "</code>) runs a new simulation with another seed each time. "
            "Give a seed other than 0 for a run that can be shared.</p>\n";
  } else {
    html += "<p class=\"link\" id=\"run-link\"><a href=\"" + link +
            "\">Link to this run</a>: <code>" + link +
            "</code>. The same link gives the same report, figures and polygons.</p>\n";
  }
  if (content.data_url.empty()) return;
  const std::string data = html_escape(content.data_url);
  html += "<p id=\"data-links\">The run's data: <a id=\"csv-link\" href=\"" + data +
          ".csv\" download>its classes as CSV</a>, <a id=\"json-link\" href=\"" + data +
          ".json\" download>all its figures as JSON</a>. They are kept with the chart for " +
          html_escape(content.kept_for) + "; after that they answer that they have expired" +
          (clock ? "." : ", and the link to this run runs it again with the same figures.") +
          "</p>\n";
}

void append_polygons(std::string& html, const page_content& content) {
  if (content.polygons.empty()) {
    html += "<p id=\"no-polygons\">The polygons of a run seeded from the clock cannot be drawn "
            "again.</p>\n";
    return;
  }
  html += "<h2>Its first polygons</h2>\n<p>The first trials of this run, drawn from its own "
          "random numbers: each polygon joins its corners on the circle in order.</p>\n"
          "<div class=\"polygons\" id=\"polygons\">\n" +
          content.polygons + "</div>\n";
}

}  // namespace

std::string run_link_of(const form_values& form) {
  std::string link = "/run?";
  auto add = [&link](std::string_view name, std::string_view value) {
    if (link.back() != '?') link += '&';
    link += std::string(name) + "=" + url_component(value);
  };
  add(kSidesField, form.sides);
  add(kRadiusField, form.radius);
  add(kTrialsField, form.trials);
  add(kSeedField, form.seed);
  add(kClassesField, form.classes);
  // As the run read it: " 1", "+1" and "01" list the histogram too.
  if (parse_whole_number(form.show) == 1) add(kShowField, "1");
  return link;
}

form_values form_values_from(const submitted_fields& fields) {
  form_values form;
  for (const auto& [name, value] : fields) {
    if (name == kSidesField) form.sides = value;
    if (name == kRadiusField) form.radius = value;
    if (name == kTrialsField) form.trials = value;
    if (name == kSeedField) form.seed = value;
    if (name == kClassesField) form.classes = value;
    if (name == kShowField) form.show = value;
  }
  return form;
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string render_page(const page_content& content) {
  std::string html(kHead);
  append_form(html, content);
  if (!content.error.empty()) {
    html += "<p class=\"error\" id=\"error\" role=\"alert\">" + html_escape(content.error) +
            "</p>\n";
  }
  if (!content.notice.empty()) {
    html += "<p class=\"notice\" id=\"notice\" role=\"status\">" + html_escape(content.notice) +
            "</p>\n";
  }
  if (content.run_link) append_run_links(html, content);
  if (!content.report.empty()) {
    html += "<h2>Report</h2>\n<pre id=\"report\">" + html_escape(content.report) + "</pre>\n";
  }
  if (!content.exact_answer.empty()) {
    html += "<h2>Exact answer</h2>\n<div id=\"exact\">\n";
    for (const std::string& sentence : content.exact_answer) {
      html += "<p>" + html_escape(sentence) + "</p>\n";
    }
    html += "</div>\n";
  }
  if (content.run_link) append_polygons(html, content);
  if (!content.diagnostics.empty()) {
    html += "<h2>Messages</h2>\n<pre id=\"diagnostics\">" + html_escape(content.diagnostics) +
            "</pre>\n";
  }
  if (!content.chart_url.empty()) {
    html += "<h2>Chart</h2>\n<p><img id=\"chart\" src=\"" + html_escape(content.chart_url) +
            "\" alt=\"" +
            html_escape(content.chart_alt.empty()
                            ? "Histogram of the perimeter: density and cumulative fraction by "
                              "class, with the exact mean as a dashed line"
                            : content.chart_alt) +
            "\"></p>\n";
  } else if (!content.chart_missing.empty()) {
    html += "<h2>Chart</h2>\n<p class=\"notice\" id=\"chart-missing\">" +
            html_escape(content.chart_missing) + "</p>\n";
  }
  html += kTail;
  return html;
}

}  // namespace polygons::web
