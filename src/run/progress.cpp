#include "run/progress.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

namespace polygons::run {

namespace {

constexpr auto kFirstShow = std::chrono::seconds(1);
constexpr auto kRefresh = std::chrono::milliseconds(250);

std::string time_left_text(double seconds) {
  if (!(seconds >= 0.0) || seconds > 1e8) return "time left unknown";
  if (seconds < 100.0)
    return "about " + std::to_string(static_cast<long>(std::ceil(seconds))) + " s left";
  const double minutes = seconds / 60.0;
  if (minutes < 100.0)
    return "about " + std::to_string(static_cast<long>(std::ceil(minutes))) + " min left";
  return "about " + std::to_string(static_cast<long>(std::ceil(minutes / 60.0))) + " h left";
}

}  // namespace

std::string progress_text(double fraction_done, double seconds_left, std::string_view subject) {
  double percent = std::floor(fraction_done * 100.0);
  if (!(percent >= 0.0)) percent = 0.0;
  if (percent > 100.0) percent = 100.0;
  return " polygons: " + std::to_string(static_cast<int>(percent)) + "% of " + std::string(subject) + " done, " +
         time_left_text(seconds_left);
}

ProgressLine::ProgressLine(std::string subject)
    : start_(Clock::now()), next_show_(start_ + kFirstShow), subject_(std::move(subject)) {}

void ProgressLine::start() {
  start_ = Clock::now();
  next_show_ = start_ + kFirstShow;
}

void ProgressLine::update(double fraction_done) {
  const Clock::time_point now = Clock::now();
  if (now < next_show_) return;
  next_show_ = now + kRefresh;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double left = fraction_done > 0.0 ? elapsed * (1.0 - fraction_done) / fraction_done : -1.0;
  std::string text = progress_text(fraction_done, left, subject_);
  const std::size_t length = text.size();
  if (length < shown_length_) text.append(shown_length_ - length, ' ');
  std::fprintf(stderr, "\r%s", text.c_str());
  std::fflush(stderr);
  shown_length_ = length;
}

void ProgressLine::finish() {
  if (shown_length_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown_length_), "");
  std::fflush(stderr);
  shown_length_ = 0;
}

}  // namespace polygons::run
