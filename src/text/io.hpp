#pragma once
// The I/O layer: line output that is handed to the operating system as each
// line is written, warnings on standard error, and the two ways a run can
// stop before the end of main.

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace polygons::text {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 2;   // parameters unreadable or refused
inline constexpr int kExitIoFailure = 3;  // a file or stream could not be opened or written

// A failure that ends the run at once: the message goes to standard error and
// the process exits with `status`. What was written before stays.
class FatalError : public std::runtime_error {
 public:
  FatalError(const std::string& message, int status)
      : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// Writes "polygons: <message>" and a newline to standard error in one write,
// for warnings that do not stop the run (and for the fatal error's message at
// the end of main). A failure to write it is ignored: there is nowhere left to
// report it.
void warn(std::string_view message);

// An orderly early end (usage reminder, no plotting directive): exit status 0,
// nothing more written.
struct RunEnded {};

// Where report and file lines go. Every line is complete when it is handed over.
class LineSink {
 public:
  virtual ~LineSink() = default;
  // Writes `line` followed by a newline; throws FatalError when that fails.
  virtual void put_line(std::string_view line) = 0;
};

// A C stream that is closed when it goes out of scope; take it back with
// release() to close it yourself and see whether the close failed.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using OpenFile = std::unique_ptr<std::FILE, FileCloser>;

// Lines to a C stream, flushed one by one so that another process (or a
// reader of a pipe) sees each line as soon as it is written. A failed write or
// flush throws FatalError naming the stream.
class FileSink : public LineSink {
 public:
  FileSink(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}
  void put_line(std::string_view line) override;
  const std::string& name() const { return name_; }

 private:
  std::FILE* file_;
  std::string name_;
};

// Lines kept in memory, for tests and for building text before it is written.
class StringSink : public LineSink {
 public:
  void put_line(std::string_view line) override {
    text_.append(line);
    text_.push_back('\n');
  }
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  std::string text_;
};

}  // namespace polygons::text
