// The web service's estimate of a run beside the run's measured time, for a
// table of run shapes from few trials of many classes to the largest runs the
// time limit takes, after the service's own calibration. Prints one line per
// shape (the median of the repeats) and the ratios' range; the estimate is
// meant to stay within a factor 2 of the measured time.
//
// Usage: web_cost_bench [--program PATH] [--time-limit S] [--repeat N]

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "web/plot_template.hpp"
#include "web/run_executor.hpp"

namespace {

namespace fs = std::filesystem;
using namespace polygons::web;

struct bench_options {
  fs::path program = POLYGONS_PROGRAM;
  std::chrono::seconds time_limit{10};
  int repeat = 3;
};

bool parse(int argc, char** argv, bench_options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--program") {
      options.program = fs::absolute(argv[i + 1]);
    } else if (name == "--time-limit") {
      options.time_limit = std::chrono::seconds(std::max(1, std::atoi(argv[i + 1])));
    } else if (name == "--repeat") {
      options.repeat = std::max(1, std::atoi(argv[i + 1]));
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

std::vector<run_request> shapes(std::chrono::seconds limit, const run_costs& costs) {
  auto largest = [&](int sides, int classes) {
    return static_cast<double>(largest_trials(sides, classes, limit, costs));
  };
  return {
      {3, 1.0, 1000, 1, 10000, 0},
      {3, 1.0, 1000, 1, 10000, 1},
      {3, 1.0, 1e5, 1, 0, 0},
      {3, 1.0, 1e6, 1, 0, 0},
      {3, 1.0, largest(3, 0), 1, 0, 0},
      {10, 1.0, 1e7, 1, 0, 0},
      {100, 1.0, 1e6, 1, 0, 0},
      {100, 1.0, largest(100, 0), 1, 0, 0},
      {1000, 1.0, 1e5, 1, 0, 0},
      {1000, 1.0, largest(1000, 0), 1, 0, 0},
      {10000, 1.0, 1e4, 1, 0, 0},
      {10000, 1.0, largest(10000, 0), 1, 0, 0},
      {10000, 1.0, std::floor(largest(10000, 10000) / 10), 1, 10000, 0},
  };
}

}  // namespace

int main(int argc, char** argv) {
  bench_options bench;
  if (!parse(argc, argv, bench)) {
    std::fprintf(stderr, "usage: web_cost_bench [--program PATH] [--time-limit S] [--repeat N]\n");
    return 2;
  }
  std::string error;
  auto plot_template = read_template(fs::path(POLYGONS_SOURCE_DIR) / "examples/template.gp", error);
  char scratch_name[] = "/tmp/web_cost_bench.XXXXXX";
  if (!plot_template || !::mkdtemp(scratch_name)) {
    std::fprintf(stderr, "web_cost_bench: %s\n", plot_template ? "no scratch directory" : error.c_str());
    return 1;
  }
  service_options options;
  options.program = bench.program;
  options.workdir = scratch_name;
  options.time_limit = bench.time_limit;
  options.log_runs = false;
  int status = 0;
  {
    run_executor executor(options, *plot_template);
    if (!executor.calibrate(error)) {
      std::fprintf(stderr, "web_cost_bench: calibration failed: %s\n", error.c_str());
      status = 1;
    } else {
      const run_costs costs = executor.costs();
      std::printf("costs measured: %s\ntime limit %lld s, median of %d runs each\n",
                  costs_text(costs).c_str(), static_cast<long long>(bench.time_limit.count()),
                  bench.repeat);
      std::printf("%6s %10s %7s %4s %10s %10s %7s\n", "sides", "trials", "classes", "show",
                  "estimate", "measured", "ratio");
      double low = INFINITY, high = 0;
      for (const run_request& shape : shapes(bench.time_limit, costs)) {
        std::vector<double> times;
        for (int i = 0; i < bench.repeat; ++i) {
          run_outcome outcome = executor.run(shape, {}, results_need::required);
          if (outcome.result == run_outcome::state::finished) times.push_back(outcome.seconds);
        }
        const double estimate = estimated_seconds(shape, costs);
        if (times.empty()) {
          std::printf("%6d %10.0f %7d %4d %9.3fs    (failed)\n", shape.sides, shape.trials,
                      shape.classes, shape.show, estimate);
          status = 1;
          continue;
        }
        std::sort(times.begin(), times.end());
        const double measured = times[times.size() / 2];
        low = std::min(low, measured / estimate);
        high = std::max(high, measured / estimate);
        std::printf("%6d %10.0f %7d %4d %9.3fs %9.3fs %7.2f\n", shape.sides, shape.trials,
                    shape.classes, shape.show, estimate, measured, measured / estimate);
      }
      std::printf("measured / estimate from %.2f to %.2f (%s a factor 2)\n", low, high,
                  low >= 0.5 && high <= 2 ? "within" : "NOT within");
    }
  }
  std::error_code ignored;
  fs::remove_all(scratch_name, ignored);
  return status;
}
