#pragma once
// Runs the built program as a child process with chosen standard streams,
// working directory, environment and limits, and waits for it with a time
// limit, so that a hang shows as a failed test instead of a stuck suite.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace polygons::testing {

enum class output_target {
  file,         // a file the test reads afterwards
  full_device,  // /dev/full: every write fails with "no space left"
  closed_pipe,  // a pipe whose reading end is already closed
};

enum class input_source {
  file,       // the `input` text
  directory,  // a directory opened for reading: every read fails
  closed,     // no standard input at all
  terminal,   // a pseudo-terminal, without echo, holding the `input` text;
              // "\x04" in it ends the input as Ctrl-D does
};

struct run_request {
  std::filesystem::path directory;  // the program's working directory
  // The command that starts the program, before `args` (a launcher and its
  // options, say); empty: the built program.
  std::vector<std::string> command;
  // Where the input and the captured streams are kept; empty: in
  // "<directory>.streams" beside the working directory.
  std::filesystem::path streams;
  std::string input;
  std::vector<std::string> args;
  std::optional<std::string> user = "tester";  // USER, or unset
  std::vector<std::pair<std::string, std::string>> environment;  // further variables, name and value
  output_target out = output_target::file;
  output_target err = output_target::file;
  input_source in = input_source::file;
  bool remove_directory_first = false;  // the working directory is gone when the program starts
  std::uint64_t address_space_limit = 0;  // bytes, 0 for none
  // A test running as root runs the program as user nobody, from a copy
  // in the streams directory: the working directory must be open to nobody.
  bool as_nobody = false;
  int time_limit_seconds = 120;
};

// The exit statuses the program documents for bad input and for a file it
// could not read or write, as tests expect them.
inline constexpr int kBadInput = 2;
inline constexpr int kIoFailure = 3;

struct run_result {
  bool finished = false;  // false: killed at the time limit
  bool exited = false;    // ended by exit, not by a signal
  int status = -1;        // exit status, or the signal number
  std::string out;
  std::string err;
  std::string input_left;  // what a later reader of standard input finds
};

run_result run_polygons(const run_request& request);

}  // namespace polygons::testing
