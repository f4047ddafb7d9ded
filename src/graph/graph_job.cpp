#include "graph/graph_job.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "graph/data_file.hpp"
#include "graph/plot_script.hpp"
#include "text/fixed_text.hpp"
#include "text/io.hpp"

extern char** environ;

namespace polygons::graph {
namespace {

constexpr std::size_t kPathLength = 512;
constexpr std::string_view kTmp = "./tmp/";
constexpr std::string_view kDataName = "gnudata.dat";
constexpr std::string_view kScriptName = "gnuload.dat";
constexpr std::string_view kImageName = "gnu.png";
constexpr std::size_t kLongestName = 11;  // gnudata.dat, gnuload.dat
// The end of every line that tells a caller the chart was not drawn.
constexpr const char* kChartNotDrawn = "gnu.png may be missing or out of date";

std::string system_error_text(int err) { return std::strerror(err); }

bool has_parent_component(std::string_view path) {
  std::size_t start = 0;
  for (;;) {
    const auto end = path.find('/', start);
    if (path.substr(start, end == std::string_view::npos ? end : end - start) == "..") return true;
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
}

text::FatalError open_failure(const std::string& path, std::string_view what, int unit, int err) {
  return text::FatalError("cannot open " + std::string(what) + " " + path + " (unit " +
                              std::to_string(unit) + "): " + system_error_text(err),
                          text::kExitIoFailure);
}

text::OpenFile open_for_writing(const std::string& path, std::string_view what, int unit) {
  text::OpenFile file(std::fopen(path.c_str(), "w"));
  if (!file) throw open_failure(path, what, unit, errno);
  return file;
}

void close_with_deletion(text::OpenFile& file, const std::string& path) {
  if (std::fclose(file.release()) != 0) {
    const int err = errno;
    throw text::FatalError("cannot close " + path + ": " + system_error_text(err),
                           text::kExitIoFailure);
  }
  // A run sharing the directory may have removed the file already.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    const int err = errno;
    throw text::FatalError("cannot delete " + path + ": " + system_error_text(err),
                           text::kExitIoFailure);
  }
}

// Waits for `child`; writes a line on standard error unless it exited with
// status 0.
void wait_for_plotter(pid_t child) {
  int status = 0;
  pid_t waited = 0;
  while ((waited = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (waited < 0) {
    const int err = errno;
    text::warn("cannot learn how gnuplot ended: " + system_error_text(err) + "; " +
               kChartNotDrawn);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    text::warn("gnuplot exited with status " + std::to_string(WEXITSTATUS(status)) + "; " +
               kChartNotDrawn);
  } else if (WIFSIGNALED(status)) {
    text::warn("gnuplot was ended by signal " + std::to_string(WTERMSIG(status)) + "; " +
               kChartNotDrawn);
  }
}

}  // namespace

std::string working_directory(const std::vector<std::string>& args) {
  if (args.size() != 1) return std::string(kTmp);
  const std::string argument(text::trimmed(text::fixed(args[0], kPathLength)));
  if (has_parent_component(argument)) {
    throw text::FatalError("the working directory \"" + argument +
                               "\" has a \"..\" component, which would lead out of " +
                               std::string(kTmp),
                           text::kExitBadInput);
  }
  const std::size_t limit = kPathLength - kTmp.size() - 1 - kLongestName;
  if (argument.size() > limit) {
    throw text::FatalError("the working directory argument is " + std::to_string(argument.size()) +
                               " characters long; at most " + std::to_string(limit) +
                               " fit the file paths",
                           text::kExitBadInput);
  }
  return std::string(kTmp) + argument + "/";
}

void require_writable_directory(std::string_view workdir) {
  // Creating a file takes write and search permission on the directory; the
  // error numbers are those the opening of the data file would meet.
  if (::faccessat(AT_FDCWD, std::string(workdir).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    const int err = errno;
    throw open_failure(text::join_cut(kPathLength, {workdir, kDataName}), "data file", IDATAFILE,
                       err);
  }
}

void run_plotter(const std::string& program, const std::string& argument) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::string program_arg = program;
  std::string script_arg = argument;
  char* argv[] = {program_arg.data(), script_arg.data(), nullptr};
  pid_t child = 0;
  const int err = posix_spawn(&child, program.c_str(), nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (err != 0) {
    text::warn("cannot run " + program + ": " + system_error_text(err) + "; " + kChartNotDrawn);
    return;
  }
  wait_for_plotter(child);
}

void make_readable_for_all(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 ||
      ::chmod(path.c_str(), (info.st_mode & 07777) | S_IRUSR | S_IRGRP | S_IROTH) != 0) {
    const int err = errno;
    text::warn("cannot make " + path + " readable for all: " + system_error_text(err));
  }
}

void www_graph(std::string_view workdir, int ishow, int n_min, int n_max, int nz,
               std::span<const double> centre, std::span<const double> result_z,
               std::istream& in, text::LineSink& out) {
  const std::string gnudata = text::join_cut(kPathLength, {workdir, kDataName});
  text::OpenFile data = open_for_writing(gnudata, "data file", IDATAFILE);
  text::FileSink data_sink(data.get(), "data file " + gnudata);
  data_to_file(data_sink, n_min, n_max, nz, centre, result_z, ishow, out);

  const std::string gnuload = text::join_cut(kPathLength, {workdir, kScriptName});
  text::OpenFile script = open_for_writing(gnuload, "plotting script", IDATAFILE + 1);
  text::FileSink script_sink(script.get(), "plotting script " + gnuload);
  const std::string image = text::join_cut(kPathLength, {workdir, kImageName});
  gnuload_make(script_sink, image, gnudata, in, out);

  run_plotter(std::string(GNUPLOT), gnuload);
  close_with_deletion(data, gnudata);
  close_with_deletion(script, gnuload);
  make_readable_for_all(image);
}

}  // namespace polygons::graph
