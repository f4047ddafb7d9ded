#include "web/run_answers.hpp"

#include <cmath>

#include "web/fields.hpp"
#include "web/json_text.hpp"

namespace polygons::web {
namespace {

// Members of one JSON object, written in order.
class json_object {
 public:
  json_object& raw(std::string_view name, std::string_view json) {
    text_ += text_.empty() ? "{" : ",";
    text_ += json_string(name);
    text_ += ':';
    text_ += json;
    return *this;
  }
  json_object& real(std::string_view name, double value) { return raw(name, json_real(value)); }
  json_object& integer(std::string_view name, std::int64_t value) {
    return raw(name, json_integer(value));
  }
  std::string done() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

std::string parameters(const run_results& r) {
  return json_object()
      .integer("sides", r.sides)
      .real("radius", r.radius)
      .integer("trials", r.trials)
      .integer("seed", r.seed)
      .integer("classes", r.classes)
      .integer("show", r.show)
      .done();
}

std::string classes(const run_results& r) {
  std::string list = "[";
  for (const result_class& row : r.rows) {
    if (list.size() > 1) list += ",\n";
    list += json_object()
                .real("centre", row.centre)
                .integer("count", row.count)
                .real("density", row.density)
                .real("cumulative", row.cumulative)
                .real("exact_probability", row.exact_probability)
                .done();
  }
  return list + "]";
}

std::string fit(const run_results& r) {
  return json_object()
      .real("chi_square", r.fit.chi_square)
      .integer("degrees_of_freedom", r.fit.degrees_of_freedom)
      .real("p_value", r.fit.p_value)
      .integer("merged_classes", r.fit.merged_classes)
      .integer("merged_into", r.fit.merged_into)
      .done();
}

// As the results file writes reals: shortest, or nan, inf, -inf (a NaN's
// sign is not shown).
std::string csv_real(double value) { return std::isnan(value) ? "nan" : real_text(value); }

}  // namespace

std::string json_answer(const run_results& results, const exact_comparison& comparison,
                        std::string_view chart_url, std::string_view report) {
  const exact_comparison& c = comparison;
  return json_object()
             .raw("parameters", parameters(results))
             .integer("trials", results.trials)
             .real("average", results.average)
             .real("stdev", results.stdev)
             .real("standard_error", c.standard_error)
             .raw("mode", json_object().real("x", results.mode_x).real("y", results.mode_y).done())
             .raw("range", json_object().real("min", results.min).real("max", results.max).done())
             .raw("classes", classes(results))
             .raw("theory",
                  json_object().real("mean", c.exact.mean).real("stdev", c.exact.stdev).done())
             .raw("z", c.z ? json_real(*c.z) : "null")
             .raw("fit", fit(results))
             .raw("chart", chart_url.empty() ? "null" : json_string(chart_url))
             .raw("report", json_string(report))
             .done() +
         "\n";
}

std::string csv_answer(const run_results& results) {
  std::string csv = results::column_names(",") + "\n";
  for (const result_class& row : results.rows) {
    csv += csv_real(row.centre) + "," + std::to_string(row.count) + "," + csv_real(row.density) +
           "," + csv_real(row.cumulative) + "," + csv_real(row.exact_probability) + "\n";
  }
  return csv;
}

}  // namespace polygons::web
