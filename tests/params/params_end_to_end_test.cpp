// Runs the built program on parameter input in a scratch directory and looks
// at the lines that the parameter reader owns.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/program_runner.hpp"
#include "worked_example.hpp"

namespace polygons::params {
namespace {

namespace fs = std::filesystem;
using polygons::testing::run_request;
using polygons::testing::run_result;

class ParamsEndToEnd : public ::testing::Test {
 protected:
  // Runs the program with `input` on standard input; the result also shows
  // what the program left unread of it.
  run_result run(const std::string& input, std::optional<std::string> user,
                 const std::vector<std::string>& args = {}) {
    run_request request;
    request.directory = dir_;
    request.input = input;
    request.args = args;
    request.user = std::move(user);
    run_result r = polygons::testing::run_polygons(request);
    EXPECT_TRUE(r.finished && r.exited) << "signal or time limit: " << r.status;
    return r;
  }

  polygons::testing::scratch_dir scratch_{"params"};
  const fs::path dir_ = scratch_.make_run_directory();
};

const std::string kParameterLines = std::string(" User login,       guest                 |\n") + kWorkedExampleLines;
constexpr const char* kReminderLines =
    " *** Tying 2 rods: string length distribution\n"
    "     Data: ... / ... / .lg(N), iseed, klass / ishow ***\n";

TEST_F(ParamsEndToEnd, WorkedExampleParameterLines) {
  // What follows the parameter lines (trials, chart) is not looked at here.
  run_result r = run(kWorkedExampleInput, "guest");
  std::size_t begin = r.out.find(" User login,");
  ASSERT_NE(begin, std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(begin, kParameterLines.size()), kParameterLines);
  EXPECT_EQ(r.out.find(" User login,", begin + 1), std::string::npos);
  // Only the banner comes before the login line.
  EXPECT_NE(r.out.substr(0, begin).find("Simulation of random polygons"), std::string::npos);
  EXPECT_EQ(r.out.substr(0, begin).find(" .Sides,"), std::string::npos);
}

TEST_F(ParamsEndToEnd, WithoutUserFewTrialsAreAugmented) {
  run_result r = run("5\n1\n50 1\n0\n0\n", std::nullopt);
  EXPECT_EQ(r.out.find(" User login,"), std::string::npos);
  EXPECT_NE(r.out.find("(radius of circle)\n"
                       " %Wrn Augmenting N to 1.000E+03\n"
                       " N. of trials (N),              1.000E+03| = 1000; seed, 1\n"
                       " klasses,                          11    |\n"),
            std::string::npos)
      << r.out;
}

TEST_F(ParamsEndToEnd, ReminderLeavesStandardInputUntouched) {
  run_result r = run(kWorkedExampleInput, "guest", {"?"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::size_t begin = r.out.find(" User login,");
  ASSERT_NE(begin, std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(begin),
            std::string(" User login,       guest                 |\n") + kReminderLines);
  EXPECT_EQ(r.input_left, kWorkedExampleInput);
}

TEST_F(ParamsEndToEnd, ReminderWithoutUser) {
  run_result r = run(kWorkedExampleInput, std::nullopt, {"? "});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find(" User login,"), std::string::npos);
  ASSERT_GE(r.out.size(), std::string(kReminderLines).size());
  EXPECT_EQ(r.out.substr(r.out.size() - std::string(kReminderLines).size()), kReminderLines);
  EXPECT_EQ(r.input_left, kWorkedExampleInput);
}

TEST_F(ParamsEndToEnd, BadParameterInputFails) {
  struct Case {
    const char* input;
    const char* err;
  };
  const Case cases[] = {
      {"5\n1\nabc 1\n0\n0\n", "polygons: standard input, line 3: \"abc\" is not a number (number of trials zn)\n"},
      {"5\n1\n", "polygons: standard input, line 3: end of input before a value for the number of trials zn\n"},
      {"0\n1\n1000 1\n0\n0\n", "polygons: the number of sides is 0; a polygon needs at least 1 side\n"},
      {"3\n0\n1000 1\n0\n0\n", "polygons: the radius is 0; the polygons need a circle of some size\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    run_result r = run(c.input, std::nullopt);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.err);
    EXPECT_NE(r.out.find("Simulation of random polygons"), std::string::npos);
  }
}

TEST_F(ParamsEndToEnd, RefusedParametersComeAfterTheirLines) {
  run_result r = run("3\n0\n1000 1\n0\n0\n", std::nullopt);
  EXPECT_NE(r.out.find(" ----------------------------------------+"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" Extreme values,"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace polygons::params
