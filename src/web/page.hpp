#pragma once
// The one HTML page of the service: the form, and below it the outcome of a
// run. Works without JavaScript and on narrow screens.

#include <string>
#include <string_view>
#include <vector>

#include "web/fields.hpp"

namespace polygons::web {

// The form's fields as text, shown again as the visitor typed them.
struct form_values {
  std::string sides = "3";
  std::string radius = "1";
  std::string trials = "1e6";
  std::string seed = "1";
  std::string classes = "0";
  std::string show = "0";
};

// What the page shows under the form; empty parts are left out.
struct page_content {
  form_values form;
  std::string error;        // a refused field, or why the run failed
  std::string notice;       // busy, or stopped at the time limit
  std::string report;       // the program's report
  std::vector<std::string> exact_answer;  // the run beside the exact answer, a sentence each
  std::string diagnostics;  // the program's messages on standard error
  std::string chart_url;
  std::string chart_alt;      // the chart's text alternative, with the run's figures
  std::string chart_missing;  // why a finished run shows no chart
  std::string trials_limit;   // the largest number of trials, under that field
  bool run_link = false;      // a finished run: its link, made from `form`
  std::string data_url;       // its kept data, data_url + ".csv" and ".json"; empty: none
  std::string kept_for;       // how long the chart and data are kept ("600 seconds")
  std::string polygons;       // pictures of its first trials (web/polygon_pictures.hpp)
};

// The submitted values, the default for each field not submitted.
form_values form_values_from(const submitted_fields& fields);

// Text made safe for HTML content and attribute values.
std::string html_escape(std::string_view text);

// The address of a run of these values, "/run?sides=3&radius=1&...", the
// fields in the form's order (show only when set), as the form's own GET
// sends them.
std::string run_link_of(const form_values& form);

std::string render_page(const page_content& content);

}  // namespace polygons::web
