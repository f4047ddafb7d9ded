// The service over HTTP on a loopback port: stand-in programs check what a run
// receives and how limits are kept; the real program checks whole runs.

#include "web/service.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <regex>
#include <sstream>
#include <thread>

#include "web/run_dir.hpp"
#include "web/spawn.hpp"
#include "web_test_support.hpp"

namespace polygons::web {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::scratch_dir;
using testing::write_script;

const std::string kPngSignature = "\x89PNG\r\n\x1a\n";

std::string test_template() {
  fs::path shipped = fs::path(POLYGONS_SOURCE_DIR) / "examples" / "template.gp";
  fs::path own = fs::path(POLYGONS_WEB_TEST_DATA) / "template.gp";
  std::string error;
  auto text = read_template(fs::exists(shipped) ? shipped : own, error);
  return text ? *text : std::string();
}

// A service on a free loopback port for the length of one test.
class served_service {
 public:
  explicit served_service(service_options options, std::string plot_template = test_template())
      : service_(adjusted(std::move(options)), std::move(plot_template)) {
    port_ = service_.bind();
    if (port_ > 0) thread_ = std::thread([this] { service_.serve(); });
    for (int i = 0; i < 500 && port_ > 0 && !service_.running(); ++i) {
      std::this_thread::sleep_for(10ms);
    }
  }
  ~served_service() {
    service_.stop();
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  std::unique_ptr<httplib::Client> client() const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port_);
    c->set_read_timeout(120, 0);
    return c;
  }

 private:
  static service_options adjusted(service_options options) {
    options.host = "127.0.0.1";
    options.port = 0;
    options.log_runs = false;
    return options;
  }
  web_service service_;
  int port_ = -1;
  std::thread thread_;
};

std::string api_query(const run_request& r) {
  return "/api/run?sides=" + std::to_string(r.sides) + "&radius=" + real_text(r.radius) +
         "&trials=" + real_text(r.trials) + "&seed=" + std::to_string(r.seed) +
         "&classes=" + std::to_string(r.classes) + "&show=" + std::to_string(r.show);
}

// The run's id from the "chart: /runs/<id>/gnu.png" line of an API answer.
std::string chart_path_in(const std::string& body) {
  std::smatch match;
  static const std::regex line("(^|\n)chart: (/runs/([0-9a-f]{32})/gnu\\.png)\n$");
  return std::regex_search(body, match, line) ? match[2].str() : std::string();
}

std::string without_chart_line(const std::string& body) {
  auto at = body.rfind("chart: ");
  return at == std::string::npos ? body : body.substr(0, at);
}

// Drops the lines that depend on the time of the run: the stamps, the end
// line, the elapsed-time line (or its month warning) and the blank line
// before them.
std::string without_clock_lines(const std::string& report) {
  static const std::regex clock_line(
      R"(^( \d{4}-\d\d-\d\d UTC[+-]\d{4}.*| +\d+d \d\dh \d\dm .*s| %Wrn Different years.*|  )$)");
  std::istringstream in(report);
  std::string line, kept;
  while (std::getline(in, line)) {
    if (!std::regex_match(line, clock_line)) kept += line + "\n";
  }
  return kept;
}

// A run of the program by hand, in a directory of its own, as the service
// would start it.
struct direct_run {
  std::string report;
  bool chart = false;
};

direct_run run_directly(const run_request& request) {
  scratch_dir dir;
  std::string id = new_run_id();
  fs::create_directories(dir.path() / "tmp" / id);
  spawn_request child;
  child.program = POLYGONS_BINARY;
  child.args = {id};
  child.cwd = dir.path();
  child.environment = environment_without({"USER"});
  child.input = parameter_lines(request) + test_template();
  spawn_result result = run_child(child);
  return {result.out, fs::exists(dir.path() / "tmp" / id / "gnu.png")};
}

// Why whole runs cannot be checked yet, or empty when they can.
std::string program_incomplete() {
  if (!fs::exists(POLYGONS_BINARY)) return "the program is not built";
  direct_run run = run_directly(run_request{3, 1.0, 1000, 1, 0, 0});
  if (run.report.find(" Mode x, y,") == std::string::npos) {
    return "the program does not write the \" Mode x, y,\" line yet";
  }
  if (!run.chart) return "the program does not draw the chart yet";
  return "";
}

#define SKIP_UNLESS_PROGRAM_COMPLETE()                        \
  if (std::string why = program_incomplete(); !why.empty()) { \
    GTEST_SKIP() << why;                                      \
  }

class Service : public ::testing::Test {
 protected:
  service_options options_with(const fs::path& program) {
    service_options options;
    options.program = program;
    options.workdir = scratch_.path();
    return options;
  }
  fs::path script(const std::string& body) {
    return write_script(scratch_.path() / ("program" + std::to_string(++scripts_) + ".sh"), body);
  }
  std::vector<std::string> run_dirs() const {
    std::vector<std::string> ids;
    for (const auto& entry : fs::directory_iterator(scratch_.path() / "tmp")) {
      if (is_run_id(entry.path().filename().string())) ids.push_back(entry.path().filename());
    }
    return ids;
  }
  scratch_dir scratch_;
  int scripts_ = 0;
};

TEST_F(Service, ServesTheFormAndRefusesUnknownPaths) {
  served_service service(options_with(script("cat\n")));
  auto client = service.client();
  auto page = client->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<form method=\"post\" action=\"/run\">"), std::string::npos);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");

  for (const std::string& path : std::vector<std::string>{"/nothing", "/runs/abc/gnu.png", "/runs/../../etc/passwd",
                           "/runs/%2e%2e/%2e%2e/etc/passwd", "/tmp/gnu.png",
                           "/runs/" + std::string(32, 'a') + "/gnu.png",
                           "/runs/" + std::string(32, 'a') + "/gnudata.dat"}) {
    auto res = client->Get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 404) << path;
  }
}

TEST_F(Service, RefusesBadParametersNamingTheField) {
  served_service service(options_with(script("echo should not run\n")));
  auto client = service.client();
  const std::pair<std::string, std::string> cases[] = {
      {"sides", "sides=0&radius=1&trials=1e6&seed=1&classes=0"},
      {"radius", "sides=3&radius=1%2C5&trials=1e6&seed=1&classes=0"},
      {"trials", "sides=3&radius=1&trials=1e6%204711&seed=1&classes=0"},
      {"seed", "sides=3&radius=1&trials=1e6&seed=1%2F&classes=0"},
      {"classes", "sides=3&radius=1&trials=1e6&seed=1&classes=0%0A5"},
      {"show", "sides=3&radius=1&trials=1e6&seed=1&classes=0&show=2"},
      {"trials", "sides=3&radius=1&seed=1&classes=0"},
  };
  for (const auto& [field, query] : cases) {
    auto api = client->Get("/api/run?" + query);
    ASSERT_TRUE(api) << query;
    EXPECT_EQ(api->status, 400) << query;
    EXPECT_EQ(api->body.rfind(field + ":", 0), 0u) << api->body;

    auto page = client->Post("/run", query, "application/x-www-form-urlencoded");
    ASSERT_TRUE(page) << query;
    EXPECT_EQ(page->status, 400) << query;
    EXPECT_NE(page->body.find("<p class=\"error\" id=\"error\" role=\"alert\">" + field + ":"),
              std::string::npos)
        << query;
  }
  EXPECT_TRUE(run_dirs().empty());
}

TEST_F(Service, RefusesOversizedRequests) {
  service_options options = options_with(script("cat\n"));
  options.max_request_bytes = 4096;
  served_service service(options);
  auto res = service.client()->Post("/run", std::string(20000, 'a'),
                                    "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 413);
}

TEST_F(Service, StartsTheProgramWithTheRunIdTheParametersAndTheTemplateWithoutUser) {
  ::setenv("USER", "someone", 1);
  served_service service(options_with(script(
      "echo \"args=$# id=$1 user=${USER-unset} pwd=$(pwd)\"\n"
      "test -d \"tmp/$1\" && echo own-directory\n"
      "cat\n")));
  auto res = service.client()->Get("/api/run?sides=5&radius=2.5&trials=1.5E%2B06&seed=-3&"
                                   "classes=12&show=1");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200) << res->body;
  std::istringstream lines(res->body);
  std::string first;
  std::getline(lines, first);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(first, match,
                               std::regex("args=1 id=([0-9a-f]{32}) user=unset pwd=(.*)")))
      << first;
  EXPECT_EQ(match[2].str(), fs::canonical(scratch_.path()).string());
  std::string rest((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rest, "own-directory\n5\n2.5\n1500000 -3\n12\n1\n" + test_template());
  EXPECT_TRUE(run_dirs().empty()) << "a run without a chart leaves nothing behind";
}

TEST_F(Service, ServesTheChartOfARunUntilItsRetentionEnds) {
  service_options options = options_with(
      script("cat >/dev/null; printf '\\211PNG\\r\\n\\032\\nrest' > tmp/$1/gnu.png; echo done\n"));
  options.retention = 1s;
  served_service service(options);
  auto client = service.client();
  auto res = client->Get(api_query(run_request{}));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  std::string chart = chart_path_in(res->body);
  ASSERT_FALSE(chart.empty()) << res->body;
  EXPECT_EQ(res->get_header_value("Link"), "<" + chart + ">; rel=\"chart\"");

  auto image = client->Get(chart);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->status, 200);
  EXPECT_EQ(image->get_header_value("Content-Type"), "image/png");
  EXPECT_EQ(image->body, kPngSignature + "rest");

  for (int i = 0; i < 100 && !run_dirs().empty(); ++i) std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(run_dirs().empty()) << "run directory outlived its retention";
  auto gone = client->Get(chart);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->status, 404);
}

TEST_F(Service, StopsARunAtTheTimeLimitAndTellsTheUser) {
  service_options options =
      options_with(script("echo \"$$\" > ../started.pid; echo partial; exec sleep 30\n"));
  options.time_limit = 1s;
  served_service service(options);
  auto client = service.client();
  auto api = client->Get(api_query(run_request{}));
  ASSERT_TRUE(api);
  EXPECT_EQ(api->status, 504);
  EXPECT_NE(api->body.find("stopped after 1 seconds"), std::string::npos) << api->body;
  EXPECT_EQ(api->body.rfind("partial\n", 0), 0u);

  auto page = client->Post("/run", "sides=3&radius=1&trials=1e6&seed=1&classes=0",
                           "application/x-www-form-urlencoded");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 504);
  EXPECT_NE(page->body.find("id=\"notice\""), std::string::npos);
  EXPECT_TRUE(run_dirs().empty());
}

TEST_F(Service, AnswersBusyWhenSlotsAndQueueAreFull) {
  service_options options =
      options_with(script("cat >/dev/null; touch tmp/$1/started; sleep 2; echo slow\n"));
  options.max_running = 1;
  options.max_waiting = 0;
  served_service service(options);
  auto first = std::async(std::launch::async,
                          [&] { return service.client()->Get(api_query(run_request{})); });
  auto started = [&] {
    for (const std::string& id : run_dirs()) {
      if (fs::exists(scratch_.path() / "tmp" / id / "started")) return true;
    }
    return false;
  };
  for (int i = 0; i < 500 && !started(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(started());

  auto busy = service.client()->Get(api_query(run_request{}));
  ASSERT_TRUE(busy);
  EXPECT_EQ(busy->status, 503);
  EXPECT_EQ(busy->get_header_value("Retry-After"), "10");
  auto busy_page = service.client()->Post("/run", "sides=3&radius=1&trials=1e6&seed=1&classes=0",
                                          "application/x-www-form-urlencoded");
  ASSERT_TRUE(busy_page);
  EXPECT_EQ(busy_page->status, 503);

  auto done = first.get();
  ASSERT_TRUE(done);
  EXPECT_EQ(done->status, 200);
  EXPECT_EQ(done->body, "slow\n");
}

TEST_F(Service, PageSaysSoWhenARunDrewNoChart) {
  served_service service(options_with(script("cat >/dev/null; echo '<report>'\n")));
  auto res = service.client()->Post("/run", "sides=3&radius=1&trials=1e6&seed=1&classes=0",
                                    "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_NE(res->body.find("<pre id=\"report\">&lt;report&gt;\n</pre>"), std::string::npos);
  EXPECT_NE(res->body.find("drew no chart"), std::string::npos);
  EXPECT_EQ(res->body.find("<img"), std::string::npos);
}

TEST_F(Service, ReportsAProgramThatFails) {
  served_service service(options_with(script("echo 'polygons: bad input' >&2; exit 2\n")));
  auto res = service.client()->Get(api_query(run_request{}));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 500);
  EXPECT_NE(res->body.find("polygons: bad input"), std::string::npos);
  EXPECT_NE(res->body.find("status 2"), std::string::npos);
}

TEST_F(Service, RunMatchesADirectRunAndDrawsAChart) {
  SKIP_UNLESS_PROGRAM_COMPLETE();
  served_service service(options_with(POLYGONS_BINARY));
  auto client = service.client();
  const run_request request{5, 1.0, 1e5, 4711, 0, 0};
  auto res = client->Get(api_query(request));
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(without_clock_lines(without_chart_line(res->body)),
            without_clock_lines(run_directly(request).report));
  EXPECT_NE(res->body.find(" N. of trials (N),              1.000E+05| = 100000; seed, 4711"),
            std::string::npos);

  auto chart = client->Get(chart_path_in(res->body));
  ASSERT_TRUE(chart);
  EXPECT_EQ(chart->status, 200);
  EXPECT_EQ(chart->body.substr(0, kPngSignature.size()), kPngSignature);

  ASSERT_EQ(run_dirs().size(), 1u);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(scratch_.path() / "tmp" / run_dirs()[0])) {
    left.push_back(entry.path().filename());
  }
  EXPECT_EQ(left, std::vector<std::string>{"gnu.png"});
}

TEST_F(Service, FormRunShowsTheReportAndTheChart) {
  SKIP_UNLESS_PROGRAM_COMPLETE();
  served_service service(options_with(POLYGONS_BINARY));
  auto client = service.client();
  auto res = client->Post("/run", "sides=4&radius=2&trials=2000&seed=9&classes=8&show=1",
                          "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_NE(res->body.find("<pre id=\"report\">"), std::string::npos);
  EXPECT_NE(res->body.find(" N. of trials (N),              2.000E+03| = 2000; seed, 9"),
            std::string::npos);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(res->body, match,
                                std::regex("<img id=\"chart\" src=\"(/runs/[0-9a-f]{32}/gnu.png)\"")));
  auto chart = client->Get(match[1].str());
  ASSERT_TRUE(chart);
  EXPECT_EQ(chart->status, 200);
}

TEST_F(Service, ConcurrentRunsEachGetTheirOwnReport) {
  SKIP_UNLESS_PROGRAM_COMPLETE();
  service_options options = options_with(POLYGONS_BINARY);
  options.max_running = 2;
  served_service service(options);
  const run_request requests[] = {{3, 1.0, 2e5, 11, 0, 0}, {7, 0.5, 1e5, 22, 9, 1}};
  std::vector<std::future<httplib::Result>> answers;
  for (const run_request& request : requests) {
    answers.push_back(std::async(std::launch::async, [&service, request] {
      return service.client()->Get(api_query(request));
    }));
  }
  std::set<std::string> charts;
  for (std::size_t i = 0; i < std::size(requests); ++i) {
    auto res = answers[i].get();
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(without_clock_lines(without_chart_line(res->body)),
              without_clock_lines(run_directly(requests[i]).report))
        << "run " << i;
    charts.insert(chart_path_in(res->body));
  }
  EXPECT_EQ(charts.size(), 2u);
}

}  // namespace
}  // namespace polygons::web
