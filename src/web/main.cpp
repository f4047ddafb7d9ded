// polygons-web: the web front end of the simulation program.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "web/options.hpp"
#include "web/plot_template.hpp"
#include "web/service.hpp"

namespace {

namespace fs = std::filesystem;
using polygons::web::service_options;

// The program beside this one; the template where the installation puts it
// relative to this program, or, for a program in the build tree, the source
// tree's.
service_options default_options() {
  service_options options;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path self_dir = ec ? fs::path(".") : self.parent_path();
  options.program = self_dir / "polygons";
  const fs::path installed = (self_dir / POLYGONS_WEB_INSTALLED_TEMPLATE).lexically_normal();
  options.template_path =
      fs::exists(installed, ec) ? installed : fs::path(POLYGONS_WEB_SOURCE_TEMPLATE);
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  service_options options = default_options();
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool print_limits = std::erase(args, "--print-limits") > 0;
  bool help = false;
  std::string error;
  if (!polygons::web::parse_options(args, options, help, error)) {
    std::fprintf(stderr, "polygons-web: %s\n%s", error.c_str(),
                 polygons::web::usage_text().c_str());
    return 2;
  }
  if (help) {
    std::fputs(polygons::web::usage_text().c_str(), stdout);
    return 0;
  }
  if (print_limits) {
    std::fputs(polygons::web::front_server_limits(options).c_str(), stdout);
    return 0;
  }
  if (::access(options.program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "polygons-web: cannot run the program %s\n", options.program.c_str());
    return 2;
  }
  auto plot_template = polygons::web::read_template(options.template_path, error);
  if (!plot_template) {
    std::fprintf(stderr, "polygons-web: %s\n", error.c_str());
    return 2;
  }

  // SIGINT and SIGTERM stop the service in order: runs in progress and waiting
  // are stopped, and every request in progress is answered.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  polygons::web::web_service service(options, std::move(*plot_template));
  if (service.calibrate(error)) {
    std::fprintf(stderr, "polygons-web: run costs measured: %s\n",
                 polygons::web::costs_text(service.costs()).c_str());
  } else {
    std::fprintf(stderr, "polygons-web: run costs not measured (%s); taken as %s\n",
                 error.c_str(), polygons::web::costs_text(service.costs()).c_str());
  }
  int port = service.bind();
  if (port < 0) {
    std::fprintf(stderr, "polygons-web: cannot listen on %s port %d\n", options.host.c_str(),
                 options.port);
    return 3;
  }
  std::printf("polygons-web: listening on http://%s:%d/\n", options.host.c_str(), port);
  std::fflush(stdout);

  std::thread waiter([&service, stop_signals] {
    int received = 0;
    sigwait(&stop_signals, &received);
    service.stop();
  });
  bool served = service.serve();
  // Wakes the waiter when the service ended by itself.
  if (!served) pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return served ? 0 : 3;
}
