#include "graph/graph_job.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.hpp"

namespace polygons::graph {
namespace {

namespace fs = std::filesystem;
using polygons::testing::directory_entries;
using polygons::testing::read_file;

const std::vector<double> kCentre = {0.5, 1.5, 2.5};
const std::vector<double> kResultZ = {0.1, 0.0, 0.5, 0.1, 0.4, 0.6};

std::string example_template() { return polygons::testing::example_file("template.gp"); }

bool is_png(const fs::path& path) {
  return read_file(path).starts_with("\x89PNG\r\n\x1a\n");
}

// Each test runs in a fresh directory of its own, under a umask that would
// leave a new image unreadable for others.
class GraphJob : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_dir_ = fs::current_path();
    fs::current_path(root_);
    previous_umask_ = ::umask(077);
  }
  void TearDown() override {
    ::umask(previous_umask_);
    fs::current_path(previous_dir_);
  }

  // Runs the graph job for `args` on the small histogram; returns the listing.
  std::string run(const std::vector<std::string>& args, const std::string& template_text,
                  int ishow = 0) {
    std::istringstream in(template_text);
    text::StringSink out;
    www_graph(working_directory(args), ishow, 1, 3, 2, kCentre, kResultZ, in, out);
    return out.text();
  }

  void expect_only_readable_chart(const fs::path& dir) {
    EXPECT_EQ(directory_entries(dir), std::set<std::string>{"gnu.png"}) << dir;
    EXPECT_TRUE(is_png(dir / "gnu.png")) << dir;
    struct stat info {};
    ASSERT_EQ(::stat((dir / "gnu.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0444, 0444u) << "readable for all";
  }

  polygons::testing::scratch_dir scratch_{"graph"};
  const fs::path root_ = scratch_.path();
  fs::path previous_dir_;
  mode_t previous_umask_ = 0;
};

TEST_F(GraphJob, NoArgumentDrawsIntoTmpWhileBothFilesAreOpen) {
  fs::create_directory("tmp");
  // gnuplot reports the data it read; the scratch files must be complete then.
  const std::string listing =
      run({}, example_template() + "set print \"./tmp/seen.txt\"\nprint GPVAL_DATA_Y_MAX\n", 1);
  EXPECT_NE(listing.find(" n_min, _max:       1       3\n"), std::string::npos);
  EXPECT_EQ(read_file("tmp/seen.txt"), "0.5\n");
  fs::remove("tmp/seen.txt");
  expect_only_readable_chart("tmp");
  EXPECT_EQ(directory_entries("."), std::set<std::string>{"tmp"});
}

TEST_F(GraphJob, OneArgumentGetsItsOwnDirectory) {
  fs::create_directories("tmp/abc");
  run({"abc  "}, example_template());
  expect_only_readable_chart("tmp/abc");
  EXPECT_EQ(directory_entries("tmp"), std::set<std::string>{"abc"});
}

TEST_F(GraphJob, TwoArgumentsUseTmp) {
  fs::create_directory("tmp");
  run({"abc", "def"}, example_template());
  expect_only_readable_chart("tmp");
}

TEST_F(GraphJob, EmptyArgumentNamesTmpWithTwoSlashes) {
  fs::create_directory("tmp");
  EXPECT_EQ(working_directory({""}), "./tmp//");
  run({""}, example_template());
  expect_only_readable_chart("tmp");
}

TEST_F(GraphJob, ImageOfAnEarlierRunIsReplaced) {
  fs::create_directory("tmp");
  std::ofstream("tmp/gnu.png") << "old";
  ::chmod("tmp/gnu.png", 0600);
  run({}, example_template());
  expect_only_readable_chart("tmp");
}

TEST_F(GraphJob, MissingDirectoryEndsTheRunNamingTheDataFile) {
  try {
    run({"x"}, example_template());
    FAIL() << "the run went on";
  } catch (const text::FatalError& e) {
    EXPECT_STREQ(e.what(),
                 "cannot open data file ./tmp/x/gnudata.dat (unit 321): No such file or directory");
    EXPECT_EQ(e.status(), text::kExitIoFailure);
  }
  EXPECT_EQ(directory_entries("."), std::set<std::string>{});
}

TEST_F(GraphJob, NoDirectiveLeavesBothFiles) {
  fs::create_directory("tmp");
  std::istringstream in("set key\n");
  text::StringSink out;
  EXPECT_THROW(www_graph("./tmp/", 0, 1, 3, 2, kCentre, kResultZ, in, out), text::RunEnded);
  EXPECT_EQ(out.text(), " *** Error: No plotting directive ***\n");
  EXPECT_EQ(directory_entries("tmp"), (std::set<std::string>{"gnudata.dat", "gnuload.dat"}));
  EXPECT_EQ(read_file("tmp/gnuload.dat"), "set output \"./tmp/gnu.png\"\nset key\n");
  EXPECT_TRUE(read_file("tmp/gnudata.dat").starts_with("#Result vectors  2\n"));
}

// Names that a shell, or gnuplot itself, would take as commands or split.
TEST_F(GraphJob, HostileDirectoryNamesArePlainNames) {
  const std::string names[] = {
      "with blank",       "quote\"d",          "single'q",    "semi;touch stray1",
      "$(touch stray2)",  "`touch stray3`",    "back\\slash", "x | touch stray4 #",
      "new\nline\ttab",   "-dash",             "@at",         "/leading slash",
  };
  for (const std::string& name : names) {
    const fs::path dir = fs::path("tmp") / fs::path(name).relative_path();
    fs::create_directories(dir);
    run({name}, example_template());
    expect_only_readable_chart(dir);
    EXPECT_EQ(directory_entries("."), std::set<std::string>{"tmp"}) << name;
    fs::remove_all("tmp");
  }
}

TEST(WorkingDirectory, FromTheArguments) {
  const struct {
    std::vector<std::string> args;
    std::string workdir;
  } cases[] = {
      {{}, "./tmp/"},
      {{"abc"}, "./tmp/abc/"},
      {{"abc   "}, "./tmp/abc/"},
      {{"  abc"}, "./tmp/  abc/"},
      {{"a", "b"}, "./tmp/"},
      {{"..", ".."}, "./tmp/"},
      {{""}, "./tmp//"},
      {{"/abs"}, "./tmp//abs/"},
      {{"a/b"}, "./tmp/a/b/"},
      {{"..a"}, "./tmp/..a/"},
      {{"a..b/..."}, "./tmp/a..b/.../"},
      {{std::string(494, 'x')}, "./tmp/" + std::string(494, 'x') + "/"},
      {{std::string(494, 'x') + std::string(100, ' ')}, "./tmp/" + std::string(494, 'x') + "/"},
  };
  for (const auto& c : cases) EXPECT_EQ(working_directory(c.args), c.workdir);
}

TEST(WorkingDirectory, RefusesWaysOutOfTmpAndCutPaths) {
  const std::string refused[] = {"..", "../x", "x/..", "a/../b", "a//../b", "..  ",
                                 std::string(495, 'x')};
  for (const std::string& arg : refused) {
    try {
      working_directory({arg});
      ADD_FAILURE() << "accepted " << arg;
    } catch (const text::FatalError& e) {
      EXPECT_EQ(e.status(), text::kExitBadInput) << arg;
    }
  }
  try {
    working_directory({"a/../b"});
  } catch (const text::FatalError& e) {
    EXPECT_STREQ(e.what(),
                 "the working directory \"a/../b\" has a \"..\" component, which would lead "
                 "out of ./tmp/");
  }
}

TEST_F(GraphJob, MissingPlotterIsReportedAndTheRunGoesOn) {
  ::testing::internal::CaptureStderr();
  run_plotter("./no-such-plotter", "script");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "polygons: cannot run ./no-such-plotter: No such file or directory; gnu.png may be "
            "missing or out of date\n");
}

// The program ignores SIGPIPE for itself; gnuplot must start with the default.
TEST_F(GraphJob, PlotterStartsWithDefaultSigpipeAndIsWaitedFor) {
  std::ofstream("probe.sh") << "sleep 0.2\ngrep '^SigIgn:' /proc/$$/status > ignored.txt\n";
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  run_plotter("/bin/sh", "probe.sh");
  std::signal(SIGPIPE, previous);
  const std::string line = read_file("ignored.txt");
  ASSERT_TRUE(line.starts_with("SigIgn:")) << "the run did not wait for the plotter";
  const unsigned long long ignored = std::stoull(line.substr(7), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << line;
}

TEST_F(GraphJob, MakeReadableForAllKeepsTheOtherBits) {
  std::ofstream("image") << "x";
  ::chmod("image", 0710);
  make_readable_for_all("image");
  struct stat info {};
  ASSERT_EQ(::stat("image", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0754u);

  ::testing::internal::CaptureStderr();
  make_readable_for_all("missing.png");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "polygons: cannot make missing.png readable for all: No such file or directory\n");
}

}  // namespace
}  // namespace polygons::graph
