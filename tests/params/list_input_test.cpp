#include "params/list_input.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "text/io.hpp"

namespace polygons::params {
namespace {

// Two integer items and one real item, starting from known values.
struct three_items {
  std::int32_t a = -1;
  double x = -1.0;
  std::int32_t b = -1;
  std::vector<list_item> items() { return {{"item a", &a}, {"item x", &x}, {"item b", &b}}; }
};

TEST(ListInput, ValuesAndSeparators) {
  struct Case {
    const char* why;
    const char* input;
    std::int32_t a;
    double x;
    std::int32_t b;
  };
  const Case cases[] = {
      {"blanks", "1 2.5 3\n", 1, 2.5, 3},
      {"tabs and several blanks", "\t1\t\t2.5   3\n", 1, 2.5, 3},
      {"commas with blanks around", "1 , 2.5,3\n", 1, 2.5, 3},
      {"values on later lines", "1\n\n2.5\n3\n", 1, 2.5, 3},
      {"comma at the end of a line", "1,\n2.5,\n3\n", 1, 2.5, 3},
      {"comma at the start of the next line joins the separator", "1\n,2.5\n3\n", 1, 2.5, 3},
      {"surplus values skipped", "1 2.5 3 4 5 6\n", 1, 2.5, 3},
      {"comment after the values", "1 2.5 3 sides, radius, seed\n", 1, 2.5, 3},
      {"garbage after the values is never parsed", "1 2.5 3 @#! 1.2.3\n", 1, 2.5, 3},
      {"slash ends the read", "1 / 2.5 3\n", 1, -1.0, -1},
      {"slash right after a value", "1 2.5/ 3\n", 1, 2.5, -1},
      {"slash on a later line", "1\n/\n9 9 9\n", 1, -1.0, -1},
      {"leading comma is a null value", ",2.5,3\n", -1, 2.5, 3},
      {"two commas make a null value", "1,,3\n", 1, -1.0, 3},
      {"commas with blanks between make a null value", "1 , , 3\n", 1, -1.0, 3},
      {"null value across a line end", "1,\n,3\n", 1, -1.0, 3},
      {"all null", ",,,\n", -1, -1.0, -1},
      {"null values then slash", ",,/\n", -1, -1.0, -1},
      {"signs", "+7 -2.5 -3\n", 7, -2.5, -3},
      {"carriage return before the line end", "1 2.5 3\r\n", 1, 2.5, 3},
      {"last line without line end", "1 2.5 3", 1, 2.5, 3},
      {"32-bit extremes", "2147483647 0 -2147483648\n", 2147483647, 0.0, -2147483648},
      {"leading zeros", "007 0.0 -0000000000042\n", 7, 0.0, -42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::istringstream in(c.input);
    list_input input{in};
    three_items v;
    auto items = v.items();
    read_list(input, items);
    EXPECT_EQ(v.a, c.a);
    EXPECT_EQ(v.x, c.x);
    EXPECT_EQ(v.b, c.b);
  }
}

TEST(ListInput, EachReadStartsOnANewLine) {
  std::istringstream in("1 2 3\n4, 5\n\n6\n");
  list_input input{in};
  std::int32_t a = 0, b = 0, c = 0;
  read_list(input, std::vector<list_item>{{"a", &a}});
  EXPECT_EQ(input.line_number, 1);
  read_list(input, std::vector<list_item>{{"b", &b}, {"c", &c}});
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 4);
  EXPECT_EQ(c, 5);
  EXPECT_EQ(input.line_number, 2);
  read_list(input, std::vector<list_item>{{"a", &a}});  // an empty line is skipped over
  EXPECT_EQ(a, 6);
  EXPECT_EQ(input.line_number, 4);
}

TEST(ListInput, ReadLeavesTheRestOfTheStreamForLineReads) {
  std::istringstream in("5 sides\n1\nplot 'x'\nrest\n");
  list_input input{in};
  std::int32_t sides = 0;
  double radius = 0.0;
  read_list(input, std::vector<list_item>{{"sides", &sides}});
  read_list(input, std::vector<list_item>{{"radius", &radius}});
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "plot 'x'");
}

TEST(ListInput, RealForms) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"1000", 1000.0},      {"2.5", 2.5},          {".5", 0.5},         {"5.", 5.0},
      {"1e6", 1e6},          {"1E6", 1e6},          {"1.0D+06", 1e6},    {"1.0d+06", 1e6},
      {"1.5E+06", 1.5e6},    {"2.5e-3", 2.5e-3},    {"-.5D0", -0.5},     {"+5.e1", 50.0},
      {"0.1", 0.1},          {"1e999", INFINITY},   {"-1e999", -INFINITY}, {"Inf", INFINITY},
      {"-infinity", -INFINITY}, {"+INF", INFINITY}, {"1e-999", 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double value = -7.0;
    ASSERT_TRUE(parse_list_real(c.text, value));
    EXPECT_EQ(value, c.value);
  }
  for (const char* nan_text : {"NaN", "nan", "-NAN"}) {
    double value = 0.0;
    ASSERT_TRUE(parse_list_real(nan_text, value)) << nan_text;
    EXPECT_TRUE(std::isnan(value)) << nan_text;
  }
}

TEST(ListInput, RejectedRealForms) {
  for (const char* text : {"", "+", "-", ".", "e5", ".e5", "1e", "1e+", "1.5.3", "1,5", "abc", "1x",
                           "1e5x", "0x10", "1+5", "1f5", "nanx", "infin", "--1", "1 2", "1q5"}) {
    double value = 0.0;
    EXPECT_FALSE(parse_list_real(text, value)) << '"' << text << '"';
  }
}

TEST(ListInput, IntegerForms) {
  struct Case {
    const char* text;
    bool valid;
    bool out_of_range;
    std::int32_t value;
  };
  const Case cases[] = {
      {"0", true, false, 0},
      {"-0", true, false, 0},
      {"+12", true, false, 12},
      {"2147483647", true, false, 2147483647},
      {"-2147483648", true, false, -2147483648},
      {"2147483648", false, true, 0},
      {"-2147483649", false, true, 0},
      {"99999999999999999999999", false, true, 0},
      {"5.0", false, false, 0},
      {"1e3", false, false, 0},
      {"+", false, false, 0},
      {"", false, false, 0},
      {"12a", false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t value = 0;
    bool out_of_range = false;
    EXPECT_EQ(parse_list_integer(c.text, value, out_of_range), c.valid);
    EXPECT_EQ(out_of_range, c.out_of_range);
    if (c.valid) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(ListInput, FatalDiagnostics) {
  struct Case {
    const char* why;
    const char* input;
    const char* message;
  };
  const Case cases[] = {
      {"empty input", "", "standard input, line 1: end of input before a value for the item a"},
      {"input ends within the read", "1 2.5\n",
       "standard input, line 2: end of input before a value for the item b"},
      {"input ends after blank lines", "1\n\n  \n",
       "standard input, line 4: end of input before a value for the item x"},
      {"letters for a real", "1 abc 3\n", "standard input, line 1: \"abc\" is not a number (item x)"},
      {"letters for an integer", "\n\nfive\n", "standard input, line 3: \"five\" is not a number (item a)"},
      {"fraction for an integer", "2.5 1 1\n", "standard input, line 1: \"2.5\" is not an integer (item a)"},
      {"exponent for an integer", "1 1 1e3\n", "standard input, line 1: \"1e3\" is not an integer (item b)"},
      {"integer beyond 32 bits", "1 1\n2147483648\n",
       "standard input, line 2: \"2147483648\" is outside the 32-bit integer range (item b)"},
      {"negative integer beyond 32 bits", "-2147483649 1 1\n",
       "standard input, line 1: \"-2147483649\" is outside the 32-bit integer range (item a)"},
      {"value glued to letters", "1 2.5abc 3\n", "standard input, line 1: \"2.5abc\" is not a number (item x)"},
      {"quoted text", "'1' 2 3\n", "standard input, line 1: \"'1'\" is not a number (item a)"},
      {"control characters are shown as question marks", "1 a\x01\x7f 3\n",
       "standard input, line 1: \"a??\" is not a number (item x)"},
      {"long text is cut", "1 aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa 3\n",
       "standard input, line 1: \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa...\" is not a number (item x)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::istringstream in(c.input);
    list_input input{in};
    three_items v;
    auto items = v.items();
    try {
      read_list(input, items);
      ADD_FAILURE() << "no diagnostic";
    } catch (const text::FatalError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
      EXPECT_EQ(e.status(), text::kExitBadInput);
    }
  }
}

}  // namespace
}  // namespace polygons::params
