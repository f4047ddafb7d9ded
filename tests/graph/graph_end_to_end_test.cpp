// Whole runs of the built program that end in a chart drawn by gnuplot.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/program_runner.hpp"
#include "worked_run_data.hpp"

namespace {

namespace fs = std::filesystem;
using polygons::testing::example_file;
using polygons::testing::directory_entries;
using polygons::testing::read_file;
using polygons::testing::run_result;

const std::string kParameters = "3\n1\n1000 1\n11\n1\n";

class GraphEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(work()); }

  // The directory the program runs in; input and output files lie beside it.
  fs::path work() const { return root_ / "work"; }

  // Runs the program in work() with `args` as its argument vector (no shell),
  // `input` on standard input and USER set.
  run_result run(const std::vector<std::string>& args, const std::string& input) {
    polygons::testing::run_request request;
    request.directory = work();
    request.streams = root_;
    request.input = input;
    request.args = args;
    return polygons::testing::run_polygons(request);
  }

  void expect_only_readable_chart(const fs::path& dir) {
    EXPECT_EQ(directory_entries(dir), std::set<std::string>{"gnu.png"}) << dir;
    EXPECT_TRUE(read_file(dir / "gnu.png").starts_with("\x89PNG\r\n\x1a\n")) << dir;
    struct stat info {};
    ASSERT_EQ(::stat((dir / "gnu.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0444, 0444u) << "readable for all";
  }

  polygons::testing::scratch_dir scratch_{"graph-e2e"};
  const fs::path root_ = scratch_.path();
};

TEST_F(GraphEndToEnd, WorkedRunListsTheTableAndDrawsTheChart) {
  fs::create_directory(work() / "tmp");
  const run_result r = run({}, kParameters + example_file("template.gp"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" Mode x, y,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" n_min, _max:       1      11\n"
                       "                   t,        z('s):\n"
                       "      1     0.2361887      1.0584755E-02   0.000000    \n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\n     11      4.959964      0.4572614      0.9950000    \n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" End"), std::string::npos) << "the end report follows the chart";
  expect_only_readable_chart(work() / "tmp");
}

TEST_F(GraphEndToEnd, ArgumentsChooseTheWorkingDirectory) {
  const struct {
    std::vector<std::string> args;
    fs::path chart_dir;
  } cases[] = {
      {{"abc"}, "tmp/abc"},
      {{"abc", "def"}, "tmp"},
      {{""}, "tmp"},
      {{"a b;touch stray1"}, "tmp/a b;touch stray1"},
      {{"$(touch stray2)`touch stray3`"}, "tmp/$(touch stray2)`touch stray3`"},
      {{"q\"uo'te\\"}, "tmp/q\"uo'te\\"},
  };
  for (const auto& c : cases) {
    fs::create_directories(work() / c.chart_dir);
    const run_result r = run(c.args, kParameters + example_file("template.gp"));
    EXPECT_EQ(r.status, 0) << c.chart_dir << r.err;
    expect_only_readable_chart(work() / c.chart_dir);
    EXPECT_EQ(directory_entries(work()), std::set<std::string>{"tmp"});
    EXPECT_EQ(directory_entries(root_), (std::set<std::string>{"err.txt", "input.txt", "out.txt", "work"}));
    fs::remove_all(work() / "tmp");
  }
}

TEST_F(GraphEndToEnd, MissingTmpEndsTheRunNamingTheDataFile) {
  const run_result r = run({}, kParameters + example_file("template.gp"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("./tmp/gnudata.dat"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find(" End"), std::string::npos) << r.out;
  EXPECT_EQ(directory_entries(work()), std::set<std::string>{});
}

TEST_F(GraphEndToEnd, FailedGnuplotEndsTheRunNormallyAndSaysSo) {
  const struct {
    const char* name;
    std::string template_text;
    std::string line;  // on standard error
  } cases[] = {
      {"a broken template", "set terminal png\nset no_such_setting\nplot\n",
       "polygons: gnuplot exited with status 1; gnu.png may be missing or out of date\n"},
      {"gnuplot killed", "set terminal png\nsystem \"kill -KILL $PPID\"\nplot\n",
       "polygons: gnuplot was ended by signal 9; gnu.png may be missing or out of date\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(work() / "tmp");
    const run_result r = run({}, kParameters + c.template_text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.ends_with(c.line)) << r.err;
    EXPECT_NE(r.out.find(" Mode x, y,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" End"), std::string::npos) << "the end report follows\n" << r.out;
    const std::set<std::string> files = directory_entries(work() / "tmp");
    EXPECT_FALSE(files.contains("gnudata.dat") || files.contains("gnuload.dat"));
    fs::remove_all(work() / "tmp");
  }
}

TEST_F(GraphEndToEnd, ParentComponentIsRefusedBeforeAnyTrial) {
  fs::create_directories(work() / "tmp");
  const run_result r = run({"x/../../escape"}, kParameters + example_file("template.gp"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("\"..\""), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find(" Average, stdev,"), std::string::npos) << r.out;
  EXPECT_EQ(directory_entries(work() / "tmp"), std::set<std::string>{});
}

TEST_F(GraphEndToEnd, NoDirectiveEndsTheRunAndLeavesBothFiles) {
  fs::create_directories(work() / "tmp");
  const run_result r = run({}, kParameters + "set terminal pngcairo\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.ends_with("\n *** Error: No plotting directive ***\n")) << r.out;
  EXPECT_EQ(directory_entries(work() / "tmp"), (std::set<std::string>{"gnudata.dat", "gnuload.dat"}));
  EXPECT_EQ(read_file(work() / "tmp" / "gnudata.dat"), polygons::graph::kWorkedRunDataFile);
  EXPECT_EQ(read_file(work() / "tmp" / "gnuload.dat"),
            "set output \"./tmp/gnu.png\"\nset terminal pngcairo\n");
}

TEST_F(GraphEndToEnd, ShippedExampleDrawsItsChart) {
  fs::create_directories(work() / "tmp");
  const run_result r = run({}, example_file("triangle.txt"));
  EXPECT_EQ(r.status, 0) << r.err;
  expect_only_readable_chart(work() / "tmp");
}

}  // namespace
