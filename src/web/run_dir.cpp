#include "web/run_dir.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <system_error>

namespace polygons::web {
namespace fs = std::filesystem;
namespace {

// Closes a file descriptor when it goes out of scope.
struct fd_closer {
  int fd;
  ~fd_closer() {
    if (fd >= 0) ::close(fd);
  }
};

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

std::optional<std::string> read_chart(const fs::path& workdir, std::string_view id) {
  if (!is_run_id(id)) return std::nullopt;
  // Neither the run directory nor the chart may be a link: opened step by step
  // with O_NOFOLLOW, a file outside tmp/ cannot be reached through them.
  fd_closer dir{::open(run_dir(workdir, id).c_str(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
  if (dir.fd < 0) return std::nullopt;
  fd_closer file{::openat(dir.fd, std::string(kChartName).c_str(),
                          O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::size_t>(info.st_size) > kMaxChartBytes) {
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t got = ::read(file.fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

std::size_t sweep_run_dirs(const fs::path& workdir, std::chrono::seconds retention,
                           const std::function<bool(std::string_view)>& in_use) {
  std::error_code ec;
  fs::directory_iterator entries(runs_root(workdir), ec);
  if (ec) return 0;
  const auto now = fs::file_time_type::clock::now();
  std::size_t removed = 0;
  for (const fs::directory_entry& entry : entries) {
    std::string name = entry.path().filename().string();
    if (!is_run_id(name) || in_use(name)) continue;
    if (!entry.is_directory(ec) || entry.is_symlink(ec)) continue;
    auto changed = fs::last_write_time(entry.path(), ec);
    if (ec || now - changed < retention) continue;
    if (fs::remove_all(entry.path(), ec) > 0 && !ec) ++removed;
  }
  return removed;
}

}  // namespace polygons::web
