// Faults from outside, end to end: standard output that cannot be written,
// standard input that ends early or cannot be read, a working directory that
// is missing, not a directory or gone, extreme parameter values, and hostile
// templates. Every case must end with a clear message and the right status,
// or with the behaviour the program defines, never with a crash or a hang.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/program_runner.hpp"

namespace polygons::faults {
namespace {

namespace fs = std::filesystem;
using namespace polygons::testing;

constexpr const char* kNoDirective = " *** Error: No plotting directive ***";
constexpr const char* kTemplate = "set terminal png\nplot\n using 1:2 with boxes\n";

#ifdef POLYGONS_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct parameter_lines {
  std::string sides = "3";
  std::string radius = "1";
  std::string trials = "1000 4711";
  std::string klass = "10";
  std::string ishow = "0";
  std::string text() const { return sides + "\n" + radius + "\n" + trials + "\n" + klass + "\n" + ishow + "\n"; }
};

std::string valid_input() { return parameter_lines().text() + kTemplate; }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// No sanitizer report, no abort, no signal: the program itself ended the run.
void expect_clean_end(const run_result& result) {
  EXPECT_TRUE(result.finished) << "killed at the time limit\n" << result.out;
  EXPECT_TRUE(result.exited) << "ended by signal " << result.status << "\n" << result.err;
  EXPECT_FALSE(contains(result.err, "Sanitizer")) << result.err;
  EXPECT_FALSE(contains(result.err, "runtime error")) << result.err;
  EXPECT_FALSE(contains(result.err, "terminate called")) << result.err;
}

// A fatal end: one diagnostic line naming the program, the expected status.
void expect_fatal(const run_result& result, int status, const std::string& about = "") {
  expect_clean_end(result);
  EXPECT_EQ(result.status, status) << result.err;
  EXPECT_TRUE(result.err.starts_with("polygons: ")) << result.err;
  EXPECT_TRUE(result.err.ends_with("\n")) << result.err;
  if (!about.empty()) {
    EXPECT_TRUE(contains(result.err, about)) << result.err;
  }
  EXPECT_FALSE(contains(result.out, "End")) << "end report after a fatal error\n" << result.out;
}

void expect_complete_run(const run_result& result) {
  expect_clean_end(result);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(contains(result.out, " Mode x, y,")) << result.out;
  EXPECT_TRUE(contains(result.out, "End")) << result.out;
}

class Faults : public ::testing::Test {
 protected:
  void TearDown() override {
    std::error_code ignored;
    if (fs::exists(dir_ / "tmp", ignored)) fs::permissions(dir_ / "tmp", fs::perms::owner_all, ignored);
  }

  run_request request(std::string input) const {
    run_request r;
    r.directory = dir_;
    r.input = std::move(input);
    // A larger simulation than the cases ask for, refused or not, must not
    // take the machine's memory; the sanitizer runtime reserves too much
    // address space for such a limit.
    if (!kSanitized) r.address_space_limit = 4ull << 30;
    return r;
  }

  // Runs a template without a plotting directive, which leaves the script in
  // place, and returns the script.
  std::string script_of(const std::string& template_text) const {
    run_result result = run_polygons(request(parameter_lines().text() + template_text));
    expect_clean_end(result);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.ends_with(std::string(kNoDirective) + "\n")) << result.out;
    return read_file(dir_ / "tmp" / "gnuload.dat");
  }

  scratch_dir scratch_{"faults"};
  const fs::path base_ = scratch_.path();
  const fs::path dir_ = scratch_.make_run_directory();
};

// Standard output --------------------------------------------------------

TEST_F(Faults, StandardOutputOnFullDeviceEndsWithMessage) {
  run_request r = request(valid_input());
  r.out = output_target::full_device;
  run_result result = run_polygons(r);
  expect_fatal(result, kIoFailure, "standard output");
  EXPECT_TRUE(contains(result.err, "No space left on device")) << result.err;
}

TEST_F(Faults, StandardOutputOnClosedPipeEndsWithMessageNotSignal) {
  run_request r = request(valid_input());
  r.out = output_target::closed_pipe;
  run_result result = run_polygons(r);
  expect_fatal(result, kIoFailure, "standard output");
  EXPECT_TRUE(contains(result.err, "Broken pipe")) << result.err;
}

TEST_F(Faults, UsageReminderOnClosedPipeStillFails) {
  run_request r = request("");
  r.args = {"?"};
  r.out = output_target::closed_pipe;
  expect_fatal(run_polygons(r), kIoFailure, "standard output");
}

TEST_F(Faults, BothOutputStreamsFullStillGiveTheStatus) {
  run_request r = request(valid_input());
  r.out = output_target::full_device;
  r.err = output_target::full_device;
  run_result result = run_polygons(r);
  EXPECT_TRUE(result.finished);
  EXPECT_TRUE(result.exited) << "signal " << result.status;
  EXPECT_EQ(result.status, kIoFailure);
}

// Standard input ---------------------------------------------------------

struct early_end_case {
  const char* name;
  std::string input;
};

TEST_F(Faults, InputEndingBeforeTheParametersAreCompleteIsRefused) {
  const std::vector<early_end_case> cases = {
      {"empty input", ""},
      {"within the sides value", "1"},
      {"after the sides line", "3\n"},
      {"within the radius value", "3\n1."},
      {"within the radius exponent", "3\n1e"},
      {"after the trial count, seed missing", "3\n1\n1000"},
      {"within the seed", "3\n1\n1000 47"},
      {"classes missing", "3\n1\n1000 4711\n"},
      {"show switch missing", "3\n1\n1000 4711\n10\n"},
  };
  for (const early_end_case& c : cases) {
    SCOPED_TRACE(c.name);
    run_result result = run_polygons(request(c.input));
    expect_fatal(result, kBadInput);
    EXPECT_FALSE(contains(result.out, "Extreme values")) << result.out;
  }
}

TEST_F(Faults, InputEndingWithinTheShowSwitchLineStillRuns) {
  run_result result = run_polygons(request("3\n1\n1000 4711\n10\n1"));
  expect_clean_end(result);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(contains(result.out, kNoDirective)) << result.out;
}

TEST_F(Faults, TemplateEndingWithinTheDirectiveLineRuns) {
  expect_complete_run(run_polygons(request(parameter_lines().text() + "set terminal png\nplot")));
}

TEST_F(Faults, TemplateEndingWithinALineWithoutDirectiveEndsInOrder) {
  run_result result = run_polygons(request(parameter_lines().text() + "set terminal png\nset tit"));
  expect_clean_end(result);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out.ends_with(std::string(kNoDirective) + "\n")) << result.out;
  EXPECT_EQ(read_file(dir_ / "tmp" / "gnuload.dat"), "set output \"./tmp/gnu.png\"\nset terminal png\nset tit\n");
}

TEST_F(Faults, UnreadableStandardInputIsRefused) {
  for (input_source source : {input_source::directory, input_source::closed}) {
    SCOPED_TRACE(source == input_source::directory ? "a directory" : "closed");
    run_request r = request("");
    r.in = source;
    run_result result = run_polygons(r);
    expect_clean_end(result);
    EXPECT_TRUE(result.status == kBadInput || result.status == kIoFailure) << result.status;
    EXPECT_TRUE(result.err.starts_with("polygons: ")) << result.err;
  }
}

TEST_F(Faults, NulBytesAndHugeLinesInTheParametersAreRefusedOrSkipped) {
  parameter_lines nul_in_value;
  nul_in_value.sides = std::string("3\0", 2);
  expect_fatal(run_polygons(request(nul_in_value.text() + kTemplate)), kBadInput, "line 1");

  parameter_lines huge_number;
  huge_number.sides = std::string(1 << 20, '7');
  expect_fatal(run_polygons(request(huge_number.text() + kTemplate)), kBadInput, "line 1");

  // Blank lines hold no value: the read goes on to the next line.
  parameter_lines blank_first;
  blank_first.sides = std::string(1 << 20, ' ') + "\n3";
  expect_complete_run(run_polygons(request(blank_first.text() + kTemplate)));

  // Surplus text after the value is skipped, however long.
  parameter_lines long_comment;
  long_comment.radius = "1 " + std::string(1 << 20, 'c');
  expect_complete_run(run_polygons(request(long_comment.text() + kTemplate)));
}

// Extreme parameter values -----------------------------------------------

struct refused_case {
  const char* name;
  parameter_lines lines;
  std::string about;  // part of the diagnostic
};

parameter_lines with(std::string parameter_lines::*field, std::string value) {
  parameter_lines lines;
  lines.*field = std::move(value);
  return lines;
}

TEST_F(Faults, UnusableParametersAreRefusedBeforeAnyTrial) {
  const std::vector<refused_case> cases = {
      {"no sides", with(&parameter_lines::sides, "0"), "sides"},
      {"negative sides", with(&parameter_lines::sides, "-5"), "sides"},
      {"lowest integer sides", with(&parameter_lines::sides, "-2147483648"), "sides"},
      {"sides beyond 32 bits", with(&parameter_lines::sides, "2147483648"), "line 1"},
      {"sides as a real", with(&parameter_lines::sides, "3.5"), "line 1"},
      {"radius of 0", with(&parameter_lines::radius, "0"), "radius"},
      {"radius whose range is infinite", with(&parameter_lines::radius, "1e308"), "not finite"},
      {"infinite radius", with(&parameter_lines::radius, "inf"), "radius"},
      {"radius not a number", with(&parameter_lines::radius, "nan"), "radius"},
      {"subnormal radius", with(&parameter_lines::radius, "1e-320"), "0"},
      {"trial count not a number", with(&parameter_lines::trials, "nan 1"), "line 3"},
      {"seed beyond 32 bits", with(&parameter_lines::trials, "1000 2147483648"), "line 3"},
      {"classes beyond 32 bits", with(&parameter_lines::klass, "2147483648"), "line 4"},
      {"show switch as text", with(&parameter_lines::ishow, "yes"), "line 5"},
  };
  for (const refused_case& c : cases) {
    SCOPED_TRACE(c.name);
    run_result result = run_polygons(request(c.lines.text() + kTemplate));
    expect_fatal(result, kBadInput, c.about);
    EXPECT_FALSE(contains(result.out, " Average, stdev,")) << result.out;
    EXPECT_FALSE(fs::exists(dir_ / "tmp" / "gnudata.dat"));
  }
}

TEST_F(Faults, HugeTrialCountsAreLimitedBeforeTheRunIsRefused) {
  // sides 0 ends the run right after the limits, so the huge count never runs.
  parameter_lines lines;
  lines.sides = "0";
  lines.trials = "1e300 1";
  run_request with_login = request(lines.text() + kTemplate);
  run_result result = run_polygons(with_login);
  expect_fatal(result, kBadInput, "sides");
  EXPECT_TRUE(contains(result.out, " %Wrn Reducing zn to  2.330E+09\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "| = 2330000000; seed, 1\n")) << result.out;

  run_request from_web = request(lines.text() + kTemplate);
  from_web.user.reset();
  result = run_polygons(from_web);
  expect_fatal(result, kBadInput, "sides");
  EXPECT_TRUE(contains(result.out, " %Wrn Reducing zn to 1.000E+08\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "| = 100000000; seed, 1\n")) << result.out;

  lines.trials = "inf 1";
  result = run_polygons(request(lines.text() + kTemplate));
  expect_fatal(result, kBadInput, "sides");
  EXPECT_TRUE(contains(result.out, "| = 2330000000; seed, 1\n")) << result.out;
}

TEST_F(Faults, ExtremeValuesThatTheRunAcceptsComplete) {
  const std::vector<std::pair<const char*, parameter_lines>> cases = {
      {"hugely negative trial count", with(&parameter_lines::trials, "-1e300 1")},
      {"lowest integer seed", with(&parameter_lines::trials, "1000 -2147483648")},
      {"lowest integer class count", with(&parameter_lines::klass, "-2147483648")},
      {"highest integer show switch", with(&parameter_lines::ishow, "2147483647")},
      {"lowest integer show switch", with(&parameter_lines::ishow, "-2147483648")},
      {"one side", with(&parameter_lines::sides, "1")},
      {"two sides", with(&parameter_lines::sides, "2")},
      {"tiny radius", with(&parameter_lines::radius, "1e-300")},
      {"huge radius with a finite range", with(&parameter_lines::radius, "1e300")},
  };
  for (const auto& [name, lines] : cases) {
    SCOPED_TRACE(name);
    expect_complete_run(run_polygons(request(lines.text() + kTemplate)));
  }
}

// Only a radius of 0 or one that is not finite is refused: a negative radius
// runs to the end, its perimeters those of the positive radius, negated.
TEST_F(Faults, NegativeRadiusRunsToTheEndWithNegatedFigures) {
  run_result result = run_polygons(request(with(&parameter_lines::radius, "-1").text() + kTemplate));
  expect_complete_run(result);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(contains(result.out, " Extreme values,    0.000      -5.196    | 0, 2 n R SIN(Pi/n)\n"
                                   " Average, stdev,   -3.853       1.036    |\n"))
      << result.out;
}

TEST_F(Faults, ArraysTooLargeForMemoryEndWithMessage) {
  const std::vector<refused_case> cases = {
      {"highest integer sides", with(&parameter_lines::sides, "2147483647"), "sides"},
      {"highest integer class count", with(&parameter_lines::klass, "2147483647"), "classes"},
  };
  for (const refused_case& c : cases) {
    SCOPED_TRACE(c.name);
    run_result result = run_polygons(request(c.lines.text() + kTemplate));
    expect_fatal(result, kIoFailure, c.about);
    EXPECT_TRUE(contains(result.err, "allocate")) << result.err;
  }
}

// Working directory ------------------------------------------------------

TEST_F(Faults, WorkingDirectoryFaultsEndTheRunBeforeAnyTrial) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* data_file;
    const char* reason;
    void (*make)(const fs::path& tmp, const fs::path& elsewhere);
  };
  const Case cases[] = {
      {"./tmp/ missing", {}, "./tmp/gnudata.dat", "No such file or directory",
       [](const fs::path& tmp, const fs::path&) { fs::remove(tmp); }},
      {"./tmp/ a file", {}, "./tmp/gnudata.dat", "Not a directory",
       [](const fs::path& tmp, const fs::path&) {
         fs::remove(tmp);
         std::ofstream(tmp) << "not a directory\n";
       }},
      {"subdirectory missing", {"never_made"}, "./tmp/never_made/gnudata.dat",
       "No such file or directory", [](const fs::path&, const fs::path&) {}},
      {"subdirectory a dangling link", {"abc"}, "./tmp/abc/gnudata.dat", "No such file or directory",
       [](const fs::path& tmp, const fs::path& elsewhere) {
         fs::create_directory_symlink(elsewhere / "gone", tmp / "abc");
       }},
  };
  // Trials enough for minutes of work: the run must not get to them.
  const std::string input = with(&parameter_lines::trials, "2e9 1").text() + kTemplate;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_ / "tmp");
    fs::create_directory(dir_ / "tmp");
    c.make(dir_ / "tmp", base_);
    run_request r = request(input);
    r.args = c.args;
    run_result result = run_polygons(r);
    expect_fatal(result, kIoFailure);
    EXPECT_EQ(result.err, std::string("polygons: cannot open data file ") + c.data_file +
                              " (unit 321): " + c.reason + "\n");
    EXPECT_TRUE(contains(result.out, " Extreme values,")) << "the report so far stays\n" << result.out;
    EXPECT_FALSE(contains(result.out, " Average, stdev,")) << "no trial runs\n" << result.out;
  }
}

TEST_F(Faults, WorkingDirectoryNotWritableEndsWithMessage) {
  // Permission bits do not bind root: a test running as root runs the
  // program as nobody, who may enter the directories but not write ./tmp.
  const fs::perms enter = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(base_, enter);
  fs::permissions(dir_, enter);
  fs::permissions(dir_ / "tmp", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
  run_request r = request(valid_input());
  r.as_nobody = true;
  run_result result = run_polygons(r);
  expect_fatal(result, kIoFailure, "gnudata.dat");
  EXPECT_TRUE(contains(result.err, "Permission denied")) << result.err;
}

TEST_F(Faults, WorkingDirectoryRemovedBeforeTheRunEndsWithMessage) {
  fs::remove_all(dir_);
  fs::create_directory(dir_);
  run_request r = request(valid_input());
  r.remove_directory_first = true;
  expect_fatal(run_polygons(r), kIoFailure, "gnudata.dat");
}

// The files a run writes in ./tmp/: the two scratch files, and, when
// POLYGONS_RESULTS asks for it, the results file, written under a temporary
// name and renamed.
struct written_file {
  const char* name;
  bool results;  // with POLYGONS_RESULTS=1
};
const written_file kWrittenFiles[] = {
    {"gnudata.dat", false}, {"gnuload.dat", false}, {"results.tsv.part", true}};

TEST_F(Faults, ScratchFileNamesTakenByDirectoriesEndWithMessage) {
  std::vector<written_file> names(std::begin(kWrittenFiles), std::end(kWrittenFiles));
  names.push_back({"results.tsv", true});  // an earlier results file is removed before any trial
  for (const written_file& f : names) {
    SCOPED_TRACE(f.name);
    fs::create_directory(dir_ / "tmp" / f.name);
    run_request r = request(valid_input());
    if (f.results) r.environment = {{"POLYGONS_RESULTS", "1"}};
    expect_fatal(run_polygons(r), kIoFailure, f.name);
    fs::remove(dir_ / "tmp" / f.name);
  }
}

TEST_F(Faults, WrittenFilesOnAFullDeviceEndWithMessage) {
  for (const written_file& f : kWrittenFiles) {
    SCOPED_TRACE(f.name);
    fs::create_symlink("/dev/full", dir_ / "tmp" / f.name);
    run_request r = request(valid_input());
    if (f.results) {
      r.environment = {{"POLYGONS_RESULTS", "1"}};
      std::ofstream(dir_ / "tmp" / "results.tsv") << "left by an earlier run\n";
    }
    run_result result = run_polygons(r);
    expect_fatal(result, kIoFailure, f.name);
    EXPECT_TRUE(contains(result.err, "No space left on device")) << result.err;
    EXPECT_FALSE(fs::exists(dir_ / "tmp" / "results.tsv")) << "no results file, not even an earlier one";
    fs::remove(dir_ / "tmp" / f.name);
  }
}

TEST_F(Faults, ArgumentsLeadingOutOfTheWorkingDirectoryAreRefused) {
  for (const std::string& argument : {std::string(".."), std::string("../elsewhere"), std::string("a/../../b"),
                                      std::string(600, 'x')}) {
    SCOPED_TRACE(argument.substr(0, 20));
    run_request r = request(valid_input());
    r.args = {argument};
    run_result result = run_polygons(r);
    expect_fatal(result, kBadInput, "working directory");
    EXPECT_FALSE(contains(result.out, " Average, stdev,")) << "refused before any trial\n" << result.out;
  }
}

TEST_F(Faults, ArgumentIsNeverRunAsAShellCommand) {
  const std::string argument = "$(touch pwned);touch pwned2;`touch pwned3`";
  fs::create_directory(dir_ / "tmp" / argument);
  run_request r = request(valid_input());
  r.args = {argument};
  expect_complete_run(run_polygons(r));
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(base_)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("pwned")) << entry.path();
  }
}

// Template ---------------------------------------------------------------

TEST_F(Faults, TemplateLinesLongerThan512CharactersAreCut) {
  const std::string cut_directive = std::string(510, 'x') + "plot y";
  const std::string indented = "    " + std::string(600, 'y');
  const std::string late_directive = std::string(600, ' ') + "plot z";
  std::string script = script_of(cut_directive + "\n" + indented + "\n" + late_directive + "\n");
  EXPECT_EQ(script, "set output \"./tmp/gnu.png\"\n" + std::string(510, 'x') + "pl\n" + std::string(508, 'y') +
                        "\n\n");
}

TEST_F(Faults, NulBytesInTheTemplateAreKept) {
  const std::string nul_line("set title \"a\0b\"", 15);
  const std::string nul_first("\0plot x", 7);
  std::string script = script_of(nul_line + "\n" + nul_first + "\n");
  EXPECT_EQ(script, "set output \"./tmp/gnu.png\"\n" + nul_line + "\n" + nul_first + "\n");
}

TEST_F(Faults, VeryLongTemplateLinesAroundTheDirectiveRun) {
  const std::string huge(8 << 20, 'q');
  expect_complete_run(run_polygons(request(parameter_lines().text() + "#" + huge + "\nplot\n" + huge + "\n")));
  EXPECT_FALSE(fs::exists(dir_ / "tmp" / "gnuload.dat"));
  EXPECT_FALSE(fs::exists(dir_ / "tmp" / "gnudata.dat"));
}

TEST_F(Faults, TemplateOfBinaryNoiseEndsInOrder) {
  std::string noise;
  unsigned state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1103515245u + 12345u;
    noise.push_back(static_cast<char>(state >> 16));
  }
  run_result result = run_polygons(request(parameter_lines().text() + noise));
  expect_clean_end(result);
  EXPECT_EQ(result.status, 0) << result.err;
}

}  // namespace
}  // namespace polygons::faults
