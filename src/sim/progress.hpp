#pragma once
// A progress line for long runs on a terminal: the share of the trials done
// and the time left, overwritten in place on standard error and cleared at
// the end, so that the report on standard output is never touched.

#include <chrono>
#include <cstddef>
#include <string>

namespace polygons::sim {

// The text of the line, e.g. " polygons: 42% of the trials done, about 13 s left".
std::string progress_text(double fraction_done, double seconds_left);

class ProgressLine {
 public:
  explicit ProgressLine(bool enabled);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() { clear(); }

  // Cheap to call often: the line appears once the run has lasted a second
  // and is refreshed a few times a second.
  void update(double fraction_done);
  // Removes the line, if one was shown.
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  Clock::time_point start_;
  Clock::time_point next_show_;
  std::size_t shown_length_ = 0;
};

}  // namespace polygons::sim
