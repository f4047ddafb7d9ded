#include "web/service.hpp"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "run/engine_policy.hpp"
#include "web/connection.hpp"
#include "web/page.hpp"
#include "web/run_dir.hpp"
#include "web/spawn.hpp"

namespace polygons::web {
namespace fs = std::filesystem;
namespace {

constexpr int kRetryAfterSeconds = 10;
constexpr std::size_t kMaxTemplateBytes = 64 * 1024;

const char kTextType[] = "text/plain; charset=utf-8";
const char kHtmlType[] = "text/html; charset=utf-8";

submitted_fields fields_of(const httplib::Request& req) {
  return submitted_fields(req.params.begin(), req.params.end());
}

// Cores counted as the program counts them, so that the runs at once share
// exactly what the program would use alone.
std::size_t cores() { return static_cast<std::size_t>(std::max(1, run::available_processors())); }

std::size_t running_limit(const service_options& options) {
  return options.max_running ? options.max_running : cores();
}

// The environment of every child: no USER (the program's limits for runs
// without a login apply), and the cores shared between the runs at once.
std::vector<std::string> child_environment(const service_options& options) {
  std::vector<std::string> environment = environment_without({"USER", "OMP_NUM_THREADS"});
  const std::size_t threads = std::max<std::size_t>(1, cores() / running_limit(options));
  environment.push_back("OMP_NUM_THREADS=" + std::to_string(threads));
  return environment;
}

int http_status(run_outcome::state state) {
  switch (state) {
    case run_outcome::state::finished: return 200;
    case run_outcome::state::busy: return 503;
    case run_outcome::state::client_busy: return 429;
    case run_outcome::state::timed_out: return 504;
    case run_outcome::state::abandoned: return 499;  // as front servers log it
    case run_outcome::state::failed: return 500;
  }
  return 500;
}

std::string busy_message() {
  return "The server is busy with other runs; try again in " + std::to_string(kRetryAfterSeconds) +
         " seconds.";
}

std::string client_busy_message() {
  return "Another run of yours is still in progress; one run at a time for each visitor. Try "
         "again when it has finished.";
}

std::string time_limit_message(std::chrono::seconds limit) {
  return "The run was stopped after " + std::to_string(limit.count()) +
         " seconds, the time limit of this server; try fewer trials.";
}

// What to say instead of the report (or after it) for one outcome.
std::string outcome_message(const run_outcome& outcome, std::chrono::seconds limit) {
  switch (outcome.result) {
    case run_outcome::state::finished: return "";
    case run_outcome::state::busy: return busy_message();
    case run_outcome::state::client_busy: return client_busy_message();
    case run_outcome::state::timed_out: return time_limit_message(limit);
    case run_outcome::state::abandoned: return "The run was stopped: the client hung up.";
    case run_outcome::state::failed: return "The run failed: " + outcome.failure + ".";
  }
  return "";
}

bool asks_to_wait(run_outcome::state state) {
  return state == run_outcome::state::busy || state == run_outcome::state::client_busy;
}

const char* error_reason(int status) {
  switch (status) {
    case 400: return "Bad request";
    case 404: return "Not found";
    case 405: return "Method not allowed";
    case 413: return "Request too large";
    case 414: return "Address too long";
    case 415: return "Unsupported media type";
    case 421: return "Misdirected request";
    case 431: return "Header fields too large";
    default: return "Request not served";
  }
}

// The methods a run route takes ("GET, POST"), or empty for other paths.
std::string allowed_methods(const std::string& path) {
  if (path == "/run") return "GET, POST";
  if (path == "/api/run") return "GET";
  return "";
}

bool is_allowed(const std::string& method, std::string_view allowed) {
  std::size_t at = 0;
  while (at < allowed.size()) {
    std::size_t end = std::min(allowed.find(',', at), allowed.size());
    if (allowed.substr(at, end - at) == method) return true;
    at = end + 2;
  }
  return false;
}

// The last value of a header that may be given more than once.
std::string last_header_value(const httplib::Request& req, const char* name) {
  std::size_t count = req.get_header_value_count(name);
  return count == 0 ? std::string() : req.get_header_value(name, count - 1);
}

// The socket a request came on; -1 when it cannot be found.
int socket_of(const httplib::Request& req) {
  return connection_socket(req.local_addr, req.local_port, req.remote_addr, req.remote_port);
}

// A page of another site may post the form, but its request names that site
// in Origin ("null" from an opaque origin) or says so in Sec-Fetch-Site.
bool comes_from_own_site(const httplib::Request& req) {
  if (req.get_header_value("Sec-Fetch-Site") == "cross-site") return false;
  return !req.has_header("Origin") ||
         is_same_site_origin(req.get_header_value("Origin"), req.get_header_value("Host"));
}

// Answers after which the connection is dropped: what the client sent after
// the request line and headers may be an unread body, never a next request.
bool ends_connection(const httplib::Response& res) {
  return res.status >= 400 && res.get_header_value("Connection") == "close";
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

void set_common_headers(httplib::Response& res) {
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Content-Security-Policy",
                 "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; "
                 "form-action 'self'; frame-ancestors 'none'");
  // Not "no-referrer": under it browsers send "Origin: null" with the form's
  // own posts, which could not be told from another site's.
  res.set_header("Referrer-Policy", "same-origin");
}

void log_run(const run_request& request, const run_origin& origin, const run_outcome& outcome,
             double seconds) {
  std::fprintf(stderr,
               "polygons-web: run %s status %d in %.2f s for %s (sides %d, radius %s, trials %s, "
               "seed %d, classes %d, show %d)\n",
               outcome.id.empty() ? "-" : outcome.id.c_str(), http_status(outcome.result), seconds,
               origin.client.empty() ? "-" : origin.client.c_str(), request.sides,
               real_text(request.radius).c_str(), real_text(request.trials).c_str(), request.seed,
               request.classes, request.show);
}

// A failed run, with the program's messages: for the operator, not the visitor.
void log_failure(const run_outcome& outcome) {
  constexpr std::size_t kMaxLogged = 4096;
  std::string messages = outcome.diagnostics.substr(0, kMaxLogged);
  if (!messages.empty() && messages.back() != '\n') messages += '\n';
  std::fprintf(stderr, "polygons-web: run %s failed: %s\n%s",
               outcome.id.empty() ? "-" : outcome.id.c_str(), outcome.failure.c_str(),
               messages.c_str());
}

}  // namespace

std::optional<std::string> read_template(const fs::path& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the plotting template " + path.string();
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string body = text.str();
  if (body.empty() || body.size() > kMaxTemplateBytes) {
    error = "the plotting template " + path.string() + " is empty or too large";
    return std::nullopt;
  }
  if (body.back() != '\n') body.push_back('\n');
  return body;
}

std::string chart_url(std::string_view id) {
  return "/runs/" + std::string(id) + "/" + std::string(kChartName);
}

web_service::web_service(service_options options, std::string plot_template)
    : options_(std::move(options)),
      plot_template_(std::move(plot_template)),
      child_environment_(child_environment(options_)),
      slots_(running_limit(options_), options_.max_waiting),
      server_(std::make_unique<httplib::Server>()) {
  options_.program = fs::absolute(options_.program);
  options_.workdir = fs::absolute(options_.workdir);
  std::error_code ignored;
  // Searchable by a front server that serves the charts as another user.
  if (fs::create_directories(runs_root(options_.workdir), ignored)) {
    fs::permissions(runs_root(options_.workdir), fs::perms(0755), ignored);
  }
  install_routes();
  sweeper_ = std::thread([this] { sweep_loop(); });
}

web_service::~web_service() {
  stop();
  {
    std::lock_guard lock(sweep_mutex_);
    stopping_ = true;
  }
  sweep_wake_.notify_all();
  sweeper_.join();
}

int web_service::bind() {
  const int port = options_.port == 0
                       ? server_->bind_to_any_port(options_.host)
                       : (server_->bind_to_port(options_.host, options_.port) ? options_.port : -1);
  if (port > 0) widen_listen_queue(port);
  return port;
}

bool web_service::serve() { return server_->listen_after_bind(); }

void web_service::stop() { server_->stop(); }

bool web_service::running() const { return server_->is_running(); }

void web_service::sweep_loop() {
  const auto interval =
      std::clamp<std::chrono::seconds>(options_.retention / 4, std::chrono::seconds(1),
                                       std::chrono::seconds(60));
  std::unique_lock lock(sweep_mutex_);
  while (!stopping_) {
    lock.unlock();
    sweep_run_dirs(options_.workdir, options_.retention,
                   [this](std::string_view id) { return active_ids_.claimed(id); });
    lock.lock();
    sweep_wake_.wait_for(lock, interval, [this] { return stopping_; });
  }
}

run_outcome web_service::run(const run_request& request, const run_origin& origin) {
  run_outcome outcome;
  std::optional<claim_hold> client;
  if (!origin.client.empty()) {
    client.emplace(clients_, origin.client);
    if (!client->held()) {
      outcome.result = run_outcome::state::client_busy;
      return outcome;
    }
  }
  slot_hold slot(slots_);
  if (!slot.held()) {
    outcome.result = run_outcome::state::busy;
    return outcome;
  }

  std::string error;
  for (int attempt = 0; attempt < 3 && outcome.id.empty(); ++attempt) {
    std::string id = new_run_id();
    if (create_run_dir(options_.workdir, id, error)) outcome.id = id;
  }
  if (outcome.id.empty()) {
    outcome.failure = "its directory could not be created";
    outcome.diagnostics = error;
    log_failure(outcome);
    return outcome;
  }
  // Released on every way out, so the directory is swept in time.
  claim_hold active(active_ids_, outcome.id);

  spawn_request child;
  child.program = options_.program;
  child.args = {outcome.id};
  child.cwd = options_.workdir;
  child.environment = child_environment_;
  child.input = parameter_lines(request) + plot_template_;
  child.time_limit = options_.time_limit;
  child.client_socket = origin.client_socket;
  spawn_result ran = run_child(child);

  outcome.report = std::move(ran.out);
  outcome.diagnostics = std::move(ran.err);
  if (ran.timed_out) {
    outcome.result = run_outcome::state::timed_out;
  } else if (ran.abandoned) {
    outcome.result = run_outcome::state::abandoned;
  } else if (ran.exited_ok()) {
    outcome.result = run_outcome::state::finished;
  } else if (!ran.started) {
    outcome.failure = "the program could not be started";
    outcome.diagnostics = ran.start_error;
  } else if (ran.output_cut) {
    outcome.failure = "the program wrote more output than this server accepts";
  } else if (ran.signal != 0) {
    outcome.failure = "the program ended by signal " + std::to_string(ran.signal);
  } else {
    outcome.failure = "the program ended with status " + std::to_string(ran.exit_status);
  }

  if (outcome.result == run_outcome::state::finished) {
    outcome.chart_fault = chart_fault(options_.workdir, outcome.id);
    outcome.has_chart = outcome.chart_fault.empty();
  }
  if (!outcome.has_chart) remove_run_dir(options_.workdir, outcome.id);
  if (outcome.result == run_outcome::state::failed) log_failure(outcome);
  if (options_.log_runs) {
    log_run(request, origin, outcome, static_cast<double>(ran.elapsed.count()) / 1000.0);
  }
  return outcome;
}

run_origin web_service::origin_of(const httplib::Request& req) const {
  return {client_address(req.remote_addr, options_.trusted_proxy,
                         last_header_value(req, "X-Real-IP"),
                         last_header_value(req, "X-Forwarded-For")),
          socket_of(req)};
}

page_content web_service::blank_page() const {
  page_content page;
  page.trials_limit = trials_limit_note(options_.time_limit);
  return page;
}

void web_service::answer_form_run(const httplib::Request& req, httplib::Response& res) {
  set_common_headers(res);
  res.set_header("Cache-Control", "no-store");
  submitted_fields fields = fields_of(req);
  page_content page = blank_page();
  page.form = form_values_from(fields);
  run_request request;
  field_error error;
  if (!parse_run_request(fields, request, error) ||
      !fits_time_limit(request, options_.time_limit, error)) {
    page.error = error.message;
    res.status = 400;
    res.set_content(render_page(page), kHtmlType);
    return;
  }

  run_outcome outcome = run(request, origin_of(req));
  res.status = http_status(outcome.result);
  if (asks_to_wait(outcome.result)) {
    res.set_header("Retry-After", std::to_string(kRetryAfterSeconds));
  }
  page.report = outcome.report;
  if (outcome.result == run_outcome::state::failed) {
    page.error = outcome_message(outcome, options_.time_limit);
  } else if (outcome.result != run_outcome::state::finished) {
    page.notice = outcome_message(outcome, options_.time_limit);
    page.diagnostics = outcome.diagnostics;
  } else if (outcome.has_chart) {
    page.chart_url = chart_url(outcome.id);
  } else {
    page.chart_missing = "The chart could not be drawn: " + outcome.chart_fault + ".";
    page.diagnostics = outcome.diagnostics;
  }
  res.set_content(render_page(page), kHtmlType);
}

void web_service::answer_api_run(const httplib::Request& req, httplib::Response& res) {
  set_common_headers(res);
  res.set_header("Cache-Control", "no-store");
  run_request request;
  field_error error;
  if (!parse_run_request(fields_of(req), request, error) ||
      !fits_time_limit(request, options_.time_limit, error)) {
    res.status = 400;
    res.set_content(error.message + "\n", kTextType);
    return;
  }

  run_outcome outcome = run(request, origin_of(req));
  res.status = http_status(outcome.result);
  if (asks_to_wait(outcome.result)) {
    res.set_header("Retry-After", std::to_string(kRetryAfterSeconds));
    res.set_content(outcome_message(outcome, options_.time_limit) + "\n", kTextType);
    return;
  }
  std::string body = outcome.report;
  if (outcome.result == run_outcome::state::failed) {
    body += outcome_message(outcome, options_.time_limit) + "\n";
  } else if (outcome.result != run_outcome::state::finished) {
    body += outcome_message(outcome, options_.time_limit) + "\n" + outcome.diagnostics;
  } else if (outcome.has_chart) {
    body += "chart: " + chart_url(outcome.id) + "\n";
    std::string link(1, '<');
    link += chart_url(outcome.id) + ">; rel=\"chart\"";
    res.set_header("Link", link);
  } else {
    body += "chart: none (" + outcome.chart_fault + ")\n";
  }
  res.set_content(body, kTextType);
}

bool web_service::refused_up_front(const httplib::Request& req, httplib::Response& res) const {
  auto refuse = [&res](int status, const std::string& message) {
    set_common_headers(res);
    res.status = status;
    res.set_header("Connection", "close");
    res.set_content(message + "\n", kTextType);
    return true;
  };
  // Two lengths (or a length and chunks) let the two ends of a connection
  // disagree on where the next request starts.
  if (req.get_header_value_count("Content-Length") > 1 ||
      (req.has_header("Content-Length") && req.has_header("Transfer-Encoding"))) {
    return refuse(400, "400 Bad request: the body length is given more than once");
  }
  if (req.get_header_value_count("Host") > 1) {
    return refuse(400, "400 Bad request: the host is given more than once");
  }
  if (!is_served_name(req.get_header_value("Host"), options_.server_names)) {
    return refuse(421, "421 Misdirected request: this server does not serve that host name");
  }
  // Bodies are a few form fields; an encoded one could unpack to any size.
  if (req.has_header("Content-Encoding")) {
    return refuse(415, "415 Unsupported media type: request bodies may not be encoded");
  }
  if (std::string allowed = allowed_methods(req.path);
      !allowed.empty() && !is_allowed(req.method, allowed)) {
    res.set_header("Allow", allowed);
    return refuse(405, "405 Method not allowed: " + req.path + " takes " + allowed);
  }
  if (req.method == "POST" && req.path == "/run" && !comes_from_own_site(req)) {
    return refuse(403, "403 Forbidden: runs are started from this site's own form only");
  }
  return false;
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
  server.set_socket_options(listening_socket_options);
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return refused_up_front(req, res) ? httplib::Server::HandlerResponse::Handled
                                      : httplib::Server::HandlerResponse::Unhandled;
  });
  // Called once the answer is written: the library would read on after a
  // refused request and take its body for the next request.
  server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    if (ends_connection(res)) {
      end_connection(
          socket_of(req));
    }
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
