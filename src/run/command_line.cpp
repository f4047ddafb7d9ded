#include "run/command_line.hpp"

#include <unistd.h>

#include "params/login.hpp"

#ifndef POLYGONS_VERSION
#error "POLYGONS_VERSION comes from the project's version in CMake"
#endif

namespace polygons::run {
namespace {

// What follows the usage reminder in the help text, line by line.
constexpr std::string_view kHelpText = R"(
Usage: polygons [DIRECTORY] < INPUT
       polygons ?            the two lines above
       polygons --help, -h   this text
       polygons --version    the program's name and version

Monte Carlo estimate of the distribution of the perimeter of a polygon whose
n corners lie at random on a circle of radius R. The report goes to standard
output, the chart to gnu.png in the working directory.

Standard input holds five parameter lines, then the plotting template:
  1  sides       number of corners n, at least 1
  2  radius      radius R of the circle, not 0, finite
  3  zn, iseed   number of trials (1000 to 2.33e9; 1e8 without USER) and
                 seed (0 takes one from the clock)
  4  klass       number of histogram classes; below 1 gives ceil(log2 N) + 1
  5  ishow       0, or anything else to list the histogram in the report
Values are separated by blanks, commas or the end of a line; the rest of a
line is skipped, and a slash ends a read early, leaving the defaults. The
rest of the input is a gnuplot script: its first line that begins with
"plot" or "splot" is rewritten to plot the run's data.

DIRECTORY: the files go to ./tmp/DIRECTORY/, which must exist, instead of
./tmp/. It may not lead out of ./tmp/ nor begin with "-".

Environment:
  OMP_NUM_THREADS   threads for the trials (default: one per processor)
  POLYGONS_ISA      avx512, avx2 or generic: the instruction set to use
  POLYGONS_RESULTS  1: also write results.tsv, the run's figures as
                    tab-separated text for programs
  USER              the login named in the report; without it the trials
                    are limited to 1e8

Exit status:
  0  an orderly end: a complete run, the reminder, or a template without a
     plotting line (the report's last line says so)
  2  bad input, refused before any trial runs
  3  a file or stream failed: standard output, the working directory, a
     scratch file, or memory for the classes

See polygons(1) for more.)";

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
  put_text(out, kHelpText);
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
