#include "run/clock.hpp"

#include <time.h>

namespace polygons::run {
namespace {

// Positions within a DateTime record.
enum Field { kYear, kMonth, kDay, kUtcMinutes, kHour, kMinute, kSecond, kMillisecond };

// One instant as seconds within its month: ms / 1000, plus s, plus 60 m, plus
// 3600 h, plus 86400 D, added in that order.
double seconds_in_month(const DateTime& when) {
  double t = when[kMillisecond] / 1000.0;
  t += when[kSecond];
  t += 60 * when[kMinute];
  t += 3600 * when[kHour];
  t += 86400 * when[kDay];
  return t;
}

text::Line end_line(const DateTime& when, double seconds) {
  return stamp_line(when).col(40).lit("\"CPU\":").f(seconds, 10, 1).lit(" sec.").col(71).lit("End");
}

text::Line month_warning_line(const DateTime& start, const DateTime& end) {
  return text::Line()
      .lit(" %Wrn Different years (")
      .d(start[kYear], 4)
      .lit(", ")
      .d(end[kYear], 4)
      .lit(") or months (")
      .d(start[kMonth], 2)
      .lit(", ")
      .d(end[kMonth], 2)
      .lit("): no calculation done.");
}

text::Line elapsed_line(double t) {
  const auto days = static_cast<std::int32_t>(t / 86400.0);
  const auto whole = static_cast<std::int32_t>(t);
  const std::int32_t rest = whole % 86400;
  const std::int32_t hours = rest / 3600;
  const std::int32_t minutes = (rest % 3600) / 60;
  const double seconds = t - static_cast<double>(86400 * days + 3600 * hours + 60 * minutes);
  return text::Line()
      .blanks(39)
      .d(days, 2)
      .lit("d ")
      .d(hours, 2, 2)
      .lit("h ")
      .d(minutes, 2, 2)
      .lit("m ")
      .f(seconds, 5, 2)
      .lit("s");
}

}  // namespace

DateTime local_date_time() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return DateTime{local.tm_year + 1900,
                  local.tm_mon + 1,
                  local.tm_mday,
                  static_cast<std::int32_t>(local.tm_gmtoff / 60),
                  local.tm_hour,
                  local.tm_min,
                  local.tm_sec,
                  static_cast<std::int32_t>(now.tv_nsec / 1000000)};
}

std::int32_t monotonic_ticks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ticks = static_cast<std::uint64_t>(now.tv_sec) * kTicksPerSecond +
                     static_cast<std::uint64_t>(now.tv_nsec) / (1000000000 / kTicksPerSecond);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ticks));
}

ClockReadings system_readings() { return ClockReadings{local_date_time, monotonic_ticks}; }

text::Line stamp_line(const DateTime& when) {
  return text::Line()
      .lit(" ")
      .d(when[kYear], 4)
      .lit("-")
      .d(when[kMonth], 2, 2)
      .lit("-")
      .d(when[kDay], 2, 2)
      .lit(" UTC")
      .d_signed(when[kUtcMinutes], 5, 4)
      .d(when[kHour], 3)
      .lit(":")
      .d(when[kMinute], 2, 2)
      .lit(":")
      .d(when[kSecond], 2, 2)
      .lit(".")
      .d(when[kMillisecond], 3, 3);
}

double elapsed_seconds(std::int32_t count0, std::int32_t count) {
  const auto difference =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(count) - static_cast<std::uint32_t>(count0));
  return static_cast<double>(difference) / static_cast<double>(kTicksPerSecond);
}

void delta_time(const DateTime& IVAL0, const DateTime& IVAL1, double tick_seconds,
                text::LineSink& out) {
  if (IVAL1[kYear] != IVAL0[kYear] || IVAL1[kMonth] != IVAL0[kMonth]) {
    text::put(out, month_warning_line(IVAL0, IVAL1));
    return;
  }
  // Local times on both sides of a change of the UTC offset (a daylight-saving
  // change) are compared as UTC; without a change the correction is 0.
  const std::int32_t offset_change = IVAL1[kUtcMinutes] - IVAL0[kUtcMinutes];
  double t = seconds_in_month(IVAL1) - seconds_in_month(IVAL0);
  if (offset_change != 0) t -= 60.0 * offset_change;
  // Negative only when the system clock was set back during the run.
  if (t < 0.0) t = tick_seconds > 0.0 ? tick_seconds : 0.0;
  text::put(out, elapsed_line(t));
}

void timer(RunClock& clock, text::LineSink& out, const ClockReadings& readings) {
  if (clock.IBEGIN == 1) {
    clock.IBEGIN = 0;
    clock.ICOUNT0 = readings.ticks();
    clock.IVAL0 = readings.now();
    text::put(out, stamp_line(clock.IVAL0));
    return;
  }
  const std::int32_t count = readings.ticks();
  clock.IVAL1 = readings.now();
  text::put(out, text::Line().blanks(2));
  text::put(out, stamp_line(clock.IVAL0));
  const double tick_seconds = elapsed_seconds(clock.ICOUNT0, count);
  text::put(out, end_line(clock.IVAL1, tick_seconds));
  delta_time(clock.IVAL0, clock.IVAL1, tick_seconds, out);
}

void timer(RunClock& clock, text::LineSink& out) { timer(clock, out, system_readings()); }

}  // namespace polygons::run
