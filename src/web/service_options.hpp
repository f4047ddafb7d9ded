#pragma once
// The settings of one web service: where it listens, what it runs, and its
// limits. Filled from defaults and the command line (web/options.hpp).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "web/run_cost.hpp"

namespace polygons::web {

// The seconds a client refused for a full queue is told to wait
// (Retry-After), and told so by the front server for its own refusals.
inline constexpr int kRetryAfterSeconds = 10;

struct service_options {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port
  std::filesystem::path program;        // the simulation program
  std::filesystem::path template_path;  // the plotting template sent after the parameters
  std::filesystem::path workdir = ".";  // runs go to <workdir>/tmp/<id>/
  std::chrono::seconds time_limit{60};
  std::chrono::seconds retention{600};
  // The disk the run directories may take; beyond it the oldest charts go
  // before their retention ends.
  std::uintmax_t max_disk_bytes = 256ULL << 20;
  std::size_t max_running = 0;  // 0: one per core
  std::size_t max_waiting = 64;
  std::size_t threads = 160;  // connections served at once: the waiting runs and more
  std::size_t max_request_bytes = 8192;
  std::chrono::seconds keep_alive{5};  // an idle connection is closed after it
  bool log_runs = true;  // one line per run on standard error
  // Host names (a Host header's name, without its port) the service answers.
  std::vector<std::string> server_names = {"localhost", "127.0.0.1", "[::1]"};
  // The front server's address: only its requests name the client in
  // X-Real-IP or X-Forwarded-For. Empty: the connection's peer is the client.
  std::string trusted_proxy;
  // What runs cost until the service has measured its own (web/run_cost.hpp).
  run_costs costs;
};

}  // namespace polygons::web
