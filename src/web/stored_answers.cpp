#include "web/stored_answers.hpp"

#include <httplib.h>

#include "results/layout.hpp"
#include "web/request_checks.hpp"
#include "web/results_file.hpp"
#include "web/run_answers.hpp"
#include "web/run_dir.hpp"
#include "web/run_executor.hpp"

namespace polygons::web {
namespace {

// The results and report of a run whose chart is still kept.
struct stored_run {
  run_results results;
  std::string report;
};

std::optional<stored_run> read_stored_run(const std::filesystem::path& workdir,
                                          std::string_view id) {
  std::string error;
  std::optional<std::string> results_text =
      read_run_file(workdir, id, results::kResultsName, kMaxResultsBytes, error);
  std::optional<std::string> report = read_run_file(workdir, id, kReportName, kMaxResultsBytes, error);
  stored_run stored;
  if (!results_text || !report ||
      !results::parse_results(*results_text, {kMaxSides, kMaxClasses}, stored.results, error)) {
    return std::nullopt;
  }
  stored.report = std::move(*report);
  return stored;
}

// "polygons-4-sides-seed-17.csv": what the run was, for a student's folder.
std::string file_name(const run_results& results, const std::string& format) {
  return "polygons-" + std::to_string(results.sides) + "-sides-seed-" +
         std::to_string(results.seed) + "." + format;
}

}  // namespace

std::string data_url(std::string_view id) { return "/runs/" + std::string(id) + "/data"; }

void answer_stored_data(const httplib::Request& req, httplib::Response& res,
                        const std::filesystem::path& workdir, page_content expired_page,
                        const std::string& kept_for) {
  set_common_headers(res);
  const std::string id = req.matches[1].str();
  const std::string format = req.matches[2].str();
  std::optional<stored_run> stored = read_stored_run(workdir, id);
  if (!stored) {
    res.status = 404;
    expired_page.notice = "The data of this run have expired: a run's chart and data are kept for " +
                          kept_for +
                          ". The link to a run with a seed other than 0 runs it again with the "
                          "same figures.";
    res.set_content(render_page(expired_page), kHtmlType);
    return;
  }
  res.set_header("Cache-Control", "private, no-cache");
  res.set_header("Content-Disposition",
                 "attachment; filename=\"" + file_name(stored->results, format) + "\"");
  if (format == "csv") {
    res.set_content(csv_answer(stored->results), kCsvType);
    return;
  }
  const run_results& results = stored->results;
  res.set_content(json_answer(results,
                              compare_with_exact(results, exact_answer_for(results.sides, results.radius)),
                              chart_url(id), stored->report),
                  kJsonType);
}

}  // namespace polygons::web
