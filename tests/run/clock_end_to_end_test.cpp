// The start stamp and the end report as they appear in the output of the
// built program.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::vector<std::string> lines;
};

class ClockEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("polygons_clock_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "tmp");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the program in the temporary directory with USER set, `input` on
  // standard input and `args` on the command line.
  RunResult run(const std::string& input, const std::string& args) {
    std::ofstream(dir_ / "input.txt") << input;
    const std::string command = "cd '" + dir_.string() + "' && USER=tester '" + POLYGONS_BINARY + "' " + args +
                                " < input.txt > output.txt 2> errors.txt";
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream output(dir_ / "output.txt");
    for (std::string line; std::getline(output, line);) result.lines.push_back(line);
    return result;
  }

  fs::path dir_;
};

const std::regex kStamp(R"( \d{4}-\d\d-\d\d UTC[+-]\d{4} [ \d]\d:\d\d:\d\d\.\d{3})");
const std::regex kEndLine(R"( \d{4}-\d\d-\d\d UTC[+-]\d{4} [ \d]\d:\d\d:\d\d\.\d{3} {6}"CPU":[ \d]{7}\d\.\d sec\. {10}End)");
const std::regex kElapsed(R"( {39}[ \d]\dd \d\dh \d\dm [ \d]\d\.\d\ds| %Wrn Different years \(.*)");

bool has_line_starting(const std::vector<std::string>& lines, const std::string& start) {
  for (const std::string& line : lines) {
    if (line.rfind(start, 0) == 0) return true;
  }
  return false;
}

TEST_F(ClockEndToEnd, ReminderRunStartsWithTheStampAndHasNoEndReport) {
  const RunResult result = run("", "'?'");
  EXPECT_EQ(result.status, 0);
  ASSERT_FALSE(result.lines.empty());
  EXPECT_TRUE(std::regex_match(result.lines.front(), kStamp)) << result.lines.front();
  for (std::size_t i = 1; i < result.lines.size(); ++i) {
    EXPECT_FALSE(std::regex_search(result.lines[i], std::regex("\"CPU\":|UTC[+-]"))) << result.lines[i];
  }
}

TEST_F(ClockEndToEnd, FullRunEndsWithTheEndReport) {
  const RunResult result = run("3\n1.0\n1000 1\n10\n0\nset terminal png\nplot 'x' using 1:2 with boxes\n", "");
  if (!has_line_starting(result.lines, " Mode x, y,")) {
    GTEST_SKIP() << "the program does not yet run the whole main sequence";
  }
  EXPECT_EQ(result.status, 0);
  ASSERT_GE(result.lines.size(), 5u);
  EXPECT_TRUE(std::regex_match(result.lines.front(), kStamp)) << result.lines.front();
  const std::size_t n = result.lines.size();
  EXPECT_EQ(result.lines[n - 4], "  ");
  EXPECT_EQ(result.lines[n - 3], result.lines.front()) << "the start stamp is repeated";
  EXPECT_TRUE(std::regex_match(result.lines[n - 2], kEndLine)) << result.lines[n - 2];
  EXPECT_TRUE(std::regex_match(result.lines[n - 1], kElapsed)) << result.lines[n - 1];
}

TEST_F(ClockEndToEnd, RunWithoutPlottingDirectiveHasNoEndReport) {
  const RunResult result = run("3\n1.0\n1000 1\n10\n0\nset terminal png\n", "");
  if (!has_line_starting(result.lines, " *** Error: No plotting directive ***")) {
    GTEST_SKIP() << "the program does not yet run the graph job";
  }
  EXPECT_EQ(result.status, 0);
  ASSERT_FALSE(result.lines.empty());
  EXPECT_TRUE(std::regex_match(result.lines.front(), kStamp)) << result.lines.front();
  EXPECT_EQ(result.lines.back(), " *** Error: No plotting directive ***");
  for (const std::string& line : result.lines) {
    EXPECT_NE(line, "  ");
    EXPECT_EQ(line.find("\"CPU\":"), std::string::npos) << line;
  }
}

}  // namespace
