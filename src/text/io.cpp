#include "text/io.hpp"

#include <cerrno>
#include <cstring>

namespace polygons::text {

void warn(std::string_view message) {
  constexpr std::string_view kPrefix = "polygons: ";
  std::string line;
  line.reserve(kPrefix.size() + message.size() + 1);
  line.append(kPrefix).append(message).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void FileSink::put_line(std::string_view line) {
  errno = 0;
  bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
            std::fputc('\n', file_) != EOF && std::fflush(file_) == 0;
  if (!ok) {
    int err = errno;
    throw FatalError("cannot write to " + name_ + ": " +
                         (err != 0 ? std::strerror(err) : "write failed"),
                     kExitIoFailure);
  }
}

}  // namespace polygons::text
