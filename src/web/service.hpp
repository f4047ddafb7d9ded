#pragma once
// The web service: its HTTP routes, over the run executor (web/run_executor.hpp:
// admission and one run of the program per request in a directory of its
// own) and the sweeper of old run directories (web/sweeper.hpp). Requests are
// checked before routing by web/request_checks.hpp.
//
// Routes:
//   GET /                    the form
//   POST /run, GET /run      a run from the form's fields; the page with the
//                            report, the exact answer beside it, and the
//                            chart with the exact mean marked (or why it is
//                            missing)
//   GET /api/run?sides=3&radius=1&trials=1e6&seed=1&classes=0[&show=0][&format=text]
//                            text/plain: the report, then the line
//                            "chart: /runs/<id>/gnu.png" (also in a Link
//                            header), or "chart: none (<reason>)"
//                            format=json: application/json, the run's figures,
//                            its classes, the exact answer and the report;
//                            format=csv: text/csv, the classes
//                            (web/run_answers.hpp); a run that left no
//                            readable results then fails (500)
//   GET /runs/<id>/gnu.png   the chart, kept for the retention time
// Every request must name one of the served host names (421 otherwise), carry
// at most one body length (400) and no Content-Encoding (415). The run routes
// take only their methods (405 with Allow: HEAD would start a run), and a run
// that another site's page asks for, other than by a link the visitor
// followed, or a POST to /run from another site's page is refused (403);
// these refusals close the connection. A link that another site's page
// follows without the visitor's click shows the form filled in with its
// values, and runs nothing until the visitor presses Run. Answers to runs: 400 for a refused
// field (the message starts with its name, `format` included), also for more
// trials than the time limit allows for the sides; 429 with Retry-After while
// the same client has as many runs waiting as it may; 503 with Retry-After
// when slots and queue are full and the run would go before no waiting one, or
// when it waited a whole time limit; 504 when the time limit stopped the run;
// 500 when the program failed (its messages go to the service's standard
// error only); 413 for an oversized request. A run whose client hangs up,
// running or waiting, is dropped at once.

#include <memory>
#include <string>

#include "web/page.hpp"
#include "web/run_executor.hpp"
#include "web/service_options.hpp"
#include "web/sweeper.hpp"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace polygons::web {

class web_service {
 public:
  // `plot_template` is sent to every run after the parameter lines.
  web_service(service_options options, std::string plot_template);
  ~web_service();
  web_service(const web_service&) = delete;
  web_service& operator=(const web_service&) = delete;

  // Measures what runs cost on this server (run_executor::calibrate); before
  // serve(). False, with why in `error`, when the defaults stay.
  bool calibrate(std::string& error) { return executor_.calibrate(error); }
  const run_costs& costs() const { return executor_.costs(); }
  // Runs waiting for a slot.
  std::size_t queued_runs() const { return executor_.queued(); }

  // Binds the listening socket; the port bound (the chosen one when the
  // options say 0), or -1.
  int bind();
  // Answers requests until stop(); false when it could not serve.
  bool serve();
  void stop();
  // True once serve() accepts connections.
  bool running() const;

  const service_options& options() const { return options_; }

 private:
  void install_routes();
  page_content blank_page() const;
  std::string kept_for() const;  // how long charts and data are kept
  void answer_form_run(const httplib::Request& req, httplib::Response& res);
  void answer_api_run(const httplib::Request& req, httplib::Response& res);
  void answer_chart(const httplib::Request& req, httplib::Response& res);

  service_options options_;
  run_executor executor_;
  std::unique_ptr<httplib::Server> server_;
  run_sweeper sweeper_;
};

}  // namespace polygons::web
