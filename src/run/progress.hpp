#pragma once
// A progress line for long runs on a terminal: the share of the trials done
// and the time left, overwritten in place on standard error and cleared at
// the end, so that the report on standard output is never touched.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "sim/engine.hpp"

namespace polygons::run {

// The text of the line, e.g. " polygons: 42% of the trials done, about 13 s
// left"; `subject` names what the fraction is of.
std::string progress_text(double fraction_done, double seconds_left,
                          std::string_view subject = "the trials");

// The line of one run, for the engine to drive.
class ProgressLine : public sim::ProgressSink {
 public:
  explicit ProgressLine(std::string subject = "the trials");
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() override { finish(); }

  // Starts the clock of the time left.
  void start() override;
  // Cheap to call often: the line appears once the run has lasted a second
  // and is refreshed a few times a second.
  void update(double fraction_done) override;
  // Removes the line, if one was shown.
  void finish() override;

 private:
  using Clock = std::chrono::steady_clock;
  Clock::time_point start_;
  Clock::time_point next_show_;
  std::size_t shown_length_ = 0;
  std::string subject_;
};

}  // namespace polygons::run
