#pragma once
// The run clock: the start stamp before the banner and the end report after
// the main sequence, with the tick-counter seconds and the elapsed wall-clock
// time between the two date-time stamps.

#include <array>
#include <cstdint>
#include <functional>

#include "text/io.hpp"
#include "text/line.hpp"

namespace polygons::run {

// One date-time record, in this order: year, month (1..12), day of the month,
// difference of local time from UTC in minutes (signed), hour (0..23), minute,
// second, millisecond.
using DateTime = std::array<std::int32_t, 8>;

// Ticks per second of the tick counter.
inline constexpr std::int32_t kTicksPerSecond = 10000;

// Where the clock readings come from. The defaults read the system: the local
// date and time, and a monotonic counter that does not jump when the system
// clock is set. Tests put any instants they like in their place.
struct ClockReadings {
  std::function<DateTime()> now;
  std::function<std::int32_t()> ticks;
};

// The local date and time of the system at this moment.
DateTime local_date_time();
// A monotonic tick counter at kTicksPerSecond ticks per second, cut to 32 bits
// (it wraps around, like any 32-bit counter).
std::int32_t monotonic_ticks();
// The readings of the system clocks.
ClockReadings system_readings();

// The run-clock state, kept between the calls of timer: one per run.
struct RunClock {
  std::int32_t IBEGIN = 1;   // 1 until the first call of timer, 0 afterwards
  std::int32_t ICOUNT0 = 0;  // tick count at the first call
  DateTime IVAL0{};          // date and time at the first call
  DateTime IVAL1{};          // date and time at the latest later call
};

// The first call writes the start stamp; every later call writes the end
// report (a line of two blanks, the start stamp, the end line with the
// tick-counter seconds, and the elapsed time) measured from that start.
void timer(RunClock& clock, text::LineSink& out, const ClockReadings& readings);
void timer(RunClock& clock, text::LineSink& out);

// Writes the elapsed days, hours, minutes and seconds from `IVAL0` to `IVAL1`,
// or a warning when the two lie in different months or years. The two
// stamps are compared as UTC, so a change of the UTC offset in between does
// not count; when they still give a negative time (the system clock was set
// back), `tick_seconds`, the tick counter's seconds over the same span, are
// written instead, and 0 when those are negative too.
void delta_time(const DateTime& IVAL0, const DateTime& IVAL1, double tick_seconds,
                text::LineSink& out);

// The 33-character stamp line of one date-time record.
text::Line stamp_line(const DateTime& when);

// Seconds between two tick counts: the 32-bit difference, wrapping around
// when the counter has restarted in between.
double elapsed_seconds(std::int32_t count0, std::int32_t count);

}  // namespace polygons::run
