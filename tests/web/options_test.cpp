#include "web/options.hpp"

#include <gtest/gtest.h>

namespace polygons::web {
namespace {

TEST(Options, SetsEachValueInEitherForm) {
  service_options options;
  bool help = true;
  std::string error;
  ASSERT_TRUE(parse_options({"--port", "9000", "--host=0.0.0.0", "--program", "/p",
                             "--template=/t.gp", "--workdir", "/w", "--time-limit", "5",
                             "--retention=30", "--disk-limit", "64", "--max-runs", "3", "--queue", "0", "--threads",
                             "8", "--server-name", "Example.org,www.example.org",
                             "--server-name=[::1]", "--trusted-proxy", "127.0.0.1", "--quiet"},
                            options, help, error))
      << error;
  EXPECT_FALSE(help);
  EXPECT_EQ(options.port, 9000);
  EXPECT_EQ(options.host, "0.0.0.0");
  EXPECT_EQ(options.program, "/p");
  EXPECT_EQ(options.template_path, "/t.gp");
  EXPECT_EQ(options.workdir, "/w");
  EXPECT_EQ(options.time_limit.count(), 5);
  EXPECT_EQ(options.retention.count(), 30);
  EXPECT_EQ(options.max_disk_bytes, 64u << 20);
  EXPECT_EQ(options.max_running, 3u);
  EXPECT_EQ(options.max_waiting, 0u);
  EXPECT_EQ(options.threads, 8u);
  EXPECT_FALSE(options.log_runs);
  EXPECT_EQ(options.server_names,
            (std::vector<std::string>{"Example.org", "www.example.org", "[::1]"}))
      << "the first --server-name replaces the loopback names, the next adds to it";
  EXPECT_EQ(options.trusted_proxy, "127.0.0.1");
}

TEST(Options, RefusesUnknownMissingAndOutOfRangeValues) {
  const std::vector<std::vector<std::string>> cases = {
      {"--colour", "red"}, {"--port"},         {"--port", "65536"}, {"--port", "80x"},
      {"--time-limit", "0"}, {"--retention", "-5"}, {"--threads", "1"}, {"--disk-limit", "0"}, {"--program="},
      {"--server-name", "a,,b"}, {"--server-name", "a b"}, {"--server-name="},
      {"--trusted-proxy="}, {"--trusted-proxy", "localhost"},
  };
  for (const auto& args : cases) {
    service_options options;
    bool help = false;
    std::string error;
    EXPECT_FALSE(parse_options(args, options, help, error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(Options, HelpIsRecognised) {
  service_options options;
  bool help = false;
  std::string error;
  EXPECT_TRUE(parse_options({"--help"}, options, help, error));
  EXPECT_TRUE(help);
}

}  // namespace
}  // namespace polygons::web
