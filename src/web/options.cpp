#include "web/options.hpp"

#include <algorithm>
#include <charconv>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "web/connection.hpp"

namespace polygons::web {
namespace {

bool to_number(std::string_view text, long long low, long long high, long long& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= low && out <= high;
}

using setter = std::function<bool(service_options&, const std::string&)>;

setter number_setter(long long low, long long high,
                     std::function<void(service_options&, long long)> assign) {
  return [=](service_options& options, const std::string& text) {
    long long value = 0;
    if (!to_number(text, low, high, value)) return false;
    assign(options, value);
    return true;
  };
}

// Comma-separated names, each a host name or address without blanks.
bool add_server_names(service_options& options, const std::string& text) {
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = std::min(text.find(',', at), text.size());
    std::string name = text.substr(at, end - at);
    if (name.empty() || name.find_first_of(" \t/") != std::string::npos) return false;
    options.server_names.push_back(name);
    at = end + 1;
  }
  return true;
}

struct option_rule {
  std::string_view name;
  setter set;
};

const std::vector<option_rule>& rules() {
  static const std::vector<option_rule> table = {
      {"--host", [](service_options& o, const std::string& v) { o.host = v; return !v.empty(); }},
      {"--port", number_setter(0, 65535, [](service_options& o, long long v) {
         o.port = static_cast<int>(v);
       })},
      {"--program",
       [](service_options& o, const std::string& v) { o.program = v; return !v.empty(); }},
      {"--template",
       [](service_options& o, const std::string& v) { o.template_path = v; return !v.empty(); }},
      {"--workdir",
       [](service_options& o, const std::string& v) { o.workdir = v; return !v.empty(); }},
      {"--time-limit", number_setter(1, 86400, [](service_options& o, long long v) {
         o.time_limit = std::chrono::seconds(v);
       })},
      {"--retention", number_setter(1, 7 * 86400, [](service_options& o, long long v) {
         o.retention = std::chrono::seconds(v);
       })},
      {"--disk-limit", number_setter(1, 1 << 20, [](service_options& o, long long v) {
         o.max_disk_bytes = static_cast<std::uintmax_t>(v) << 20;
       })},
      {"--max-runs", number_setter(0, 1024, [](service_options& o, long long v) {
         o.max_running = static_cast<std::size_t>(v);
       })},
      {"--queue", number_setter(0, 1024, [](service_options& o, long long v) {
         o.max_waiting = static_cast<std::size_t>(v);
       })},
      {"--threads", number_setter(2, 4096, [](service_options& o, long long v) {
         o.threads = static_cast<std::size_t>(v);
       })},
      {"--server-name", add_server_names},
      {"--trusted-proxy",
       [](service_options& o, const std::string& v) {
         o.trusted_proxy = v;
         return is_ip_address(v);
       }},
  };
  return table;
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, service_options& options, bool& help,
                   std::string& error) {
  help = false;
  bool names_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (name == "--help" || name == "-h") {
      help = true;
      continue;
    }
    if (auto eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (name == "--quiet" && !value) {
      options.log_runs = false;
      continue;
    }
    const option_rule* rule = nullptr;
    for (const option_rule& r : rules()) {
      if (r.name == name) rule = &r;
    }
    if (!rule) {
      error = "unknown option " + name;
      return false;
    }
    if (!value) {
      if (i + 1 == args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    // The first --server-name replaces the default names, more add to it.
    if (name == "--server-name" && !std::exchange(names_given, true)) {
      options.server_names.clear();
    }
    if (!rule->set(options, *value)) {
      error = "bad value for " + name + ": " + *value;
      return false;
    }
  }
  return true;
}

std::string usage_text() {
  const service_options defaults;
  auto count = [](auto value) { return std::to_string(value); };
  return "Usage: polygons-web [options]\n"
         "Serves a page (and GET /api/run) that runs the polygons simulation.\n"
         "  --host ADDRESS     address to listen on (default " + defaults.host + ")\n"
         "  --port N           port (default " + count(defaults.port) + "; 0 picks a free one)\n"
         "  --program PATH     simulation program (default: polygons beside this program)\n"
         "  --template PATH    plotting template sent to each run (default: the installed\n"
         "                     share/polygons/examples/template.gp, or the source tree's)\n"
         "  --workdir DIR      runs go to DIR/tmp/<id>/ (default: current directory)\n"
         "  --time-limit S     seconds before a run is stopped (default " +
         count(defaults.time_limit.count()) + ")\n"
         "  --retention S      seconds a run's chart is kept (default " +
         count(defaults.retention.count()) + ")\n"
         "  --disk-limit MB    disk the kept charts may take; beyond it the oldest go\n"
         "                     first (default " + count(defaults.max_disk_bytes >> 20) + ")\n"
         "  --max-runs N       runs at once (default 0: one per core)\n"
         "  --queue N          runs waiting for a free slot before answering 503 (default " +
         count(defaults.max_waiting) + ")\n"
         "  --threads N        connections served at once (default " + count(defaults.threads) +
         ")\n"
         "  --server-name NAMES  host names served, comma-separated; may be repeated\n"
         "                     (default localhost,127.0.0.1,[::1]); others get 421\n"
         "  --trusted-proxy ADDRESS  the front server: its X-Real-IP or X-Forwarded-For\n"
         "                     names the client (runs are shared fairly between clients)\n"
         "  --quiet            no line per run on standard error\n"
         "  --print-limits     print the values a front server must agree with (for the\n"
         "                     service these options describe), NAME value a line, and exit\n";
}

// A run waits at most one time limit for a slot and runs at most one more;
// the front server waits 10 s beyond that for its answer. Its own idle
// connections to the service are closed a second before the service would.
std::string front_server_limits(const service_options& options) {
  const auto line = [](std::string_view name, long long value) {
    return std::string(name) + " " + std::to_string(value) + "\n";
  };
  return line("MAX_BODY_BYTES", static_cast<long long>(options.max_request_bytes)) +
         line("RETRY_AFTER", kRetryAfterSeconds) +
         line("UPSTREAM_KEEPALIVE_TIMEOUT", options.keep_alive.count() - 1) +
         line("RUN_READ_TIMEOUT", 2 * options.time_limit.count() + 10) +
         line("RETENTION", options.retention.count());
}

}  // namespace polygons::web
