#include "web/spawn.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

extern char** environ;

namespace polygons::web {
namespace fs = std::filesystem;
namespace {

using clock_type = std::chrono::steady_clock;

struct pipe_pair {
  int read_end = -1;
  int write_end = -1;
};

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Owns the pipes between the service and one child.
struct child_pipes {
  pipe_pair in, out, err;
  ~child_pipes() {
    for (pipe_pair* p : {&in, &out, &err}) {
      close_fd(p->read_end);
      close_fd(p->write_end);
    }
  }
  bool open(std::string& error) {
    for (pipe_pair* p : {&in, &out, &err}) {
      int fds[2];
      if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = "pipe: " + std::generic_category().message(errno);
        return false;
      }
      p->read_end = fds[0];
      p->write_end = fds[1];
    }
    return true;
  }
};

// Writing to a child that has stopped reading raises SIGPIPE. It is blocked in
// this thread for the duration of the run and a pending one is discarded, so
// the service needs no process-wide signal setting.
class sigpipe_blocker {
 public:
  sigpipe_blocker() {
    sigemptyset(&pipe_set_);
    sigaddset(&pipe_set_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_set_, &saved_);
  }
  ~sigpipe_blocker() {
    timespec zero{};
    while (::sigtimedwait(&pipe_set_, nullptr, &zero) == SIGPIPE) {
    }
    ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }

 private:
  sigset_t pipe_set_{};
  sigset_t saved_{};
};

bool spawn_child(const spawn_request& request, child_pipes& pipes, pid_t& pid, std::string& error) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);

  posix_spawn_file_actions_adddup2(&actions, pipes.in.read_end, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipes.out.write_end, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipes.err.write_end, STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawn_file_actions_addchdir_np(&actions, request.cwd.c_str());

  // Own process group (so a kill reaches the plotting program too), default
  // signal handling and an empty signal mask whatever the service has set.
  sigset_t defaults;
  sigfillset(&defaults);
  sigset_t empty;
  sigemptyset(&empty);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &empty);

  std::string program = fs::absolute(request.program).string();
  std::vector<char*> argv;
  argv.push_back(program.data());
  std::vector<std::string> args = request.args;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = request.environment;
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    error = "cannot start " + program + ": " + std::generic_category().message(rc);
    return false;
  }
  close_fd(pipes.in.read_end);
  close_fd(pipes.out.write_end);
  close_fd(pipes.err.write_end);
  return true;
}

int milliseconds_until(clock_type::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
}

// The peer of `socket` has shut down its side or the connection failed. Data
// the peer sent does not count, so a pipelined request is no hang-up.
constexpr short kHangUpEvents = POLLRDHUP | POLLHUP | POLLERR;

// The entries for the client socket and the stop descriptor, as many as the
// request has, written to `fds`; their count.
nfds_t watch_ends(const spawn_request& request, pollfd* fds) {
  nfds_t count = 0;
  if (request.client_socket >= 0) fds[count++] = {request.client_socket, POLLRDHUP, 0};
  if (request.stop_fd >= 0) fds[count++] = {request.stop_fd, POLLIN, 0};
  return count;
}

// True when one of the entries watch_ends wrote says the child must end.
bool told_to_end(const pollfd* fds, nfds_t count) {
  for (nfds_t i = 0; i < count; ++i) {
    const short wanted = fds[i].events == POLLIN ? POLLIN | POLLHUP | POLLERR : kHangUpEvents;
    if ((fds[i].revents & wanted) != 0) return true;
  }
  return false;
}

// Reads what is available from `fd` into `text`; closes `fd` at its end.
void drain(int& fd, std::string& text) {
  char buffer[65536];
  ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    close_fd(fd);
  }
}

// Feeds the input and collects both output streams until the child closes
// them, the deadline passes or the output grows too large.
void exchange(const spawn_request& request, child_pipes& pipes,
              clock_type::time_point deadline, spawn_result& result) {
  ::fcntl(pipes.in.write_end, F_SETFL, O_NONBLOCK);
  std::size_t written = 0;
  if (request.input.empty()) close_fd(pipes.in.write_end);

  while (pipes.out.read_end >= 0 || pipes.err.read_end >= 0) {
    pollfd fds[5];
    nfds_t count = 0;
    int* owners[3];
    for (int* fd : {&pipes.out.read_end, &pipes.err.read_end}) {
      if (*fd >= 0) {
        fds[count] = {*fd, POLLIN, 0};
        owners[count++] = fd;
      }
    }
    if (pipes.in.write_end >= 0) {
      fds[count] = {pipes.in.write_end, POLLOUT, 0};
      owners[count++] = &pipes.in.write_end;
    }
    const nfds_t pipe_count = count;
    count += watch_ends(request, fds + count);
    int ready = ::poll(fds, count, milliseconds_until(deadline));
    if (ready < 0 && errno != EINTR) break;
    if (clock_type::now() >= deadline) {
      result.timed_out = true;
      return;
    }
    if (told_to_end(fds + pipe_count, count - pipe_count)) {
      result.abandoned = true;
      return;
    }
    for (nfds_t i = 0; i < pipe_count; ++i) {
      if (fds[i].revents == 0) continue;
      if (owners[i] == &pipes.in.write_end) {
        ssize_t put = ::write(pipes.in.write_end, request.input.data() + written,
                              request.input.size() - written);
        if (put > 0) written += static_cast<std::size_t>(put);
        if ((put < 0 && errno != EINTR && errno != EAGAIN) || written == request.input.size()) {
          close_fd(pipes.in.write_end);
        }
      } else {
        drain(*owners[i], owners[i] == &pipes.out.read_end ? result.out : result.err);
      }
    }
    if (result.out.size() > request.output_limit || result.err.size() > request.output_limit) {
      result.output_cut = true;
      return;
    }
  }
}

// Waits (without reaping) until the child has ended, the deadline passes or
// the client hangs up; sets the result's flag for the last two.
void wait_for_end(pid_t pid, const spawn_request& request, clock_type::time_point deadline,
                  spawn_result& result) {
  while (true) {
    siginfo_t info{};
    int rc = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (rc == 0 && info.si_pid == pid) return;
    if (rc != 0 && errno != EINTR) return;
    if (clock_type::now() >= deadline) {
      result.timed_out = true;
      return;
    }
    // Sleeps 5 ms between looks; a hang-up or a stop ends the sleep at once.
    pollfd ends[2];
    const nfds_t count = watch_ends(request, ends);
    if (::poll(ends, count, 5) > 0 && told_to_end(ends, count)) {
      result.abandoned = true;
      return;
    }
  }
}

// Killed members of the group that the child had started (the chart's
// plotting program) outlive it as orphans. Init may take a second or more to
// reap them, and the slot stays held until they are gone: this process takes
// its orphaned descendants instead, so that their ends are reaped here.
void adopt_orphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

// Reaps the group's members as they end and waits (at most 2 s) until none
// is left, zombies included.
void wait_for_group_end(pid_t group) {
  for (int i = 0; i < 2000; ++i) {
    while (::waitpid(-group, nullptr, WNOHANG) > 0) {
    }
    if (::kill(-group, 0) != 0) return;
    ::usleep(1000);
  }
}

}  // namespace

bool peer_hung_up(int socket) {
  pollfd entry{socket, POLLRDHUP, 0};
  return ::poll(&entry, 1, 0) > 0 && (entry.revents & kHangUpEvents) != 0;
}

std::vector<std::string> environment_without(const std::vector<std::string_view>& removed) {
  std::vector<std::string> kept;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string_view text(*entry);
    std::string_view name = text.substr(0, text.find('='));
    bool drop = false;
    for (std::string_view r : removed) drop = drop || name == r;
    if (!drop) kept.emplace_back(text);
  }
  return kept;
}

spawn_result run_child(const spawn_request& request) {
  spawn_result result;
  sigpipe_blocker blocker;
  child_pipes pipes;
  pid_t pid = -1;
  const auto start = clock_type::now();
  const auto deadline = start + request.time_limit;
  adopt_orphans();
  if (!pipes.open(result.start_error) || !spawn_child(request, pipes, pid, result.start_error)) {
    return result;
  }
  result.started = true;

  exchange(request, pipes, deadline, result);
  if (!result.timed_out && !result.output_cut && !result.abandoned) {
    wait_for_end(pid, request, deadline, result);
  }
  // The child is ended (or is killed now) but not yet reaped, so its process
  // group id cannot have been reused: the kill reaches only its own group.
  ::kill(-pid, SIGKILL);
  int status = 0;
  pid_t reaped = -1;
  while ((reaped = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  wait_for_group_end(pid);
  if (reaped != pid) {
    result.err += "the end of the program could not be observed\n";
  } else if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start);
  return result;
}

}  // namespace polygons::web
