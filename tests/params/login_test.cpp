#include "params/login.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support/user_scope.hpp"
#include "text/io.hpp"

namespace polygons::params {
namespace {

using polygons::testing::user_scope;

TEST(Getenv, FillsTheWholeBuffer) {
  setenv("POLYGONS_TEST_VALUE", "abc", 1);
  std::string value(8, 'x');
  getenv("POLYGONS_TEST_VALUE", value);
  EXPECT_EQ(value, "abc     ");
  getenv("POLYGONS_TEST_VALUE and more words", value);  // the name ends at its first blank
  EXPECT_EQ(value, "abc     ");
  setenv("POLYGONS_TEST_VALUE", "abcdefghijk", 1);
  getenv("POLYGONS_TEST_VALUE", value);
  EXPECT_EQ(value, "abcdefgh");
  setenv("POLYGONS_TEST_VALUE", "", 1);
  getenv("POLYGONS_TEST_VALUE", value);
  EXPECT_EQ(value, "        ");
  unsetenv("POLYGONS_TEST_VALUE");
  value = "xxxxxxxx";
  getenv("POLYGONS_TEST_VALUE", value);
  EXPECT_EQ(value, "        ");
}

TEST(Internet, LoginLine) {
  struct Case {
    const char* why;
    std::optional<std::string> user;
    bool internet_run;
    std::string line;
  };
  const Case cases[] = {
      {"plain user", "guest", false, " User login,       guest                 |\n"},
      {"30 characters: the bar replaces the 23rd, the rest stays", "abcdefghijklmnopqrstuvwxyz0123", false,
       " User login,       abcdefghijklmnopqrstuv|xyz0123\n"},
      {"exactly 22 characters fill columns 20 to 41", "abcdefghijklmnopqrstuv", false,
       " User login,       abcdefghijklmnopqrstuv|\n"},
      {"leading blank stays", " bob", false, " User login,        bob                  |\n"},
      {"leading blank of a longer name", " guest", false, " User login,        guest                |\n"},
      {"30 capitals and digits", "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234", false,
       " User login,       ABCDEFGHIJKLMNOPQRSTUV|XYZ1234\n"},
      {"trailing blanks are dropped", "bob   ", false, " User login,       bob                   |\n"},
      {"unset", std::nullopt, true, ""},
      {"empty", "", true, ""},
      {"blanks only", "    ", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    user_scope scope(c.user);
    text::StringSink out;
    EXPECT_EQ(internet(out), c.internet_run);
    EXPECT_EQ(out.text(), c.line);
  }
}

TEST(Internet, LoginLineColumns) {
  user_scope scope(std::string("guest"));
  text::StringSink out;
  internet(out);
  const std::string line = out.text().substr(0, out.text().size() - 1);
  ASSERT_EQ(line.size(), 42u);
  EXPECT_EQ(line.substr(0, 12), " User login,");
  EXPECT_EQ(line.substr(19, 5), "guest");
  EXPECT_EQ(line[41], '|');
}

TEST(Reminder, AnswersAQuestionMarkAlone) {
  const std::string reminder_text =
      " *** Tying 2 rods: string length distribution\n"
      "     Data: ... / ... / .lg(N), iseed, klass / ishow ***\n";
  struct Case {
    const char* why;
    std::vector<std::string> args;
    bool reminds;
  };
  const Case cases[] = {
      {"no argument", {}, false},
      {"question mark", {"?"}, true},
      {"question mark and a blank", {"? "}, true},
      {"question mark and many blanks", {"?" + std::string(2000, ' ')}, true},
      {"blank before", {" ?"}, false},
      {"two question marks", {"??"}, false},
      {"minus and question mark", {"-?"}, false},
      {"a word", {"job42"}, false},
      {"empty argument", {""}, false},
      {"question mark as second argument", {"job42", "?"}, false},
      {"question mark first of two", {"?", "job42"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    text::StringSink out;
    if (c.reminds) {
      EXPECT_THROW(reminder(out, c.args), text::RunEnded);
      EXPECT_EQ(out.text(), reminder_text);
    } else {
      EXPECT_NO_THROW(reminder(out, c.args));
      EXPECT_EQ(out.text(), "");
    }
  }
}

}  // namespace
}  // namespace polygons::params
