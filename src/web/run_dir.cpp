#include "web/run_dir.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <system_error>
#include <vector>

namespace polygons::web {
namespace fs = std::filesystem;
namespace {

// Closes a file descriptor when it goes out of scope.
struct fd_closer {
  explicit fd_closer(int descriptor) : fd(descriptor) {}
  ~fd_closer() {
    if (fd >= 0) ::close(fd);
  }
  fd_closer(const fd_closer&) = delete;
  fd_closer& operator=(const fd_closer&) = delete;
  int fd;
};

// The run directory and one of its files, both opened without following
// links, so that a file outside tmp/ cannot be reached through either.
struct run_file {
  fd_closer dir;
  fd_closer file;
};

// The run directory, not through a link; -1 with errno set when it cannot be
// opened or the id is not a run id.
int open_run_dir(const fs::path& workdir, std::string_view id) {
  if (!is_run_id(id)) {
    errno = EINVAL;
    return -1;
  }
  return ::open(run_dir(workdir, id).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

run_file open_run_file(const fs::path& workdir, std::string_view id, std::string_view name) {
  const int dir = open_run_dir(workdir, id);
  if (dir < 0) return {fd_closer(-1), fd_closer(-1)};
  int file = ::openat(dir, std::string(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  return {fd_closer(dir), fd_closer(file)};
}

// Fills `bytes` from the start of the file; false when it ends first.
bool read_fully(int fd, std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

std::string new_run_id() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::random_device device;
  std::string id;
  id.reserve(kRunIdLength);
  while (id.size() < kRunIdLength) {
    std::uint32_t bits = device();
    for (int nibble = 0; nibble < 8 && id.size() < kRunIdLength; ++nibble, bits >>= 4) {
      id.push_back(kHex[bits & 0xF]);
    }
  }
  return id;
}

bool is_run_id(std::string_view text) {
  if (text.size() != kRunIdLength) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

fs::path runs_root(const fs::path& workdir) { return workdir / "tmp"; }

fs::path run_dir(const fs::path& workdir, std::string_view id) {
  return runs_root(workdir) / std::string(id);
}

bool create_run_dir(const fs::path& workdir, std::string_view id, std::string& error) {
  if (!is_run_id(id)) {
    error = "not a run id";
    return false;
  }
  fs::path dir = run_dir(workdir, id);
  if (::mkdir(dir.c_str(), 0755) != 0) {
    error = "cannot create " + dir.string() + ": " + std::generic_category().message(errno);
    return false;
  }
  return true;
}

void remove_run_dir(const fs::path& workdir, std::string_view id) {
  if (!is_run_id(id)) return;
  std::error_code ignored;
  fs::remove_all(run_dir(workdir, id), ignored);
}

std::optional<std::string> read_run_file(const fs::path& workdir, std::string_view id,
                                         std::string_view name, std::size_t max_bytes,
                                         std::string& error) {
  run_file opened = open_run_file(workdir, id, name);
  if (opened.file.fd < 0) {
    error = errno == ENOENT ? "it is missing" : "it cannot be opened";
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(opened.file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "it is not a regular file";
    return std::nullopt;
  }
  if (static_cast<std::size_t>(info.st_size) > max_bytes) {
    error = "it is larger than " + std::to_string(max_bytes) + " bytes";
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
  if (!read_fully(opened.file.fd, bytes)) {
    error = "it cannot be read";
    return std::nullopt;
  }
  return bytes;
}

void remove_run_file(const fs::path& workdir, std::string_view id, std::string_view name) {
  fd_closer dir(open_run_dir(workdir, id));
  if (dir.fd >= 0) ::unlinkat(dir.fd, std::string(name).c_str(), 0);
}

bool write_run_file(const fs::path& workdir, std::string_view id, std::string_view name,
                    std::string_view content, std::string& error) {
  fd_closer dir(open_run_dir(workdir, id));
  fd_closer file(dir.fd < 0 ? -1
                            : ::openat(dir.fd, std::string(name).c_str(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (file.fd < 0) {
    error = "it cannot be created: " + std::generic_category().message(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t wrote = ::write(file.fd, content.data() + done, content.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = "it cannot be written: " + std::generic_category().message(errno);
      ::unlinkat(dir.fd, std::string(name).c_str(), 0);  // never a part of it
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

std::optional<std::string> read_chart(const fs::path& workdir, std::string_view id) {
  std::string ignored;
  return read_run_file(workdir, id, kChartName, kMaxChartBytes, ignored);
}

std::string chart_fault(const fs::path& workdir, std::string_view id) {
  run_file chart = open_run_file(workdir, id, kChartName);
  if (chart.file.fd < 0) {
    return errno == ENOENT ? "no image was written" : "the image cannot be opened";
  }
  struct stat info {};
  if (::fstat(chart.file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return "the image is not a regular file";
  }
  if (info.st_size == 0) return "the image is empty";
  if (static_cast<std::size_t>(info.st_size) > kMaxChartBytes) return "the image is too large";
  std::string signature(kPngSignature.size(), '\0');
  if (static_cast<std::size_t>(info.st_size) < signature.size() ||
      !read_fully(chart.file.fd, signature) || signature != kPngSignature) {
    return "the image is not a PNG file";
  }
  // Readable by a front server that runs as another user, whatever the umask.
  ::fchmod(chart.file.fd, 0644);
  ::fchmod(chart.dir.fd, 0755);
  return "";
}

std::size_t sweep_run_dirs(const fs::path& workdir, std::chrono::seconds retention,
                           const std::function<bool(std::string_view)>& in_use) noexcept {
  std::size_t removed = 0;
  // Runs in a thread of its own, where an exception would end the service:
  // every error is skipped, and the next sweep tries again.
  try {
    std::error_code ec;
    fs::directory_iterator entries(runs_root(workdir), ec);
    const auto now = fs::file_time_type::clock::now();
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
      const fs::directory_entry& entry = *entries;
      std::string name = entry.path().filename().string();
      std::error_code entry_ec;
      if (!is_run_id(name) || in_use(name)) continue;
      if (!entry.is_directory(entry_ec) || entry.is_symlink(entry_ec)) continue;
      auto changed = fs::last_write_time(entry.path(), entry_ec);
      if (entry_ec || now - changed < retention) continue;
      if (fs::remove_all(entry.path(), entry_ec) > 0 && !entry_ec) ++removed;
    }
  } catch (...) {
  }
  return removed;
}

namespace {

// The disk a run directory takes: its own blocks and its files'.
std::uintmax_t disk_bytes(const fs::path& dir) {
  struct stat info {};
  std::uintmax_t total = ::lstat(dir.c_str(), &info) == 0 ? info.st_blocks * 512ULL : 0;
  std::error_code ec;
  for (fs::directory_iterator files(dir, ec); !ec && files != fs::directory_iterator();
       files.increment(ec)) {
    if (::lstat(files->path().c_str(), &info) == 0) total += info.st_blocks * 512ULL;
  }
  return total;
}

struct kept_run {
  fs::file_time_type changed;
  std::uintmax_t bytes;
  fs::path path;
};

}  // namespace

std::size_t trim_run_dirs(const fs::path& workdir, std::uintmax_t max_bytes,
                          const std::function<bool(std::string_view)>& in_use) noexcept {
  std::size_t removed = 0;
  try {
    std::vector<kept_run> runs;
    std::uintmax_t total = 0;
    std::error_code ec;
    fs::directory_iterator entries(runs_root(workdir), ec);
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
      const fs::directory_entry& entry = *entries;
      std::error_code entry_ec;
      const std::string name = entry.path().filename().string();
      if (!is_run_id(name) || in_use(name)) continue;
      if (!entry.is_directory(entry_ec) || entry.is_symlink(entry_ec)) continue;
      runs.push_back({fs::last_write_time(entry.path(), entry_ec), disk_bytes(entry.path()),
                      entry.path()});
      total += runs.back().bytes;
    }
    if (total <= max_bytes) return 0;
    std::sort(runs.begin(), runs.end(),
              [](const kept_run& a, const kept_run& b) { return a.changed < b.changed; });
    for (const kept_run& run : runs) {
      if (total <= max_bytes) break;
      std::error_code run_ec;
      if (fs::remove_all(run.path, run_ec) > 0 && !run_ec) {
        total -= std::min(total, run.bytes);
        ++removed;
      }
    }
  } catch (...) {
  }
  return removed;
}

}  // namespace polygons::web
