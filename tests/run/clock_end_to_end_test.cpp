// The start stamp and the end report as they appear in the output of the
// built program.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
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
  const RunResult result = run("", "'?'");
  EXPECT_EQ(result.status, 0);
  ASSERT_FALSE(result.lines.empty());
  EXPECT_TRUE(is_stamp(result.lines.front())) << result.lines.front();
  for (std::size_t i = 1; i < result.lines.size(); ++i) {
    EXPECT_EQ(result.lines[i].find(" UTC"), std::string::npos) << result.lines[i];
    EXPECT_EQ(result.lines[i].find("\"CPU\":"), std::string::npos) << result.lines[i];
  }
}

TEST_F(ClockEndToEnd, FullRunEndsWithTheEndReport) {
  const RunResult result = run("3\n1.0\n1000 1\n10\n0\nset terminal png\nplot 'x' using 1:2 with boxes\n", "");
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
  const RunResult result = run("3\n1.0\n1000 1\n10\n0\nset terminal png\n", "");
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
