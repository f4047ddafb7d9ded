// Single number fields: the examples of the report layouts, rounding
// boundaries, signs, extreme magnitudes, non-finite values and overflow.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "text/number_fields.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace polygons::text {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct RealCase {
  double value;
  int width;
  int precision;
  const char* expected;
  const char* why;
};

TEST(GeneralField, ReportExamples) {
  const RealCase cases[] = {
      {5.196152, 12, 4, "   5.196    ", "range line maximum for a triangle"},
      {0.45726, 12, 4, "  0.4573    ", "below one: a 0 before the point"},
      {1234.4, 12, 4, "   1234.    ", "no decimals left: the point stays"},
      {12345.6, 12, 4, "  1.2346E+04", "too large: exponent form, no trailing blanks"},
      {0.0, 12, 4, "   0.000    ", "zero has its own form"},
      {4.0, 12, 4, "   4.000    ", "square of radius 1"},
      {40.0, 12, 4, "   40.00    ", "two digits before the point"},
      {10000.0, 12, 4, "  1.0000E+04", "ten to the fourth"},
      {0.1, 12, 4, "  0.1000    ", "density of exactly 0.1 stays fixed"},
      {0.09, 12, 4, "  9.0000E-02", "below 0.1: exponent form"},
      {0.00731, 12, 4, "  7.3100E-03", "small density"},
      {1.0, 12, 4, "   1.000    ", "radius 1"},
      {0.5, 12, 4, "  0.5000    ", "radius 0.5"},
      {12.5, 12, 4, "   12.50    ", "radius 12.5"},
      {0.05, 12, 4, "  5.0000E-02", "radius 0.05"},
      {3.806, 12, 4, "   3.806    ", "average of the worked run"},
      {0.5, 15, 7, "  0.5000000    ", "listing value 0.5"},
      {0.0625, 15, 7, "  6.2500000E-02", "listing value 0.0625"},
      {0.0, 15, 7, "   0.000000    ", "listing zero"},
  };
  for (const RealCase& c : cases) {
    EXPECT_EQ(format_G(c.value, c.width, c.precision), c.expected) << c.why;
  }
}

TEST(GeneralField, FixedOrExponentBoundaries) {
  const RealCase cases[] = {
      {0.099995, 12, 4, "  0.1000    ", "binary value just above 0.1 - 0.5e-5"},
      {0.0999949999, 12, 4, "  9.9995E-02", "just below the lower bound"},
      {9999.4999, 12, 4, "   9999.    ", "just below 10^4 - 0.5"},
      {9999.5, 12, 4, "  9.9995E+03", "exactly 10^4 - 0.5: exponent form"},
      {9.99995, 12, 4, "   10.00    ", "rounds up to a new power of ten: two digits before the point"},
      {9.9995, 12, 4, "   10.00    ", "the double nearest to the boundary 10 - 0.5e-3 reaches it"},
      {-9.9995, 12, 4, "  -10.00    ", "the same, negative"},
      {9.9995, 15, 7, "   9.999500    ", "far from the boundary with seven digits"},
      {0.99999995, 15, 7, "   1.000000    ", "the double nearest to 1 - 0.5e-7"},
      {0.999951, 12, 4, "   1.000    ", "rounds up to one"},
      {0.99994, 12, 4, "  0.9999    ", "stays below one"},
      {9999999.5, 15, 7, "  9.9999995E+06", "exactly 10^7 - 0.5: exponent form"},
      {9999999.4, 15, 7, "   9999999.    ", "just below it"},
  };
  for (const RealCase& c : cases) {
    EXPECT_EQ(format_G(c.value, c.width, c.precision), c.expected) << c.why;
  }
}

TEST(GeneralField, NegativeAndExtremeValues) {
  const RealCase cases[] = {
      {-5.196152, 12, 4, "  -5.196    ", "negative fixed"},
      {-0.45726, 12, 4, " -0.4573    ", "negative below one"},
      {-12345.6, 12, 4, " -1.2346E+04", "negative exponent form"},
      {-0.0, 12, 4, "  -0.000    ", "negative zero keeps its sign"},
      {1e100, 12, 4, "  1.0000+100", "three-digit exponent drops the E"},
      {-1e-300, 12, 4, " -1.0000-300", "negative, tiny"},
      {DBL_MAX, 12, 4, "  1.7977+308", "largest double"},
      {4.9406564584124654e-324, 12, 4, "  4.9407-324", "smallest subnormal"},
      {1e99, 12, 4, "  1.0000E+99", "last two-digit exponent"},
  };
  for (const RealCase& c : cases) {
    EXPECT_EQ(format_G(c.value, c.width, c.precision), c.expected) << c.why;
  }
}

TEST(ExponentField, LayoutsAndOverflow) {
  const RealCase cases[] = {
      {1e6, 10, 3, " 1.000E+06", "trials line"},
      {2.33e9, 10, 3, " 2.330E+09", "upper trial limit"},
      {1e8, 10, 3, " 1.000E+08", "trial limit without a user login"},
      {1000.0, 10, 3, " 1.000E+03", "lower trial limit"},
      {1234.4, 10, 3, " 1.234E+03", "trials of 1234.4"},
      {0.0, 10, 3, " 0.000E+00", "zero"},
      {1e100, 10, 4, "1.0000+100", "three-digit exponent keeps the width"},
      {9.99996, 10, 4, "1.0000E+01", "carry into the exponent"},
      {-1.0, 10, 4, "**********", "no room for the sign"},
      {-1.0, 11, 4, "-1.0000E+00", "room for the sign"},
      {-1e-300, 11, 4, "-1.0000-300", "negative three-digit exponent"},
      {2.5, 8, 0, "  2.E+00", "no decimals: the point stays, tie to even"},
  };
  for (const RealCase& c : cases) {
    EXPECT_EQ(format_E(c.value, c.width, c.precision), c.expected) << c.why;
  }
}

TEST(Exponent3Field, DataFileValues) {
  const RealCase cases[] = {
      {12.5, 20, 9, "    0.125000000E+002", "the notation's own example"},
      {0.0, 20, 9, "    0.000000000E+000", "zero has exponent zero"},
      {-12.5, 20, 9, "   -0.125000000E+002", "sign directly before the 0"},
      {1.0, 20, 9, "    0.100000000E+001", "one"},
      {0.99999999995, 20, 9, "    0.100000000E+001", "rounds up into the next exponent"},
      {0.0105847549, 20, 9, "    0.105847549E-001", "density of the worked run"},
      {1e-300, 20, 9, "    0.100000000E-299", "tiny"},
      {DBL_MAX, 20, 9, "    0.179769313E+309", "largest double"},
      {4.9406564584124654e-324, 20, 9, "    0.494065646E-323", "smallest subnormal"},
      {-12.5, 10, 3, "**********", "too narrow"},
      {-12.5, 11, 3, "-0.125E+002", "exactly wide enough"},
  };
  for (const RealCase& c : cases) {
    EXPECT_EQ(format_E3(c.value, c.width, c.precision), c.expected) << c.why;
  }
}

TEST(FixedField, RoundingAndOverflow) {
  const RealCase cases[] = {
      {0.04, 10, 1, "       0.0", "elapsed seconds below 0.05"},
      {2.75, 5, 2, " 2.75", "seconds of the elapsed-time line"},
      {59.996, 5, 2, "60.00", "seconds round up, minutes are not carried"},
      {99999999.94, 10, 1, "99999999.9", "widest elapsed seconds"},
      {99999999.95, 10, 1, "**********", "elapsed seconds overflow"},
      {100.0, 5, 2, "*****", "too wide"},
      {-9.999, 5, 2, "*****", "rounds to -10.00, six characters"},
      {-0.001, 5, 2, "-0.00", "small negative keeps its sign"},
      {2.675, 5, 2, " 2.67", "binary value lies below the half"},
      {0.125, 5, 2, " 0.12", "exact tie rounds to even"},
      {0.375, 5, 2, " 0.38", "exact tie rounds to even"},
      {2.5, 6, 0, "    2.", "no decimals: the point stays"},
      {1e308, 10, 1, "**********", "huge"},
  };
  for (const RealCase& c : cases) {
    EXPECT_EQ(format_f(c.value, c.width, c.precision), c.expected) << c.why;
  }
}

TEST(NonFiniteValues, WordsRightAlignedOrAsterisks) {
  EXPECT_EQ(format_G(kNaN, 12, 4), "         NaN");
  EXPECT_EQ(format_G(kInf, 12, 4), "    Infinity");
  EXPECT_EQ(format_G(-kInf, 12, 4), "   -Infinity");
  EXPECT_EQ(format_E(kInf, 10, 3), "  Infinity");
  EXPECT_EQ(format_E3(-kInf, 20, 9), "           -Infinity");
  EXPECT_EQ(format_f(kInf, 8, 1), "Infinity");
  EXPECT_EQ(format_f(-kInf, 8, 1), "    -Inf");
  EXPECT_EQ(format_f(kInf, 5, 2), "  Inf");
  EXPECT_EQ(format_f(-kInf, 4, 2), "-Inf");
  EXPECT_EQ(format_f(-kInf, 3, 1), "***");
  EXPECT_EQ(format_f(kNaN, 3, 1), "NaN");
  EXPECT_EQ(format_f(kNaN, 2, 1), "**");
  EXPECT_EQ(format_E3(-kNaN, 20, 9), "                 NaN");
}

struct IntCase {
  std::int64_t value;
  int width;
  int digits;
  bool plus;
  const char* expected;
  const char* why;
};

TEST(IntegerField, StampsCountsAndOverflow) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const IntCase cases[] = {
      {2026, 4, 0, false, "2026", "year"},
      {5, 2, 2, false, "05", "month with a leading zero"},
      {45, 3, 3, false, "045", "milliseconds"},
      {9, 3, 0, false, "  9", "hour without a leading zero"},
      {60, 5, 4, true, "+0060", "one hour east of UTC"},
      {-300, 5, 4, true, "-0300", "five hours west"},
      {330, 5, 4, true, "+0330", "minutes, not hours and minutes"},
      {0, 5, 4, true, "+0000", "UTC itself"},
      {12345, 5, 4, true, "*****", "sign makes it six wide"},
      {100, 2, 0, false, "**", "the notation's overflow example"},
      {123456789, 8, 0, false, "********", "sides too wide"},
      {-5, 3, 0, false, " -5", "negative"},
      {-10, 2, 0, false, "**", "no room for the sign"},
      {0, 2, 0, false, " 0", "zero"},
      {kMin, 20, 0, false, "-9223372036854775808", "most negative int64"},
      {kMin, 19, 0, false, "*******************", "most negative int64, too narrow"},
      {kMax, 19, 0, false, "9223372036854775807", "largest int64"},
      {kMax, 20, 0, true, "+9223372036854775807", "largest int64 with sign"},
      {7, 3, 5, false, "***", "more digits than width"},
  };
  for (const IntCase& c : cases) {
    EXPECT_EQ(format_d(c.value, c.width, c.digits, c.plus), c.expected) << c.why;
  }
}

// Any double, whatever its bits (subnormals, NaN payloads, both zeros), and
// any width give a field of exactly that width.
TEST(AnyValue, FieldKeepsItsWidth) {
  std::mt19937_64 bits(20160126);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t pattern = bits();
    double value;
    std::memcpy(&value, &pattern, sizeof value);
    int width = static_cast<int>(pattern % 24);
    int precision = static_cast<int>((pattern >> 8) % 12);
    ASSERT_EQ(format_G(value, width, precision).size(), static_cast<std::size_t>(width)) << value;
    ASSERT_EQ(format_E(value, width, precision).size(), static_cast<std::size_t>(width)) << value;
    ASSERT_EQ(format_E3(value, width, precision).size(), static_cast<std::size_t>(width)) << value;
    ASSERT_EQ(format_f(value, width, precision).size(), static_cast<std::size_t>(width)) << value;
    auto integer = static_cast<std::int64_t>(pattern);
    ASSERT_EQ(format_d(integer, width, precision, i % 2 == 0).size(),
              static_cast<std::size_t>(width));
  }
}

TEST(AnyValue, DegenerateWidthsAndPrecisions) {
  EXPECT_EQ(format_G(1.0, 3, 4), "***");    // no room for the four trailing blanks
  EXPECT_EQ(format_G(0.0, 0, 4), "");
  EXPECT_EQ(format_G(1.0, 8, 0), "  1.    ");  // counted as one significant digit
  EXPECT_EQ(format_E3(12.5, 8, 0), "0.1E+002");
  EXPECT_EQ(format_f(1.0, -3, 2), "");
  EXPECT_EQ(format_d(5, 0), "");
}

#if defined(__x86_64__) || defined(__i386__)
// The run flushes subnormals to zero in its double arithmetic; a field still
// writes the value it is given.
TEST(AnyValue, SubnormalsUnderTheRunsFlushToZeroMode) {
  constexpr double kSmallest = 4.9406564584124654e-324;
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040);
  const std::string exponent_form = format_E(-kSmallest, 12, 4);
  const std::string fixed_form = format_f(kSmallest, 329, 327);
  _mm_setcsr(saved);
  EXPECT_EQ(exponent_form, " -4.9407-324");
  EXPECT_EQ(fixed_form, "0." + std::string(323, '0') + "4941");
}
#endif

}  // namespace
}  // namespace polygons::text
