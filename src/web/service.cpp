#include "web/service.hpp"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "web/connection.hpp"
#include "web/exact_comparison.hpp"
#include "web/fit_sentences.hpp"
#include "web/request_checks.hpp"
#include "web/run_answers.hpp"
#include "web/polygon_pictures.hpp"
#include "web/run_dir.hpp"
#include "web/stored_answers.hpp"

namespace polygons::web {
namespace fs = std::filesystem;
namespace {

submitted_fields fields_of(const httplib::Request& req) {
  return submitted_fields(req.params.begin(), req.params.end());
}

// The sentences under the report: the exact answer, and beside it the run
// and its histogram when its figures are known.
std::vector<std::string> exact_answer_of(const run_outcome& outcome) {
  if (!outcome.results) return {exact_sentence(outcome.exact)};
  std::vector<std::string> sentences =
      comparison_sentences(*outcome.results, compare_with_exact(*outcome.results, outcome.exact));
  for (std::string& sentence : fit_sentences(*outcome.results)) {
    sentences.push_back(std::move(sentence));
  }
  return sentences;
}

// The answer to a finished run in JSON or CSV, which has its results.
void set_figures(httplib::Response& res, answer_format format, const run_outcome& outcome) {
  const run_results& results = *outcome.results;
  if (format == answer_format::csv) {
    res.set_content(csv_answer(results), kCsvType);
    return;
  }
  res.set_content(json_answer(results, compare_with_exact(results, outcome.exact),
                              outcome.has_chart ? chart_url(outcome.id) : "", outcome.report),
                  kJsonType);
}

// A finished run's page: its link, its kept data, its first polygons and the
// chart described with its figures.
void show_finished_run(page_content& page, const run_request& request, const run_outcome& outcome,
                       const std::string& kept_for) {
  page.run_link = true;
  page.polygons = polygon_pictures_html(request);
  if (!outcome.has_chart) {
    page.chart_missing = "The chart could not be drawn: " + outcome.chart_fault + ".";
    page.diagnostics = outcome.diagnostics;
    return;
  }
  page.chart_url = chart_url(outcome.id);
  if (!outcome.results) return;
  page.chart_alt = chart_description(*outcome.results, outcome.exact);
  page.data_url = data_url(outcome.id);
  page.kept_for = kept_for;
}

service_options with_absolute_paths(service_options options) {
  options.program = fs::absolute(options.program);
  options.workdir = fs::absolute(options.workdir);
  return options;
}

// Quick restarts, but no second server on the same port (the library's default
// would let one share it); no delay on small answers, inherited by every
// accepted connection.
void listening_socket_options(int socket) {
  int yes = 1;
  ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

// The library listens with a queue of 5 connections: beyond that the kernel
// drops a burst of new connections, and their clients try again only a second
// or more later. Listening again on the bound socket widens the queue.
void widen_listen_queue(int port) {
  if (int socket = listening_socket(port); socket >= 0) ::listen(socket, SOMAXCONN);
}

// Another site's link followed without a click: the form filled in with
// its parameters, to be run by the visitor's own press of Run.
void answer_with_filled_form(const page_content& blank, const submitted_fields& fields,
                             httplib::Response& res) {
  page_content page = blank;
  page.form = form_values_from(fields);
  page.notice = "This run was linked from another site; press Run to start it.";
  res.set_content(render_page(page), kHtmlType);
}

}  // namespace

web_service::web_service(service_options options, std::string plot_template)
    : options_(with_absolute_paths(std::move(options))),
      executor_(options_, std::move(plot_template)),
      server_(std::make_unique<httplib::Server>()),
      sweeper_(options_.workdir, options_.retention, options_.max_disk_bytes,
               [this](std::string_view id) { return executor_.in_progress(id); }) {
  install_routes();
}

web_service::~web_service() { stop(); }

int web_service::bind() {
  const int port = options_.port == 0
                       ? server_->bind_to_any_port(options_.host)
                       : (server_->bind_to_port(options_.host, options_.port) ? options_.port : -1);
  if (port > 0) widen_listen_queue(port);
  return port;
}

bool web_service::serve() { return server_->listen_after_bind(); }

void web_service::stop() {
  server_->stop();
  executor_.stop();
}

bool web_service::running() const { return server_->is_running(); }

page_content web_service::blank_page() const {
  page_content page;
  page.trials_limit = trials_limit_note(options_.time_limit, executor_.costs());
  return page;
}

void web_service::answer_form_run(const httplib::Request& req, httplib::Response& res) {
  set_common_headers(res);
  res.set_header("Cache-Control", "no-store");
  submitted_fields fields = fields_of(req);
  if (awaits_visitor(req)) return answer_with_filled_form(blank_page(), fields, res);
  page_content page = blank_page();
  page.form = form_values_from(fields);
  run_request request;
  field_error error;
  if (!parse_run_request(fields, request, error) ||
      !fits_time_limit(request, options_.time_limit, executor_.costs(), error)) {
    page.error = error.message;
    res.status = 400;
    res.set_content(render_page(page), kHtmlType);
    return;
  }

  run_outcome outcome = executor_.run(request, origin_of(req, options_.trusted_proxy),
                                      results_need::optional, run_data::kept);
  res.status = http_status(outcome.result);
  if (asks_to_wait(outcome.result)) {
    res.set_header("Retry-After", std::to_string(kRetryAfterSeconds));
  }
  page.report = outcome.report;
  if (outcome.result == run_outcome::state::finished) page.exact_answer = exact_answer_of(outcome);
  if (outcome.result == run_outcome::state::failed) {
    page.error = outcome_message(outcome, options_.time_limit);
  } else if (outcome.result != run_outcome::state::finished) {
    page.notice = outcome_message(outcome, options_.time_limit);
    page.diagnostics = outcome.diagnostics;
  } else {
    show_finished_run(page, request, outcome, kept_for());
  }
  res.set_content(render_page(page), kHtmlType);
}

void web_service::answer_api_run(const httplib::Request& req, httplib::Response& res) {
  set_common_headers(res);
  res.set_header("Cache-Control", "no-store");
  const submitted_fields fields = fields_of(req);
  if (awaits_visitor(req)) return answer_with_filled_form(blank_page(), fields, res);
  run_request request;
  answer_format format = answer_format::text;
  field_error error;
  if (!parse_run_request(fields, request, error) || !parse_answer_format(fields, format, error) ||
      !fits_time_limit(request, options_.time_limit, executor_.costs(), error)) {
    res.status = 400;
    res.set_content(error.message + "\n", kTextType);
    return;
  }

  run_outcome outcome = executor_.run(
      request, origin_of(req, options_.trusted_proxy),
      format == answer_format::text ? results_need::optional : results_need::required);
  res.status = http_status(outcome.result);
  if (asks_to_wait(outcome.result)) {
    res.set_header("Retry-After", std::to_string(kRetryAfterSeconds));
    res.set_content(outcome_message(outcome, options_.time_limit) + "\n", kTextType);
    return;
  }
  if (outcome.has_chart) {
    std::string link(1, '<');
    link += chart_url(outcome.id) + ">; rel=\"chart\"";
    res.set_header("Link", link);
  }
  if (outcome.result == run_outcome::state::finished && format != answer_format::text) {
    set_figures(res, format, outcome);
    return;
  }
  std::string body = outcome.report;
  if (outcome.result == run_outcome::state::failed) {
    body += outcome_message(outcome, options_.time_limit) + "\n";
  } else if (outcome.result != run_outcome::state::finished) {
    body += outcome_message(outcome, options_.time_limit) + "\n" + outcome.diagnostics;
  } else if (outcome.has_chart) {
    body += "chart: " + chart_url(outcome.id) + "\n";
  } else {
    body += "chart: none (" + outcome.chart_fault + ")\n";
  }
  res.set_content(body, kTextType);
}

std::string web_service::kept_for() const {
  return std::to_string(options_.retention.count()) + " seconds";
}

void web_service::answer_chart(const httplib::Request& req, httplib::Response& res) {
  set_common_headers(res);
  std::optional<std::string> chart = read_chart(options_.workdir, req.matches[1].str());
  const std::string retention = std::to_string(options_.retention.count());
  if (!chart) {
    res.status = 404;
    res.set_content("No such chart: charts are kept for " + retention + " seconds after their run.\n",
                    kTextType);
    return;
  }
  res.set_header("Cache-Control", "private, max-age=" + retention);
  res.set_content(*chart, "image/png");
}

void web_service::install_routes() {
  httplib::Server& server = *server_;
  server.new_task_queue = [threads = options_.threads] {
    return new httplib::ThreadPool(threads);
  };
  server.set_payload_max_length(options_.max_request_bytes);
  server.set_keep_alive_timeout(options_.keep_alive.count());
  server.set_socket_options(listening_socket_options);
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return refused_up_front(req, res, options_.server_names)
               ? httplib::Server::HandlerResponse::Handled
               : httplib::Server::HandlerResponse::Unhandled;
  });
  // Called once the answer is written: the library would read on after a
  // refused request and take its body for the next request.
  server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    if (ends_connection(res)) end_connection(socket_of(req));
  });

  server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
    set_common_headers(res);
    res.set_content(render_page(blank_page()), kHtmlType);
  });
  auto form_run = [this](const httplib::Request& req, httplib::Response& res) {
    answer_form_run(req, res);
  };
  server.Get("/run", form_run);
  server.Post("/run", form_run);
  server.Get("/api/run", [this](const httplib::Request& req, httplib::Response& res) {
    answer_api_run(req, res);
  });
  // The id pattern is the only way into tmp/: nothing else is ever served from it.
  server.Get(R"(/runs/([0-9a-f]{32})/gnu\.png)",
             [this](const httplib::Request& req, httplib::Response& res) { answer_chart(req, res); });

  server.Get(kDataRoute, [this](const httplib::Request& req, httplib::Response& res) {
    answer_stored_data(req, res, options_.workdir, blank_page(), kept_for());
  });

  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    set_common_headers(res);
    // The library's own refusals of a malformed request: what follows it on
    // the connection cannot be trusted to start a request.
    if (res.status == 400) res.set_header("Connection", "close");
    res.set_content(std::to_string(res.status) + " " + error_reason(res.status) + "\n", kTextType);
  });
}

}  // namespace polygons::web
