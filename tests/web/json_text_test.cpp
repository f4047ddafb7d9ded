#include "web/json_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace polygons::web {
namespace {

TEST(JsonText, EscapesWhatJsonRequiresAndReplacesBrokenUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain text", "\"plain text\""},
      {"\"CPU\": \\", "\"\\\"CPU\\\": \\\\\""},
      {"a\nb\tc\x01\x1f\x7f", "\"a\\u000ab\\u0009c\\u0001\\u001f\\u007f\""},
      {std::string("\0", 1), "\"\\u0000\""},
      {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb2", "\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb2\""},
      {"\xff\xc3", "\"\\ufffd\\ufffd\""},            // no lead byte; cut short
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},            // overlong
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(json_string(text), json) << json;
}

TEST(JsonText, WritesTheShortestNumberThatReadsBackAndNullForNonFinite) {
  EXPECT_EQ(json_real(0.1), "0.1");
  EXPECT_EQ(json_real(1e-5), "1e-05");
  EXPECT_EQ(json_real(4.5), "4.5");
  EXPECT_EQ(json_real(5.196152422706632), "5.196152422706632");
  EXPECT_EQ(json_real(std::nan("")), "null");
  EXPECT_EQ(json_real(-std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(json_integer(2330000000), "2330000000");
}

}  // namespace
}  // namespace polygons::web
