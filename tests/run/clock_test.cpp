#include "run/clock.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/io.hpp"

namespace polygons::run {
namespace {

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string stamp(const DateTime& when) { return stamp_line(when).lines().at(0); }

std::string elapsed(const DateTime& start, const DateTime& end) {
  text::StringSink out;
  delta_time(start, end, 0.0, out);
  return out.text();
}

// Readings that hand out the given instants and tick counts one call after
// the other.
struct ScriptedClock {
  std::vector<DateTime> instants;
  std::vector<std::int32_t> counts;
  std::size_t next_instant = 0;
  std::size_t next_count = 0;

  ClockReadings readings() {
    return ClockReadings{[this] { return instants.at(next_instant++); },
                         [this] { return counts.at(next_count++); }};
  }
};

// The lines the second timer call writes, the end report of a run that
// starts at `start` with tick count `count0` and ends at `end` with `count`.
std::vector<std::string> end_report(const DateTime& start, const DateTime& end,
                                    std::int32_t count0, std::int32_t count) {
  ScriptedClock scripted{{start, end}, {count0, count}};
  RunClock clock;
  text::StringSink out;
  timer(clock, out, scripted.readings());
  out.clear();
  timer(clock, out, scripted.readings());
  return split_lines(out.text());
}

// year, month, day, UTC minutes, hour, minute, second, millisecond
constexpr DateTime kStart{2016, 1, 26, 60, 22, 53, 7, 42};
constexpr DateTime kEnd{2016, 1, 26, 60, 22, 54, 9, 542};

TEST(StampLine, Layout) {
  struct Case {
    DateTime when;
    const char* expected;
    const char* why;
  };
  const Case cases[] = {
      {{2016, 1, 26, 60, 22, 53, 7, 42}, " 2016-01-26 UTC+0060 22:53:07.042", "one hour east"},
      {{2016, 12, 5, -300, 3, 4, 5, 6}, " 2016-12-05 UTC-0300  3:04:05.006",
       "five hours west; an hour below 10 gets a second blank"},
      {{2024, 6, 30, 330, 0, 0, 0, 0}, " 2024-06-30 UTC+0330  0:00:00.000",
       "five and a half hours east, in minutes"},
      {{2024, 6, 30, 0, 23, 59, 59, 999}, " 2024-06-30 UTC+0000 23:59:59.999", "UTC itself carries a plus"},
      {{2026, 1, 5, 60, 9, 3, 7, 45}, " 2026-01-05 UTC+0060  9:03:07.045",
       "month, day, minute, second and millisecond with leading zeros"},
      {{2026, 12, 31, -300, 23, 59, 59, 999}, " 2026-12-31 UTC-0300 23:59:59.999",
       "every field at its widest"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(stamp(c.when), c.expected) << c.why;
    EXPECT_EQ(stamp(c.when).size(), 33u) << c.why;
  }
}

TEST(DeltaTime, ElapsedLineLayout) {
  struct Case {
    DateTime start;
    DateTime end;
    const char* fields;  // what follows the 39 leading blanks
    const char* why;
  };
  const Case cases[] = {
      {{2016, 3, 5, 60, 23, 59, 58, 500}, {2016, 3, 6, 60, 0, 0, 1, 250}, " 0d 00h 00m  2.75s",
       "midnight inside a month"},
      {{2016, 3, 5, 60, 10, 0, 0, 0}, {2016, 3, 5, 60, 10, 0, 59, 996}, " 0d 00h 00m 60.00s",
       "59.996 seconds rounds up; the minutes are not carried"},
      {{2016, 3, 1, 0, 0, 0, 0, 0}, {2016, 3, 13, 0, 7, 8, 9, 10}, "12d 07h 08m  9.01s",
       "days, hours and minutes in their fields"},
      {{2016, 3, 5, 0, 12, 0, 0, 0}, {2016, 3, 5, 0, 12, 0, 0, 0}, " 0d 00h 00m  0.00s", "no time at all"},
      {{2016, 3, 1, 0, 0, 0, 0, 0}, {2016, 3, 31, 0, 23, 59, 59, 989}, "30d 23h 59m 59.99s",
       "the longest span inside a month"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(elapsed(c.start, c.end), std::string(39, ' ') + c.fields + "\n") << c.why;
  }
}

TEST(DeltaTime, WarnsWhenMonthOrYearChanges) {
  struct Case {
    DateTime start;
    DateTime end;
    const char* expected;
    const char* why;
  };
  const Case cases[] = {
      {{2016, 1, 31, 60, 23, 59, 59, 900}, {2016, 2, 1, 60, 0, 0, 0, 200},
       " %Wrn Different years (2016, 2016) or months ( 1,  2): no calculation done.\n", "end of January"},
      {{2015, 12, 31, 0, 23, 59, 59, 0}, {2016, 1, 1, 0, 0, 0, 1, 0},
       " %Wrn Different years (2015, 2016) or months (12,  1): no calculation done.\n", "end of the year"},
      {{2015, 6, 10, 0, 8, 0, 0, 0}, {2016, 6, 10, 0, 8, 0, 0, 0},
       " %Wrn Different years (2015, 2016) or months ( 6,  6): no calculation done.\n",
       "same month a year later"},
      {{2026, 1, 31, 0, 12, 0, 0, 0}, {2026, 2, 1, 0, 12, 0, 0, 0},
       " %Wrn Different years (2026, 2026) or months ( 1,  2): no calculation done.\n",
       "one-digit months right-aligned"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(elapsed(c.start, c.end), c.expected) << c.why;
  }
}

TEST(ElapsedSeconds, TickDifference) {
  EXPECT_DOUBLE_EQ(elapsed_seconds(1000, 26000), 2.5);
  EXPECT_DOUBLE_EQ(elapsed_seconds(5, 5), 0.0);
  // The counter wraps around between the two readings: still 2 seconds.
  EXPECT_DOUBLE_EQ(elapsed_seconds(INT32_MAX - 9999, INT32_MIN + 10000), 2.0);
  // A counter that went backwards gives a negative difference, used unchanged.
  EXPECT_DOUBLE_EQ(elapsed_seconds(30000, 10000), -2.0);
}

TEST(Timer, FirstCallWritesOnlyTheStamp) {
  ScriptedClock scripted{{kStart}, {123}};
  RunClock clock;
  text::StringSink out;
  timer(clock, out, scripted.readings());
  EXPECT_EQ(out.text(), " 2016-01-26 UTC+0060 22:53:07.042\n");
  EXPECT_EQ(clock.IBEGIN, 0);
  EXPECT_EQ(clock.ICOUNT0, 123);
  EXPECT_EQ(clock.IVAL0, kStart);
}

TEST(Timer, SecondCallWritesTheFourLinesOfTheEndReport) {
  ScriptedClock scripted{{kStart, kEnd}, {1000, 1000 + 625000}};
  RunClock clock;
  text::StringSink out;
  timer(clock, out, scripted.readings());
  out.clear();
  timer(clock, out, scripted.readings());
  const std::vector<std::string> lines = split_lines(out.text());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "  ");
  EXPECT_EQ(lines[1], " 2016-01-26 UTC+0060 22:53:07.042");
  EXPECT_EQ(lines[2], " 2016-01-26 UTC+0060 22:54:09.542      \"CPU\":      62.5 sec.          End");
  EXPECT_EQ(lines[2].find("\"CPU\":"), 39u);
  EXPECT_EQ(lines[2].find("End"), 70u);
  EXPECT_EQ(lines[3], std::string(39, ' ') + " 0d 00h 01m  2.50s");
  EXPECT_EQ(clock.IVAL1, kEnd);
}

TEST(Timer, EndLineSeconds) {
  struct Case {
    std::int32_t count0;
    std::int32_t count;
    const char* field;  // the ten columns after "CPU":
    const char* why;
  };
  const Case cases[] = {
      {0, 499, "       0.0", "below 0.05 seconds"},
      {0, 500, "       0.1", "0.05 seconds rounds up"},
      {INT32_MAX - 4999, INT32_MIN + 5000, "       1.0", "the counter wraps around"},
      {0, 999999999, "  100000.0", "a long run"},
  };
  for (const Case& c : cases) {
    const std::string end_line = end_report(kStart, kEnd, c.count0, c.count).at(2);
    EXPECT_EQ(end_line.substr(45, 10), c.field) << c.why;
  }
}

TEST(Timer, EndLineColumns) {
  const DateTime start{2026, 1, 5, 330, 9, 59, 59, 960};
  const DateTime end{2026, 1, 5, 330, 10, 0, 0, 0};
  const std::string end_line = end_report(start, end, 0, 400).at(2);
  EXPECT_EQ(end_line, " 2026-01-05 UTC+0330 10:00:00.000      \"CPU\":       0.0 sec.          End");
  EXPECT_EQ(end_line.size(), 73u);
}

TEST(Timer, EndReportAcrossMonthsKeepsTheEndLine) {
  const DateTime start{2016, 1, 31, 60, 23, 59, 59, 900};
  const DateTime end{2016, 2, 1, 60, 0, 0, 0, 200};
  ScriptedClock scripted{{start, end}, {0, 3000}};
  RunClock clock;
  text::StringSink out;
  timer(clock, out, scripted.readings());
  out.clear();
  timer(clock, out, scripted.readings());
  const std::vector<std::string> lines = split_lines(out.text());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], " 2016-02-01 UTC+0060  0:00:00.200      \"CPU\":       0.3 sec.          End");
  EXPECT_EQ(lines[3], " %Wrn Different years (2016, 2016) or months ( 1,  2): no calculation done.");
}

TEST(Timer, ElapsedTimeIsTheTrueDurationWhenLocalTimeJumps) {
  struct Case {
    DateTime start;
    DateTime end;
    std::int32_t ticks;  // tick-counter difference, the true duration
    const char* fields;  // what follows the 39 leading blanks
    const char* why;
  };
  const Case cases[] = {
      {{2016, 10, 30, 120, 2, 59, 50, 0}, {2016, 10, 30, 60, 2, 0, 10, 500}, 205000,
       " 0d 00h 00m 20.50s", "fall-back: local time goes from 3:00 back to 2:00"},
      {{2016, 3, 27, 60, 1, 59, 50, 0}, {2016, 3, 27, 120, 3, 0, 10, 500}, 205000,
       " 0d 00h 00m 20.50s", "spring-forward: local time goes from 2:00 on to 3:00"},
      {{2016, 11, 6, -240, 1, 30, 0, 0}, {2016, 11, 7, -300, 0, 30, 0, 0}, 864000000,
       " 1d 00h 00m  0.00s", "fall-back west of UTC, in a run of a day"},
      {{2016, 5, 9, 0, 12, 0, 30, 0}, {2016, 5, 9, 0, 12, 0, 10, 0}, 123456,
       " 0d 00h 00m 12.35s", "the system clock set back: the tick counter counts"},
      {{2016, 5, 9, 0, 12, 0, 30, 0}, {2016, 5, 9, 0, 12, 0, 10, 0}, -5,
       " 0d 00h 00m  0.00s", "both set back: never a negative time"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> lines = end_report(c.start, c.end, 1000, 1000 + c.ticks);
    ASSERT_EQ(lines.size(), 4u) << c.why;
    EXPECT_EQ(lines[3], std::string(39, ' ') + c.fields) << c.why;
  }
}

TEST(Timer, LaterCallsMeasureFromTheSameStart) {
  const DateTime later{2016, 1, 26, 60, 23, 0, 0, 0};
  ScriptedClock scripted{{kStart, kEnd, later}, {0, 10000, 20000}};
  RunClock clock;
  text::StringSink out;
  timer(clock, out, scripted.readings());
  timer(clock, out, scripted.readings());
  out.clear();
  timer(clock, out, scripted.readings());
  const std::vector<std::string> lines = split_lines(out.text());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], " 2016-01-26 UTC+0060 22:53:07.042");
  EXPECT_EQ(lines[2].substr(45, 10), "       2.0");
  EXPECT_EQ(lines[3], std::string(39, ' ') + " 0d 00h 06m 52.96s");
}

TEST(SystemReadings, AreAPlausibleLocalTime) {
  const DateTime now = local_date_time();
  EXPECT_GE(now[0], 2000);
  EXPECT_GE(now[1], 1);
  EXPECT_LE(now[1], 12);
  EXPECT_GE(now[2], 1);
  EXPECT_LE(now[2], 31);
  EXPECT_LE(std::abs(now[3]), 18 * 60);
  EXPECT_LE(now[4], 23);
  EXPECT_LE(now[5], 59);
  EXPECT_LE(now[6], 60);
  EXPECT_LE(now[7], 999);
  const std::int32_t first = monotonic_ticks();
  EXPECT_GE(elapsed_seconds(first, monotonic_ticks()), 0.0);
}

}  // namespace
}  // namespace polygons::run
