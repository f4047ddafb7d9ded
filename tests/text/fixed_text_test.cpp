// Fixed-length text: padding, trimming, blank-padded comparison, joining.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "text/fixed_text.hpp"

namespace polygons::text {
namespace {

TEST(FixedText, PadsOrCuts) {
  EXPECT_EQ(fixed("abc", 5), "abc  ");
  EXPECT_EQ(fixed("abcdef", 3), "abc");
  EXPECT_EQ(fixed("", 2), "  ");
  EXPECT_EQ(fixed("abc", 0), "");
  EXPECT_EQ(fixed(std::string(2000, 'x'), 1024).size(), 1024u);
}

TEST(FixedText, TrimsTrailingBlanksOnly) {
  EXPECT_EQ(trimmed("  ab  "), "  ab");
  EXPECT_EQ(trimmed("ab"), "ab");
  EXPECT_EQ(trimmed("    "), "");
  EXPECT_EQ(trimmed(""), "");
  EXPECT_EQ(trimmed("a b "), "a b");
}

TEST(FixedText, ComparesAsIfPadded) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"?", "?", true},        {"?", "?   ", true},   {"?   ", "?", true},
      {" ?", "?", false},      {"??", "?", false},    {"-?", "?", false},
      {"", "   ", true},       {"", "", true},        {"?", "", false},
      {"ab c", "ab", false},   {"ab", "ab\t", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(padded_equal(c.a, c.b), c.equal) << '[' << c.a << "] vs [" << c.b << ']';
  }
}

TEST(FixedText, JoinsTrimmedPartsAndCuts) {
  EXPECT_EQ(join_cut(512, {"./tmp/   ", "job7    ", "/"}), "./tmp/job7/");
  EXPECT_EQ(join_cut(8, {"./tmp/   ", "job7    ", "/"}), "./tmp/jo");
  EXPECT_EQ(join_cut(512, {" a ", "  ", " b"}), " a b");
  EXPECT_EQ(join_cut(0, {"abc"}), "");
  EXPECT_EQ(join_cut(10, {}), "");
}

TEST(IntegerText, PlainDecimal) {
  EXPECT_EQ(i0(-5), "-5");
  EXPECT_EQ(i0(0), "0");
  EXPECT_EQ(i0(1000000), "1000000");
  EXPECT_EQ(i0(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(i0(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
}

}  // namespace
}  // namespace polygons::text
