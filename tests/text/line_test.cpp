// The column cursor of the line writer: columns, moves that overwrite,
// blanks, several lines, and the hand-over to a sink. The lines of the report
// and the files are tested where they are written.

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

}  // namespace
}  // namespace polygons::text
