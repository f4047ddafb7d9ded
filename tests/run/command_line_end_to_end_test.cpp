// The command line as a user meets it: the options answered without reading
// standard input, arguments that look like options refused, and the hint
// that a run started on a terminal writes before it waits for input.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/program_runner.hpp"

namespace polygons::run {
namespace {

using polygons::testing::input_source;
using polygons::testing::run_polygons;
using polygons::testing::run_request;
using polygons::testing::run_result;

const std::string kParameters = "3\n1\n1000 1\n0\n0\n";
const std::string kReminderLines =
    " *** Tying 2 rods: string length distribution\n"
    "     Data: ... / ... / .lg(N), iseed, klass / ishow ***\n";
const std::string kHint =
    "polygons: reading from the terminal: five parameter lines (sides, radius, trials and seed, "
    "classes, show), then the plotting template, ended by Ctrl-D; polygons --help tells more\n";

class CommandLine : public ::testing::Test {
 protected:
  run_result run(const std::vector<std::string>& args, input_source in, std::string input) {
    run_request request;
    request.directory = dir_;
    request.args = args;
    request.in = in;
    request.input = std::move(input);
    request.time_limit_seconds = 30;
    run_result r = run_polygons(request);
    EXPECT_TRUE(r.finished && r.exited) << "signal or time limit: " << r.status;
    return r;
  }

  polygons::testing::scratch_dir scratch_{"command-line"};
  const std::filesystem::path dir_ = scratch_.make_run_directory();
};

TEST_F(CommandLine, OptionsAnswerWithoutReadingInputFromAPipeOrATerminal) {
  struct Case {
    const char* arg;
    std::string out_start;
  };
  const Case cases[] = {
      {"--help", kReminderLines + "\nUsage: polygons [DIRECTORY] < INPUT\n"},
      {"-h", kReminderLines + "\nUsage: polygons [DIRECTORY] < INPUT\n"},
      {"--version", "polygons " POLYGONS_VERSION "\n"},
  };
  for (const Case& c : cases) {
    for (input_source in : {input_source::file, input_source::terminal}) {
      SCOPED_TRACE(std::string(c.arg) + (in == input_source::file ? " from a file" : " from a terminal"));
      const run_result r = run({c.arg}, in, kParameters);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out.substr(0, c.out_start.size()), c.out_start);
      EXPECT_EQ(r.input_left, kParameters) << "nothing read";
    }
  }
  const std::string help = run({"--help"}, input_source::file, "").out;
  for (const char* topic : {"OMP_NUM_THREADS", "POLYGONS_ISA", "POLYGONS_RESULTS", "Exit status"}) {
    EXPECT_NE(help.find(topic), std::string::npos) << topic;
  }
}

TEST_F(CommandLine, ASoleArgumentThatLooksLikeAnOptionIsRefused) {
  for (const char* arg : {"-x", "-", "--", "-?", "--helpme", "--version=2"}) {
    SCOPED_TRACE(arg);
    const run_result r = run({arg}, input_source::file, kParameters);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "polygons: unknown option \"" + std::string(arg) +
                         "\"; a working directory may not begin with \"-\" (polygons --help "
                         "lists the options)\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.input_left, kParameters);
  }
}

// The run reads its parameters from the terminal up to Ctrl-D, and the
// template is empty, so it ends after its results without a chart.
TEST_F(CommandLine, ARunOnATerminalSaysWhatItWaitsForAndOnAPipeDoesNot) {
  const run_result on_terminal = run({}, input_source::terminal, kParameters + "\x04");
  EXPECT_EQ(on_terminal.status, 0) << on_terminal.err;
  EXPECT_EQ(on_terminal.err, kHint);
  EXPECT_NE(on_terminal.out.find(" Mode x, y,"), std::string::npos) << on_terminal.out;

  const run_result on_pipe = run({}, input_source::file, kParameters);
  EXPECT_EQ(on_pipe.status, 0) << on_pipe.err;
  EXPECT_EQ(on_pipe.err, "");
  EXPECT_EQ(on_pipe.out.substr(on_pipe.out.find(" .Sides,")),
            on_terminal.out.substr(on_terminal.out.find(" .Sides,")));

  const run_result reminder = run({"?"}, input_source::terminal, kParameters);
  EXPECT_EQ(reminder.err, "") << "the reminder reads nothing";
  EXPECT_TRUE(reminder.out.ends_with(kReminderLines)) << reminder.out;
}

}  // namespace
}  // namespace polygons::run
