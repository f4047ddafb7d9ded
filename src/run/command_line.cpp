#include "run/command_line.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>

#include "params/login.hpp"
#include "params/readat.hpp"
#include "sim/kernel_set.hpp"

#ifndef POLYGONS_VERSION
#error "POLYGONS_VERSION comes from the project's version in CMake"
#endif

namespace polygons::run {
namespace {

// What follows the usage reminder in the help text, line by line; the
// fields in braces are filled in from the program's own limits and sets.
constexpr std::string_view kHelpText = R"(
Usage: polygons [DIRECTORY] < INPUT
       polygons ?            the two lines above
       polygons --help, -h   this text
       polygons --version    the program's name and version

Monte Carlo estimate of the distribution of the perimeter of a polygon whose
n corners lie at random on a circle of radius R. The report goes to standard
output, the chart to gnu.png in the working directory. The manual page,
polygons(1), tells the input in full, the files, and examples.

Standard input holds five parameter lines, then the plotting template:
  1 sides        number of corners n, at least 1
  2 radius       radius R of the circle, not 0, finite
  3 zn, iseed    number of trials ({ZN_MIN} to {ZN_MAX}; {ZN_LOGIN} without USER) and
                 seed (0 takes one from the clock)
  4 klass        number of histogram classes; below 1 gives ceil(log2 N) + 1
  5 ishow        0, or anything else to list the histogram in the report
Values are separated by blanks, commas or the end of a line; the rest of a
line is skipped, and a slash ends a read early, leaving the defaults. The
rest of the input is a gnuplot script: its first line that begins with
"plot" or "splot" is rewritten to plot the run's data.

DIRECTORY: the files go to ./tmp/DIRECTORY/, which must exist, instead of
./tmp/. It may not lead out of ./tmp/ nor begin with "-".

Exit status:
  0  an orderly end: a complete run, the reminder, the help, the version, or
     a template without a plotting line (the report's last line says so)
  2  bad input, refused before any trial runs: parameters that end early,
     are not valid or cannot be run, a DIRECTORY refused, a POLYGONS_ISA
     the run cannot use
  3  a file or stream failed: standard output, the working directory, a
     scratch file, or memory for the classes
A failure writes one line "polygons: what went wrong" on standard error.
gnuplot's own failures leave the status as it is; a line on standard error
says the chart may be missing or out of date.

Environment:
  OMP_NUM_THREADS   threads for the trials (default: one per processor)
  POLYGONS_ISA      {SETS}: the instruction set to use
                    (default: the fastest this processor has; the figures
                    are the same with any)
  POLYGONS_RESULTS  1: also write results.tsv, the run's figures as
                    tab-separated text for programs
  USER              the login named in the report; without it the trials
                    are limited to {ZN_LOGIN})";

// A number as a reader writes it: 1000, 1e8, 2.33e9.
std::string short_number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  std::string number(text);
  if (const std::size_t e = number.find("e+"); e != std::string::npos) {
    const std::size_t digits = number.find_first_not_of('0', e + 2);
    number = number.substr(0, e + 1) + number.substr(digits);
  }
  return number;
}

// The kernel sets' names: "a, b or c".
std::string set_names() {
  std::string names;
  const auto sets = sim::kernel_sets();
  for (std::size_t i = 0; i < sets.size(); ++i) {
    if (i > 0) names += i + 1 == sets.size() ? " or " : ", ";
    names += sets[i].name;
  }
  return names;
}

std::string help_text() {
  std::string text(kHelpText);
  const std::pair<std::string_view, std::string> fields[] = {
      {"{ZN_MIN}", short_number(params::ZN_MIN)},
      {"{ZN_MAX}", short_number(params::ZN_MAX)},
      {"{ZN_LOGIN}", short_number(params::zn_max_without_login())},
      {"{SETS}", set_names()},
  };
  for (const auto& [field, value] : fields) {
    for (std::size_t at = text.find(field); at != std::string::npos; at = text.find(field, at)) {
      text.replace(at, field.size(), value);
      at += value.size();
    }
  }
  return text;
}

void put_text(text::LineSink& out, std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    out.put_line(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
}

// The usage reminder, then the text above.
void write_help(text::LineSink& out) {
  params::write_reminder_lines(out);
  put_text(out, help_text());
}

}  // namespace

bool answer_options(const std::vector<std::string>& args, text::LineSink& out) {
  if (args.size() != 1) return false;
  const std::string& arg = args.front();
  if (arg == "--help" || arg == "-h") {
    write_help(out);
    return true;
  }
  if (arg == "--version") {
    out.put_line("polygons " POLYGONS_VERSION);
    return true;
  }
  if (arg.starts_with('-')) {
    throw text::FatalError("unknown option \"" + arg +
                               "\"; a working directory may not begin with \"-\" "
                               "(polygons --help lists the options)",
                           text::kExitBadInput);
  }
  return false;
}

void hint_when_reading_a_terminal(const std::vector<std::string>& args) {
  if (isatty(STDIN_FILENO) != 1 || params::asks_for_reminder(args)) return;
  text::warn(
      "reading from the terminal: five parameter lines (sides, radius, trials and seed, "
      "classes, show), then the plotting template, ended by Ctrl-D; polygons --help tells more");
}

}  // namespace polygons::run
