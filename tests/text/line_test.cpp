// Whole report and file lines built with the line writer: columns, moves
// that overwrite, several lines, and the hand-over to a sink.

#include <gtest/gtest.h>

#include <string>

#include "text/line.hpp"

namespace polygons::text {
namespace {

std::string only_line(const Line& line) {
  EXPECT_EQ(line.lines().size(), 1u);
  return line.lines().front();
}

TEST(LineColumns, MovesAndOverwrites) {
  EXPECT_EQ(only_line(Line().lit("ab").col(5).lit("c")), "ab  c");
  EXPECT_EQ(only_line(Line().lit("abcdef").col(3).lit("XY")), "abXYef");
  EXPECT_EQ(only_line(Line().lit("abc").col(4).lit("d")), "abcd");
  EXPECT_EQ(only_line(Line().lit("abc").col(2).lit("WXYZ")), "aWXYZ");
  EXPECT_EQ(only_line(Line().col(3)), "  ");
  EXPECT_EQ(only_line(Line().blanks(3).lit("x").blanks(1).lit("y")), "   x y");
  EXPECT_EQ(only_line(Line().lit("ab").col(1).blanks(1)), " b");
  EXPECT_EQ(only_line(Line()), "");
}

TEST(LineColumns, SlashStartsANewLine) {
  Line line;
  line.lit("abc").col(10).lit("x").slash().lit("d").slash().slash().col(2).lit("e");
  ASSERT_EQ(line.lines().size(), 4u);
  EXPECT_EQ(line.lines()[0], "abc      x");
  EXPECT_EQ(line.lines()[1], "d");
  EXPECT_EQ(line.lines()[2], "");
  EXPECT_EQ(line.lines()[3], " e");
  EXPECT_EQ(line.text(), "abc      x\nd\n\n e\n");
}

TEST(LineColumns, PutHandsEveryLineToTheSink) {
  StringSink sink;
  put(sink, Line().lit("one").slash().lit("two"));
  put(sink, Line().lit("three"));
  EXPECT_EQ(sink.text(), "one\ntwo\nthree\n");
}

Line stamp(int year, int month, int day, int utc_minutes, int hour, int minute, int second,
           int millisecond) {
  Line line;
  line.lit(" ").d(year, 4).lit("-").d(month, 2, 2).lit("-").d(day, 2, 2).lit(" UTC");
  line.d_signed(utc_minutes, 5, 4).d(hour, 3).lit(":").d(minute, 2, 2).lit(":");
  line.d(second, 2, 2).lit(".").d(millisecond, 3, 3);
  return line;
}

TEST(ReportLayouts, RunClock) {
  EXPECT_EQ(only_line(stamp(2026, 1, 5, 60, 9, 3, 7, 45)), " 2026-01-05 UTC+0060  9:03:07.045");
  EXPECT_EQ(only_line(stamp(2026, 12, 31, -300, 23, 59, 59, 999)),
            " 2026-12-31 UTC-0300 23:59:59.999");

  Line end = stamp(2026, 1, 5, 330, 10, 0, 0, 0);
  end.col(40).lit("\"CPU\":").f(0.04, 10, 1).lit(" sec.").col(71).lit("End");
  EXPECT_EQ(only_line(end), " 2026-01-05 UTC+0330 10:00:00.000      \"CPU\":       0.0 sec."
                            "          End");
  EXPECT_EQ(only_line(end).size(), 73u);

  Line elapsed;
  elapsed.blanks(39).d(0, 2).lit("d ").d(0, 2, 2).lit("h ").d(0, 2, 2).lit("m ");
  elapsed.f(2.75, 5, 2).lit("s");
  EXPECT_EQ(only_line(elapsed), std::string(39, ' ') + " 0d 00h 00m  2.75s");

  Line warning;
  warning.lit(" %Wrn Different years (").d(2026, 4).lit(", ").d(2026, 4).lit(") or months (");
  warning.d(1, 2).lit(", ").d(2, 2).lit("): no calculation done.");
  EXPECT_EQ(only_line(warning),
            " %Wrn Different years (2026, 2026) or months ( 1,  2): no calculation done.");
}

TEST(ReportLayouts, Banner) {
  Line banner;
  banner.lit(" *** ").s("Simulation of random polygons").lit(" ***").col(68);
  banner.lit("(").s("Jan-2016").lit(", QZ)").slash().col(72).lit("[").s("26_22:53").lit("]");
  ASSERT_EQ(banner.lines().size(), 2u);
  EXPECT_EQ(banner.lines()[0], " *** Simulation of random polygons ***" + std::string(29, ' ') +
                                   "(Jan-2016, QZ)");
  EXPECT_EQ(banner.lines()[1], std::string(71, ' ') + "[26_22:53]");
  EXPECT_EQ(banner.lines()[0].size(), 81u);
  EXPECT_EQ(banner.lines()[1].size(), 81u);
}

TEST(ReportLayouts, ResultLines) {
  EXPECT_EQ(only_line(Line().lit(" Extreme values,").col(18).G(0.0, 12, 4).G(5.196152, 12, 4)
                          .lit("| 0, 2 n R SIN(Pi/n)")),
            " Extreme values,    0.000       5.196    | 0, 2 n R SIN(Pi/n)");
  EXPECT_EQ(only_line(Line().lit(" Average, stdev,").col(18).G(3.8061, 12, 4).G(1.0934, 12, 4)
                          .col(42).lit("|")),
            " Average, stdev,    3.806       1.093    |");
  EXPECT_EQ(only_line(Line().lit(" Mode x, y,").col(18).G(4.959963, 12, 4).G(0.457261, 12, 4)
                          .col(42).lit("|")),
            " Mode x, y,         4.960      0.4573    |");
}

TEST(ReportLayouts, ParameterLines) {
  EXPECT_EQ(only_line(Line().lit(" .Sides,").col(30).d(5, 8).col(42).lit("| (sides of polygom)")),
            " .Sides,                            5    | (sides of polygom)");
  EXPECT_EQ(only_line(Line().lit(" Radius,").col(30).G(1.0, 12, 4).col(42)
                          .lit("| (radius of circle)")),
            " Radius,                        1.000    | (radius of circle)");
  EXPECT_EQ(only_line(Line().lit(" N. of trials (N),").col(32).E(1e6, 10, 3).col(42).lit("| = ")
                          .s("1000000").lit("; seed, ").s("4711")),
            " N. of trials (N),              1.000E+06| = 1000000; seed, 4711");
  EXPECT_EQ(only_line(Line().lit(" klasses,").col(32).d(21, 6).col(42).lit("|")),
            " klasses,                          21    |");
  EXPECT_EQ(only_line(Line().lit(" Show values ? {0|1}").col(36).d(0, 2).col(42).lit("|")),
            " Show values ? {0|1}                0    |");
  EXPECT_EQ(only_line(Line().lit(" %Wrn Reducing zn to ").E(2.33e9, 10, 3)),
            " %Wrn Reducing zn to  2.330E+09");
  EXPECT_EQ(only_line(Line().lit(" %Wrn Augmenting N to").E(1000.0, 10, 3)),
            " %Wrn Augmenting N to 1.000E+03");
  std::string ruler = only_line(Line().blanks(1).lit(std::string(40, '-')).lit("+")
                                    .lit(std::string(39, '-')));
  EXPECT_EQ(ruler.size(), 81u);
  EXPECT_EQ(ruler.find('+'), 41u);
}

TEST(ReportLayouts, LoginLineAndReminder) {
  auto login = [](std::string_view user) {
    return only_line(Line().lit(" User login,").col(20).s(user).col(42).lit("|"));
  };
  EXPECT_EQ(login("guest"), " User login,       guest                 |");
  EXPECT_EQ(login("guest").size(), 42u);
  // A 30-character name: the bar takes the place of its 23rd character.
  EXPECT_EQ(login("ABCDEFGHIJKLMNOPQRSTUVWXYZ1234"),
            " User login,       ABCDEFGHIJKLMNOPQRSTUV|XYZ1234");
  EXPECT_EQ(login(" guest").find("guest"), 20u);

  Line reminder;
  reminder.blanks(1).lit("***").blanks(1).lit("Tying 2 rods: string length distribution").slash();
  reminder.blanks(5).lit("Data: ... / ... / .lg(N), iseed, klass / ishow").blanks(1).lit("***");
  EXPECT_EQ(reminder.text(),
            " *** Tying 2 rods: string length distribution\n"
            "     Data: ... / ... / .lg(N), iseed, klass / ishow ***\n");
}

TEST(ReportLayouts, DataFileAndListing) {
  EXPECT_EQ(only_line(Line().lit("#Result vectors").d(2, 3)), "#Result vectors  2");
  std::string row = only_line(Line().blanks(1).E3(0.236188746, 20, 9).E3(0.0105847549, 20, 9)
                                  .E3(0.0, 20, 9));
  EXPECT_EQ(row, "     0.236188746E+000    0.105847549E-001    0.000000000E+000");
  EXPECT_EQ(row.size(), 61u);
  EXPECT_EQ(only_line(Line().blanks(1).E3(-2.5, 20, 9)), "    -0.250000000E+001");

  EXPECT_EQ(only_line(Line().lit(" n_min, _max:").d(1, 8).d(50, 8)),
            " n_min, _max:       1      50");
  EXPECT_EQ(only_line(Line().blanks(19).lit("t,").blanks(8).lit("z('s):")),
            std::string(19, ' ') + "t," + std::string(8, ' ') + "z('s):");
  std::string listing = only_line(Line().blanks(1).d(3, 6).blanks(3).G(0.5, 15, 7)
                                      .G(0.0625, 15, 7).G(0.0, 15, 7));
  EXPECT_EQ(listing, "      3     0.5000000      6.2500000E-02   0.000000    ");
  EXPECT_EQ(listing.size(), 55u);
}

}  // namespace
}  // namespace polygons::text
