// The start stamp and the end report as they appear in the output of the
// built program.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/files.hpp"
#include "support/program_runner.hpp"
#include "support/report_lines.hpp"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::vector<std::string> lines;
};

class ClockEndToEnd : public ::testing::Test {
 protected:
  // Runs the program in the scratch directory with USER set, `input` on
  // standard input and `args` on the command line.
  RunResult run(const std::string& input, const std::vector<std::string>& args) {
    polygons::testing::run_request request;
    request.directory = dir_;
    request.input = input;
    request.args = args;
    const polygons::testing::run_result run = polygons::testing::run_polygons(request);
    RunResult result;
    result.status = run.exited ? run.status : -1;
    result.lines = polygons::testing::report_lines(run.out);
    return result;
  }

  polygons::testing::scratch_dir scratch_{"clock"};
  const fs::path dir_ = scratch_.make_run_directory();
};

// Whether `line` has the shape `shape`: 'D' stands for a digit, '_' for a
// digit or a blank, '~' for a sign; every other character for itself.
bool has_shape(const std::string& line, std::string_view shape) {
  if (line.size() != shape.size()) return false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    const bool digit = c >= '0' && c <= '9';
    switch (shape[i]) {
      case 'D':
        if (!digit) return false;
        break;
      case '_':
        if (!digit && c != ' ') return false;
        break;
      case '~':
        if (c != '+' && c != '-') return false;
        break;
      default:
        if (c != shape[i]) return false;
    }
  }
  return true;
}

constexpr std::string_view kStamp = " DDDD-DD-DD UTC~DDDD _D:DD:DD.DDD";
const std::string kEndLine = std::string(kStamp) + "      \"CPU\":_______D.D sec.          End";
const std::string kElapsed = std::string(39, ' ') + "_Dd DDh DDm _D.DDs";

bool is_stamp(const std::string& line) { return has_shape(line, kStamp); }
bool is_elapsed_or_warning(const std::string& line) {
  return has_shape(line, kElapsed) || line.rfind(" %Wrn Different years (", 0) == 0;
}

bool has_line_starting(const std::vector<std::string>& lines, const std::string& start) {
  for (const std::string& line : lines) {
    if (line.rfind(start, 0) == 0) return true;
  }
  return false;
}

TEST_F(ClockEndToEnd, ReminderRunStartsWithTheStampAndHasNoEndReport) {
  const RunResult result = run("", {"?"});
  EXPECT_EQ(result.status, 0);
  ASSERT_FALSE(result.lines.empty());
  EXPECT_TRUE(is_stamp(result.lines.front())) << result.lines.front();
  for (std::size_t i = 1; i < result.lines.size(); ++i) {
    EXPECT_EQ(result.lines[i].find(" UTC"), std::string::npos) << result.lines[i];
    EXPECT_EQ(result.lines[i].find("\"CPU\":"), std::string::npos) << result.lines[i];
  }
}

TEST_F(ClockEndToEnd, FullRunEndsWithTheEndReport) {
  const RunResult result = run("3\n1.0\n1000 1\n10\n0\nset terminal png\nplot 'x' using 1:2 with boxes\n", {});
  if (!has_line_starting(result.lines, " Mode x, y,")) {
    GTEST_SKIP() << "the program does not yet run the whole main sequence";
  }
  EXPECT_EQ(result.status, 0);
  ASSERT_GE(result.lines.size(), 5u);
  EXPECT_TRUE(is_stamp(result.lines.front())) << result.lines.front();
  const std::size_t n = result.lines.size();
  EXPECT_EQ(result.lines[n - 4], "  ");
  EXPECT_EQ(result.lines[n - 3], result.lines.front()) << "the start stamp is repeated";
  EXPECT_TRUE(has_shape(result.lines[n - 2], kEndLine)) << result.lines[n - 2];
  EXPECT_TRUE(is_elapsed_or_warning(result.lines[n - 1])) << result.lines[n - 1];
}

TEST_F(ClockEndToEnd, RunWithoutPlottingDirectiveHasNoEndReport) {
  const RunResult result = run("3\n1.0\n1000 1\n10\n0\nset terminal png\n", {});
  if (!has_line_starting(result.lines, " *** Error: No plotting directive ***")) {
    GTEST_SKIP() << "the program does not yet run the graph job";
  }
  EXPECT_EQ(result.status, 0);
  ASSERT_FALSE(result.lines.empty());
  EXPECT_TRUE(is_stamp(result.lines.front())) << result.lines.front();
  EXPECT_EQ(result.lines.back(), " *** Error: No plotting directive ***");
  for (const std::string& line : result.lines) {
    EXPECT_NE(line, "  ");
    EXPECT_EQ(line.find("\"CPU\":"), std::string::npos) << line;
  }
}

}  // namespace
