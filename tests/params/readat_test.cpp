#include "params/readat.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/user_scope.hpp"
#include "text/io.hpp"
#include "worked_example.hpp"

namespace polygons::params {
namespace {

using polygons::testing::user_scope;

struct readat_run {
  run_parameters p;
  std::string out;
  sim::SeedState rng;
};

readat_run run_readat(const std::string& input, std::optional<std::string> user,
                      std::vector<std::string> args = {}) {
  user_scope scope(std::move(user));
  std::istringstream in(input);
  text::StringSink out;
  readat_run r;
  r.p = readat(in, out, args, r.rng);
  r.out = out.text();
  return r;
}

// Line 3 of the worked example replaced by `line3`.
std::string with_line3(const std::string& line3) { return "5\n1\n" + line3 + "\n0\n0\n"; }

std::string trials_line(const std::string& out) {
  std::size_t begin = out.find(" N. of trials (N),");
  if (begin == std::string::npos) return "";
  return out.substr(begin, out.find('\n', begin) - begin);
}

TEST(Readat, WorkedExampleWithUserLogin) {
  readat_run r = run_readat(kWorkedExampleInput, "guest");
  EXPECT_EQ(r.out, std::string(" User login,       guest                 |\n") + kWorkedExampleLines);
  EXPECT_EQ(r.p.sides, 5);
  EXPECT_EQ(r.p.radius, 1.0);
  EXPECT_EQ(r.p.N, 1000000);
  EXPECT_EQ(r.p.iseed, 4711);
  EXPECT_EQ(r.p.klass, 21);
  EXPECT_EQ(r.p.ishow, 0);
  sim::SeedState seeded;
  sim::random_init(seeded, 4711);
  EXPECT_EQ(r.rng, seeded);
}

TEST(Readat, WorkedExampleWithoutUserLoginHasNoLoginLine) {
  EXPECT_EQ(run_readat(kWorkedExampleInput, std::nullopt).out, kWorkedExampleLines);
}

TEST(Readat, TrialLimits) {
  struct Case {
    const char* why;
    const char* line3;
    bool user;
    std::string warnings;  // the lines between the radius line and the trials line
    std::int64_t n;
    std::string trials;
  };
  const Case cases[] = {
      {"50 without a user: augmented", "50 1", false, " %Wrn Augmenting N to 1.000E+03\n", 1000,
       " N. of trials (N),              1.000E+03| = 1000; seed, 1"},
      {"5e9 without a user: both reductions", "5e9 1", false,
       " %Wrn Reducing zn to  2.330E+09\n %Wrn Reducing zn to 1.000E+08\n", 100000000,
       " N. of trials (N),              1.000E+08| = 100000000; seed, 1"},
      {"5e9 with a user: beyond 32 bits", "5e9 1", true, " %Wrn Reducing zn to  2.330E+09\n", 2330000000,
       " N. of trials (N),              2.330E+09| = 2330000000; seed, 1"},
      {"exactly 1e8 without a user passes", "100000000 1", false, "", 100000000,
       " N. of trials (N),              1.000E+08| = 100000000; seed, 1"},
      {"1e8 + 1 without a user is cut", "100000001 1", false, " %Wrn Reducing zn to 1.000E+08\n", 100000000,
       " N. of trials (N),              1.000E+08| = 100000000; seed, 1"},
      {"1e8 + 1 with a user passes", "100000001 1", true, "", 100000001,
       " N. of trials (N),              1.000E+08| = 100000001; seed, 1"},
      {"exactly ZN_MAX passes", "2.33e9 1", true, "", 2330000000,
       " N. of trials (N),              2.330E+09| = 2330000000; seed, 1"},
      {"exactly 1000", "1000 1", false, "", 1000, " N. of trials (N),              1.000E+03| = 1000; seed, 1"},
      {"999.9 augmented", "999.9 1", false, " %Wrn Augmenting N to 1.000E+03\n", 1000,
       " N. of trials (N),              1.000E+03| = 1000; seed, 1"},
      {"zero augmented", "0 1", false, " %Wrn Augmenting N to 1.000E+03\n", 1000,
       " N. of trials (N),              1.000E+03| = 1000; seed, 1"},
      {"negative augmented", "-5 1", false, " %Wrn Augmenting N to 1.000E+03\n", 1000,
       " N. of trials (N),              1.000E+03| = 1000; seed, 1"},
      {"minus infinity augmented", "-inf 1", false, " %Wrn Augmenting N to 1.000E+03\n", 1000,
       " N. of trials (N),              1.000E+03| = 1000; seed, 1"},
      {"infinity reduced", "inf 1", true, " %Wrn Reducing zn to  2.330E+09\n", 2330000000,
       " N. of trials (N),              2.330E+09| = 2330000000; seed, 1"},
      {"half rounds away from zero", "1000.5 1", false, "", 1001,
       " N. of trials (N),              1.000E+03| = 1001; seed, 1"},
      {"below half rounds down", "1234.4 1", false, "", 1234,
       " N. of trials (N),              1.234E+03| = 1234; seed, 1"},
      {"D exponent", "1.5D+06 1", false, "", 1500000,
       " N. of trials (N),              1.500E+06| = 1500000; seed, 1"},
      {"seed 0", "1000 0", false, "", 1000, " N. of trials (N),              1.000E+03| = 1000; seed, 0"},
      {"negative seed", "1000 -17", false, "", 1000,
       " N. of trials (N),              1.000E+03| = 1000; seed, -17"},
      {"lowest seed", "1000 -2147483648", false, "", 1000,
       " N. of trials (N),              1.000E+03| = 1000; seed, -2147483648"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    readat_run r = run_readat(with_line3(c.line3), c.user ? std::optional<std::string>("guest") : std::nullopt);
    EXPECT_EQ(r.p.N, c.n);
    EXPECT_EQ(trials_line(r.out), c.trials);
    std::size_t after_radius = r.out.find("(radius of circle)\n") + 19;
    EXPECT_EQ(r.out.substr(after_radius, r.out.find(" N. of trials") - after_radius), c.warnings);
  }
}

TEST(Readat, ClassDefaults) {
  struct Case {
    const char* why;
    const char* line3;
    const char* line4;
    std::int32_t klass;
  };
  const Case cases[] = {
      {"N 1000", "1000 1", "0", 11},
      {"N 1025", "1025 1", "0", 12},
      {"N 1e6", "1e6 1", "0", 21},
      {"N 1e8", "1e8 1", "0", 28},
      {"N 2.33e9", "2.33e9 1", "0", 33},
      {"negative klass takes the default", "1000 1", "-4", 11},
      {"klass 1 stays", "1000 1", "1", 1},
      {"large klass stays", "1000 1", "2147483647", 2147483647},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    readat_run r = run_readat(std::string("5\n1\n") + c.line3 + "\n" + c.line4 + "\n0\n", "guest");
    EXPECT_EQ(r.p.klass, c.klass);
  }
  EXPECT_NE(run_readat("5\n1\n1000 1\n7\n0\n", "guest").out.find(" klasses,                           7    |\n"),
            std::string::npos);
}

TEST(Readat, ReadsContinueOnLaterLines) {
  readat_run r = run_readat("5\n1\n1e6\n4711\n7\n1\n", "guest");
  EXPECT_EQ(r.p.N, 1000000);
  EXPECT_EQ(r.p.iseed, 4711);
  EXPECT_EQ(r.p.klass, 7);
  EXPECT_EQ(r.p.ishow, 1);
}

TEST(Readat, SurplusValuesAreSkipped) {
  readat_run r = run_readat("5 7 9\n2.5 radius\n1e6 4711 surplus\n0 classes\n1 show\n", "guest");
  EXPECT_EQ(r.p.sides, 5);
  EXPECT_EQ(r.p.radius, 2.5);
  EXPECT_EQ(r.p.N, 1000000);
  EXPECT_EQ(r.p.iseed, 4711);
  EXPECT_EQ(r.p.ishow, 1);
}

TEST(Readat, NullValuesAndSlashesKeepTheDefaults) {
  readat_run r = run_readat("/\n,\n,,\n/\n/\n", std::nullopt);
  EXPECT_EQ(r.p.sides, 3);
  EXPECT_EQ(r.p.radius, 1.0);
  EXPECT_EQ(r.p.N, 1000);
  EXPECT_EQ(r.p.iseed, 1);
  EXPECT_EQ(r.p.klass, 11);
  EXPECT_EQ(r.p.ishow, 0);
  EXPECT_EQ(trials_line(r.out), " N. of trials (N),              1.000E+03| = 1000; seed, 1");
  readat_run seed_only = run_readat("5\n1\n,42\n0\n0\n", std::nullopt);
  EXPECT_EQ(seed_only.p.N, 1000);
  EXPECT_EQ(seed_only.p.iseed, 42);
}

TEST(Readat, WideValuesShowAsAsterisks) {
  readat_run r = run_readat("123456789\n1\n1000 1\n0\n100\n", "guest");
  EXPECT_EQ(r.p.sides, 123456789);
  EXPECT_NE(r.out.find(" .Sides,                     ********    | (sides of polygom)\n"), std::string::npos);
  EXPECT_NE(r.out.find(" Show values ? {0|1}               **    |\n"), std::string::npos);
}

TEST(Readat, ReminderEndsTheRunBeforeAnyRead) {
  user_scope scope(std::string("guest"));
  std::istringstream in(kWorkedExampleInput);
  text::StringSink out;
  sim::SeedState rng;
  EXPECT_THROW(readat(in, out, {"?"}, rng), text::RunEnded);
  EXPECT_EQ(out.text(),
            " User login,       guest                 |\n"
            " *** Tying 2 rods: string length distribution\n"
            "     Data: ... / ... / .lg(N), iseed, klass / ishow ***\n");
  EXPECT_EQ(in.tellg(), 0);
}

TEST(Readat, BadInputEndsTheRunKeepingEarlierLines) {
  struct Case {
    const char* why;
    const char* input;
    const char* message;
    const char* last_line;  // the last report line written before the diagnostic
  };
  const Case cases[] = {
      {"no input", "", "standard input, line 1: end of input before a value for the number of sides", ""},
      {"letters for the trials", "5\n1\nabc 1\n0\n0\n",
       "standard input, line 3: \"abc\" is not a number (number of trials zn)", "(radius of circle)"},
      {"fraction for the sides", "5.5\n1\n1000 1\n0\n0\n",
       "standard input, line 1: \"5.5\" is not an integer (number of sides)", ""},
      {"seed beyond 32 bits", "5\n1\n1000 4294967296\n0\n0\n",
       "standard input, line 3: \"4294967296\" is outside the 32-bit integer range (seed iseed)",
       "(radius of circle)"},
      {"input ends before the show switch", "5\n1\n1000 1\n0\n",
       "standard input, line 5: end of input before a value for the show switch ishow", "klasses,"},
      {"NaN trials", "5\n1\nnan 1\n0\n0\n",
       "standard input, line 3: the number of trials zn is NaN; it must be a number", "(radius of circle)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    user_scope scope(std::nullopt);
    std::istringstream in(c.input);
    text::StringSink out;
    sim::SeedState rng;
    try {
      readat(in, out, {}, rng);
      ADD_FAILURE() << "no diagnostic";
    } catch (const text::FatalError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
      EXPECT_EQ(e.status(), text::kExitBadInput);
    }
    std::string text = out.text();
    if (std::string(c.last_line).empty()) {
      EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    } else {
      std::size_t last_begin = text.rfind('\n', text.size() - 2);
      last_begin = last_begin == std::string::npos ? 0 : last_begin + 1;
      EXPECT_NE(text.substr(last_begin).find(c.last_line), std::string::npos) << text;
    }
  }
}

TEST(RefuseUnusable, RefusesWhatTheTrialsCannotRunOn) {
  struct Case {
    const char* why;
    std::int32_t sides;
    double radius;
    double perim_max;
    std::int32_t klass;
    const char* message;  // empty: accepted
  };
  const double inf = INFINITY;
  const Case cases[] = {
      {"usual", 3, 1.0, 5.196152422706632, 11, ""},
      {"one side", 1, 1.0, 2.4492935982947064e-16, 1, ""},
      {"negative radius is taken as read", 3, -1.0, -5.196152422706632, 11, ""},
      {"huge klass", 3, 1.0, 5.196152422706632, 2147483647, ""},
      {"no sides", 0, 1.0, 0.0, 11, "the number of sides is 0; a polygon needs at least 1 side"},
      {"negative sides", -4, 1.0, 0.0, 11, "the number of sides is -4; a polygon needs at least 1 side"},
      {"zero radius", 3, 0.0, 0.0, 11, "the radius is 0; the polygons need a circle of some size"},
      {"infinite radius", 3, inf, inf, 11, "the radius is not a finite number"},
      {"NaN radius", 3, NAN, NAN, 11, "the radius is not a finite number"},
      {"range overflows", 2000000000, 1e300, inf, 11,
       "the perimeter range 2 n R sin(pi/n) of 2000000000 sides and this radius is not finite; "
       "the classes cannot be formed"},
      {"range underflows", 3, 1e-320, 0.0, 11,
       "the perimeter range 2 n R sin(pi/n) of 3 sides and this radius is 0; the classes cannot be formed"},
      {"class width underflows", 3, 1e-323, 4.9406564584124654e-324, 3,
       "the class width (perimeter range / 3 classes) is 0; the classes cannot be formed"},
      {"no classes", 3, 1.0, 5.196152422706632, 0,
       "the class width (perimeter range / 0 classes) is not finite; the classes cannot be formed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    run_parameters p;
    p.sides = c.sides;
    p.radius = c.radius;
    p.klass = c.klass;
    if (std::string(c.message).empty()) {
      EXPECT_NO_THROW(refuse_unusable(p, c.perim_max));
      continue;
    }
    try {
      refuse_unusable(p, c.perim_max);
      ADD_FAILURE() << "not refused";
    } catch (const text::FatalError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
      EXPECT_EQ(e.status(), text::kExitBadInput);
    }
  }
}

}  // namespace
}  // namespace polygons::params
