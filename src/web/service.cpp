#include "web/service.hpp"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

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

std::size_t default_running() { return std::max(1u, std::thread::hardware_concurrency()); }

int http_status(run_outcome::state state) {
  switch (state) {
    case run_outcome::state::finished: return 200;
    case run_outcome::state::busy: return 503;
    case run_outcome::state::timed_out: return 504;
    case run_outcome::state::failed: return 500;
  }
  return 500;
}

std::string busy_message() {
  return "The server is busy with other runs; try again in " + std::to_string(kRetryAfterSeconds) +
         " seconds.";
}

std::string time_limit_message(std::chrono::seconds limit) {
  return "The run was stopped after " + std::to_string(limit.count()) +
         " seconds, the time limit of this server; try fewer trials.";
}

// The report, or what to say instead of it, for one outcome.
std::string outcome_message(const run_outcome& outcome, std::chrono::seconds limit) {
  switch (outcome.result) {
    case run_outcome::state::finished: return "";
    case run_outcome::state::busy: return busy_message();
    case run_outcome::state::timed_out: return time_limit_message(limit);
    case run_outcome::state::failed: return "The run failed.";
  }
  return "";
}

const char* error_reason(int status) {
  switch (status) {
    case 400: return "Bad request";
    case 404: return "Not found";
    case 405: return "Method not allowed";
    case 413: return "Request too large";
    case 414: return "Address too long";
    default: return "Request not served";
  }
}

// Quick restarts, but no second server on the same port (the library's default
// would let one share it); no delay on small answers, inherited by every
// accepted connection.
void listening_socket_options(int socket) {
  int yes = 1;
  ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

void set_common_headers(httplib::Response& res) {
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Content-Security-Policy",
                 "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; "
                 "form-action 'self'; frame-ancestors 'none'");
  res.set_header("Referrer-Policy", "no-referrer");
}

void log_run(const run_request& request, const run_outcome& outcome, double seconds) {
  std::fprintf(stderr,
               "polygons-web: run %s status %d in %.2f s (sides %d, radius %s, trials %s, "
               "seed %d, classes %d, show %d)\n",
               outcome.id.empty() ? "-" : outcome.id.c_str(), http_status(outcome.result), seconds,
               request.sides, real_text(request.radius).c_str(),
               real_text(request.trials).c_str(), request.seed, request.classes, request.show);
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
      child_environment_(environment_without({"USER"})),
      slots_(options_.max_running ? options_.max_running : default_running(),
             options_.max_waiting),
      server_(std::make_unique<httplib::Server>()) {
  options_.program = fs::absolute(options_.program);
  options_.workdir = fs::absolute(options_.workdir);
  std::error_code ignored;
  fs::create_directories(runs_root(options_.workdir), ignored);
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
  if (options_.port == 0) return server_->bind_to_any_port(options_.host);
  return server_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
}

bool web_service::serve() { return server_->listen_after_bind(); }

void web_service::stop() { server_->stop(); }

bool web_service::running() const { return server_->is_running(); }

bool web_service::in_use(std::string_view id) {
  std::lock_guard lock(active_mutex_);
  return active_ids_.find(id) != active_ids_.end();
}

void web_service::sweep_loop() {
  const auto interval =
      std::clamp<std::chrono::seconds>(options_.retention / 4, std::chrono::seconds(1),
                                       std::chrono::seconds(60));
  std::unique_lock lock(sweep_mutex_);
  while (!stopping_) {
    lock.unlock();
    sweep_run_dirs(options_.workdir, options_.retention,
                   [this](std::string_view id) { return in_use(id); });
    lock.lock();
    sweep_wake_.wait_for(lock, interval, [this] { return stopping_; });
  }
}

run_outcome web_service::run(const run_request& request) {
  run_outcome outcome;
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
    outcome.diagnostics = error;
    return outcome;
  }
  {
    std::lock_guard lock(active_mutex_);
    active_ids_.insert(outcome.id);
  }

  spawn_request child;
  child.program = options_.program;
  child.args = {outcome.id};
  child.cwd = options_.workdir;
  child.environment = child_environment_;
  child.input = parameter_lines(request) + plot_template_;
  child.time_limit = options_.time_limit;
  spawn_result ran = run_child(child);

  outcome.report = std::move(ran.out);
  outcome.diagnostics = ran.started ? std::move(ran.err) : ran.start_error;
  if (ran.timed_out) {
    outcome.result = run_outcome::state::timed_out;
  } else if (ran.exited_ok()) {
    outcome.result = run_outcome::state::finished;
  } else if (ran.output_cut) {
    outcome.diagnostics += "the program wrote more output than this server accepts\n";
  } else if (ran.started && ran.signal != 0) {
    outcome.diagnostics += "the program ended by signal " + std::to_string(ran.signal) + "\n";
  } else if (ran.started) {
    outcome.diagnostics += "the program ended with status " + std::to_string(ran.exit_status) + "\n";
  }

  std::error_code ec;
  outcome.has_chart = outcome.result == run_outcome::state::finished &&
                      fs::is_regular_file(fs::symlink_status(
                          run_dir(options_.workdir, outcome.id) / std::string(kChartName), ec));
  if (!outcome.has_chart) remove_run_dir(options_.workdir, outcome.id);
  {
    std::lock_guard lock(active_mutex_);
    active_ids_.erase(outcome.id);
  }
  if (options_.log_runs) {
    log_run(request, outcome, static_cast<double>(ran.elapsed.count()) / 1000.0);
  }
  return outcome;
}

void web_service::answer_form_run(const httplib::Request& req, httplib::Response& res) {
  set_common_headers(res);
  res.set_header("Cache-Control", "no-store");
  submitted_fields fields = fields_of(req);
  page_content page;
  page.form = form_values_from(fields);
  run_request request;
  field_error error;
  if (!parse_run_request(fields, request, error)) {
    page.error = error.message;
    res.status = 400;
    res.set_content(render_page(page), kHtmlType);
    return;
  }

  run_outcome outcome = run(request);
  res.status = http_status(outcome.result);
  if (outcome.result == run_outcome::state::busy) {
    res.set_header("Retry-After", std::to_string(kRetryAfterSeconds));
  }
  page.report = outcome.report;
  page.diagnostics = outcome.diagnostics;
  if (outcome.result == run_outcome::state::failed) {
    page.error = outcome_message(outcome, options_.time_limit);
  } else if (outcome.result != run_outcome::state::finished) {
    page.notice = outcome_message(outcome, options_.time_limit);
  } else if (outcome.has_chart) {
    page.chart_url = chart_url(outcome.id);
    page.diagnostics.clear();
  } else {
    page.notice = "The run drew no chart.";
  }
  res.set_content(render_page(page), kHtmlType);
}

void web_service::answer_api_run(const httplib::Request& req, httplib::Response& res) {
  set_common_headers(res);
  res.set_header("Cache-Control", "no-store");
  run_request request;
  field_error error;
  if (!parse_run_request(fields_of(req), request, error)) {
    res.status = 400;
    res.set_content(error.message + "\n", kTextType);
    return;
  }

  run_outcome outcome = run(request);
  res.status = http_status(outcome.result);
  if (outcome.result == run_outcome::state::busy) {
    res.set_header("Retry-After", std::to_string(kRetryAfterSeconds));
    res.set_content(busy_message() + "\n", kTextType);
    return;
  }
  std::string body = outcome.report;
  if (outcome.result != run_outcome::state::finished) {
    body += outcome_message(outcome, options_.time_limit) + "\n" + outcome.diagnostics;
  }
  if (outcome.has_chart) {
    body += "chart: " + chart_url(outcome.id) + "\n";
    std::string link(1, '<');
    link += chart_url(outcome.id) + ">; rel=\"chart\"";
    res.set_header("Link", link);
  }
  res.set_content(body, kTextType);
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

  server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    set_common_headers(res);
    res.set_content(render_page({}), kHtmlType);
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
    res.set_content(std::to_string(res.status) + " " + error_reason(res.status) + "\n", kTextType);
  });
}

}  // namespace polygons::web
