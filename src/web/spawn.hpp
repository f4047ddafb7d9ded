#pragma once
// Running the program as a child process: no shell, its own working directory,
// the environment of the service without chosen variables, standard input fed
// from memory, standard output and error captured, and a time limit.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace polygons::web {

struct spawn_request {
  std::filesystem::path program;  // run as given (made absolute), never looked up
  std::vector<std::string> args;  // arguments after the program name
  std::filesystem::path cwd;      // working directory of the child
  std::vector<std::string> environment;  // NAME=value entries
  std::string input;                     // all of the child's standard input
  std::chrono::milliseconds time_limit{60000};
  std::size_t output_limit = 8 * 1024 * 1024;  // per stream
  // A connected socket whose peer, by hanging up, stops the child; -1: none.
  int client_socket = -1;
  // A descriptor that becomes readable when the service stops, which stops
  // the child too; -1: none.
  int stop_fd = -1;
};

struct spawn_result {
  bool started = false;
  std::string start_error;  // why the child could not be started
  bool timed_out = false;   // killed at the time limit
  bool output_cut = false;  // killed for writing more than output_limit
  bool abandoned = false;   // killed because the client hung up or the service stopped
  int exit_status = -1;     // exit status, or -1 when ended by a signal
  int signal = 0;           // the signal that ended it, or 0
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};

  bool exited_ok() const {
    return started && exit_status == 0 && !timed_out && !output_cut && !abandoned;
  }
};

// True once the peer of the connected `socket` has hung up (data it sent, such
// as a pipelined request, does not count).
bool peer_hung_up(int socket);

// The current environment without the variables named in `removed`.
std::vector<std::string> environment_without(const std::vector<std::string_view>& removed);

// Starts the child in a process group of its own and waits for it. At the time
// limit, when an output stream passes its limit, or as soon as the client
// socket reports that its peer hung up or the stop descriptor is readable, the
// whole group is killed.
// Every process of the group is gone when this returns: the calling process
// becomes the reaper of its orphaned descendants, so that it reaps those the
// child left behind itself.
spawn_result run_child(const spawn_request& request);

}  // namespace polygons::web
