#include "support/program_runner.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <tuple>

#include "support/files.hpp"

extern char** environ;

namespace polygons::testing {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

bool names_variable(const char* entry, const std::string& name) {
  return std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=';
}

// The environment of the test with USER and the requested variables set as asked.
std::vector<std::string> child_environment(const run_request& request) {
  std::vector<std::string> names{"USER"};
  for (const auto& [name, value] : request.environment) names.push_back(name);
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bool replaced = false;
    for (const std::string& name : names) replaced = replaced || names_variable(*entry, name);
    if (!replaced) env.emplace_back(*entry);
  }
  if (request.user) env.push_back("USER=" + *request.user);
  for (const auto& [name, value] : request.environment) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> c_strings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// The descriptor a standard output stream gets; -1 when it cannot be made.
int output_descriptor(output_target target, const fs::path& file) {
  switch (target) {
    case output_target::full_device:
      return open("/dev/full", O_WRONLY);
    case output_target::closed_pipe: {
      int ends[2];
      if (pipe(ends) != 0) return -1;
      close(ends[0]);
      return ends[1];
    }
    case output_target::file:
    default:
      return open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
}

// The rest of what `fd` can read, from its current offset on.
std::string rest_of(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(got));
  return text;
}

// The program to start. Dropping to nobody needs a copy that nobody can
// reach: the build tree may sit below a directory only its owner may enter
// (a checkout under /root, for one).
std::string program_for(const run_request& request, const fs::path& streams) {
  if (!request.as_nobody || geteuid() != 0) return POLYGONS_BINARY;
  const fs::path dir = streams / "program";
  const fs::perms open_to_all = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec;
  fs::create_directories(dir);
  fs::permissions(streams, open_to_all);
  fs::permissions(dir, open_to_all);
  const fs::path copy = dir / "polygons";
  fs::copy_file(POLYGONS_BINARY, copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, open_to_all);
  return copy.string();
}

// A pseudo-terminal whose other side holds `input`: the master and the
// terminal's descriptor, or -1s when it cannot be made.
std::pair<int, int> terminal_holding(const std::string& input) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) return {-1, -1};
  const char* name = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
  const int terminal = name != nullptr ? open(name, O_RDWR | O_NOCTTY) : -1;
  termios modes{};
  if (terminal < 0 || tcgetattr(terminal, &modes) != 0) {
    close(master);
    return {-1, -1};
  }
  modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(terminal, TCSANOW, &modes);
  if (write(master, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    close(terminal);
    close(master);
    return {-1, -1};
  }
  return {master, terminal};
}

}  // namespace

run_result run_polygons(const run_request& request) {
  // Streams live beside the working directory so that removing it, or
  // writing into it, does not touch them.
  const fs::path streams = request.streams.empty()
                               ? request.directory.parent_path() / (request.directory.filename().string() + ".streams")
                               : request.streams;
  fs::create_directories(streams);
  const fs::path input_file = streams / "input.txt";
  const fs::path out_file = streams / "out.txt";
  const fs::path err_file = streams / "err.txt";
  std::ofstream(input_file, std::ios::binary) << request.input;

  int in_fd = -1;
  if (request.in == input_source::file) in_fd = open(input_file.c_str(), O_RDONLY);
  if (request.in == input_source::directory) in_fd = open("/", O_RDONLY | O_DIRECTORY);
  int terminal_master = -1;
  if (request.in == input_source::terminal) std::tie(terminal_master, in_fd) = terminal_holding(request.input);
  const int out_fd = output_descriptor(request.out, out_file);
  const int err_fd = output_descriptor(request.err, err_file);

  std::vector<std::string> argv_texts = request.command;
  if (argv_texts.empty()) argv_texts.push_back(program_for(request, streams));
  argv_texts.insert(argv_texts.end(), request.args.begin(), request.args.end());
  std::vector<char*> argv = c_strings(argv_texts);
  std::vector<std::string> env_texts = child_environment(request);
  std::vector<char*> envp = c_strings(env_texts);
  const std::string directory = request.directory.string();

  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(directory.c_str()) != 0) _exit(120);
    if (request.remove_directory_first && rmdir(directory.c_str()) != 0) _exit(121);
    if (in_fd >= 0) {
      dup2(in_fd, 0);
    } else {
      close(0);
    }
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (request.address_space_limit != 0) {
      rlimit limit{request.address_space_limit, request.address_space_limit};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (request.as_nobody && geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(122);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  for (int fd : {out_fd, err_fd}) {
    if (fd >= 0) close(fd);
  }

  run_result result;
  int wait_status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(request.time_limit_seconds);
  for (;;) {
    pid_t done = waitpid(pid, &wait_status, WNOHANG);
    if (done == pid) {
      result.finished = true;
      break;
    }
    if (done < 0 || std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wait_status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  result.exited = WIFEXITED(wait_status);
  result.status = result.exited ? WEXITSTATUS(wait_status) : WTERMSIG(wait_status);
  result.out = read_file(out_file);
  result.err = read_file(err_file);
  if (in_fd >= 0) {
    // The child shared this descriptor's offset: reading on shows what the
    // program left of its input.
    if (request.in == input_source::file) result.input_left = rest_of(in_fd);
    if (request.in == input_source::terminal && fcntl(in_fd, F_SETFL, O_NONBLOCK) == 0) {
      result.input_left = rest_of(in_fd);
    }
    close(in_fd);
  }
  if (terminal_master >= 0) close(terminal_master);
  return result;
}

}  // namespace polygons::testing
