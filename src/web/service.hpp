#pragma once
// The web service: routes, admission of runs, one run of the program per
// request in a directory of its own, and the removal of old run directories.
//
// Routes:
//   GET /                    the form
//   POST /run, GET /run      a run from the form's fields; the page with the
//                            report and the chart (or why it is missing)
//   GET /api/run?sides=3&radius=1&trials=1e6&seed=1&classes=0[&show=0]
//                            text/plain: the report, then the line
//                            "chart: /runs/<id>/gnu.png" (also in a Link
//                            header), or "chart: none (<reason>)"
//   GET /runs/<id>/gnu.png   the chart, kept for the retention time
// Every request must name one of the served host names (421 otherwise), carry
// at most one body length (400) and no Content-Encoding (415). The run routes
// take only their methods (405 with Allow: HEAD would start a run), and a POST
// to /run from another site's page is refused (403); these refusals close the
// connection. Answers to runs: 400 for a refused field (the message starts
// with its name), also for more trials than the time limit allows for the
// sides; 429 with Retry-After while the same client has a run in flight; 503
// with Retry-After when slots and queue are full; 504 when the time limit
// stopped the run; 500 when the program failed (its messages go to the
// service's standard error only); 413 for an oversized request. A run whose
// client hangs up is stopped at once.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "web/fields.hpp"
#include "web/page.hpp"
#include "web/run_slots.hpp"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace polygons::web {

struct service_options {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port
  std::filesystem::path program;        // the simulation program
  std::filesystem::path template_path;  // the plotting template sent after the parameters
  std::filesystem::path workdir = ".";  // runs go to <workdir>/tmp/<id>/
  std::chrono::seconds time_limit{60};
  std::chrono::seconds retention{600};
  std::size_t max_running = 0;  // 0: one per core
  std::size_t max_waiting = 4;
  std::size_t threads = 64;  // connections served at once
  std::size_t max_request_bytes = 8192;
  bool log_runs = true;  // one line per run on standard error
  // Host names (a Host header's name, without its port) the service answers.
  std::vector<std::string> server_names = {"localhost", "127.0.0.1", "[::1]"};
  // The front server's address: only its requests name the client in
  // X-Real-IP or X-Forwarded-For. Empty: the connection's peer is the client.
  std::string trusted_proxy;
};

// Where a run's request came from.
struct run_origin {
  std::string client;      // the address it counts for; empty: no per-client limit
  int client_socket = -1;  // its connection, watched for a hang-up; -1: none
};

// What one run gave.
struct run_outcome {
  enum class state { finished, busy, client_busy, timed_out, abandoned, failed };
  state result = state::failed;
  std::string id;
  std::string report;       // standard output of the program
  std::string diagnostics;  // its standard error, or why it could not start
                            // (for the operator only when the run failed)
  std::string failure;      // why it failed, for the visitor: no paths, no messages
  bool has_chart = false;
  std::string chart_fault;  // why a finished run has no chart
};

// The plotting template, read whole; empty with `error` when unreadable or
// without any text.
std::optional<std::string> read_template(const std::filesystem::path& path, std::string& error);

// "/runs/<id>/gnu.png"
std::string chart_url(std::string_view id);

class web_service {
 public:
  // `plot_template` is sent to every run after the parameter lines.
  web_service(service_options options, std::string plot_template);
  ~web_service();
  web_service(const web_service&) = delete;
  web_service& operator=(const web_service&) = delete;

  // Binds the listening socket; the port bound (the chosen one when the
  // options say 0), or -1.
  int bind();
  // Answers requests until stop(); false when it could not serve.
  bool serve();
  void stop();
  // True once serve() accepts connections.
  bool running() const;

  // One run of the program, waiting for a slot when needed; at most one at a
  // time for each client.
  run_outcome run(const run_request& request, const run_origin& origin = {});

  const service_options& options() const { return options_; }

 private:
  void install_routes();
  // Refuses, before its body is read, a request no route may take; true when
  // it did.
  bool refused_up_front(const httplib::Request& req, httplib::Response& res) const;
  run_origin origin_of(const httplib::Request& req) const;
  page_content blank_page() const;
  void answer_form_run(const httplib::Request& req, httplib::Response& res);
  void answer_api_run(const httplib::Request& req, httplib::Response& res);
  void answer_chart(const httplib::Request& req, httplib::Response& res);
  void sweep_loop();

  service_options options_;
  std::string plot_template_;
  std::vector<std::string> child_environment_;
  run_slots slots_;
  std::unique_ptr<httplib::Server> server_;

  claims active_ids_;  // runs in progress: their directories are not swept
  claims clients_;     // clients with a run in flight

  std::mutex sweep_mutex_;
  std::condition_variable sweep_wake_;
  bool stopping_ = false;
  std::thread sweeper_;
};

}  // namespace polygons::web
