#include "web/fields.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

namespace polygons::web {
namespace {

submitted_fields valid_fields() {
  return {{"sides", "3"},  {"radius", "1"},  {"trials", "1e6"},
          {"seed", "1"},   {"classes", "0"}, {"show", "0"}};
}

submitted_fields with_field(std::string_view name, std::string value) {
  submitted_fields fields = valid_fields();
  for (auto& [key, text] : fields) {
    if (key == name) text = std::move(value);
  }
  return fields;
}

struct good_case {
  std::string_view field;
  std::string text;
  double expected;
  const char* why;
};

TEST(RunRequestFields, AcceptsEveryFieldWithinItsLimits) {
  const good_case cases[] = {
      {"sides", "1", 1, "lowest"},
      {"sides", "10000", 10000, "highest"},
      {"sides", " 7 ", 7, "blanks around the value"},
      {"sides", "+5", 5, "explicit plus sign"},
      {"sides", "007", 7, "leading zeros"},
      {"radius", "2.5", 2.5, "fixed point"},
      {"radius", ".5", 0.5, "no digit before the point"},
      {"radius", "5.", 5, "no digit after the point"},
      {"radius", "1e-6", 1e-6, "lowest"},
      {"radius", "1E6", 1e6, "highest, capital exponent"},
      {"radius", "1.0D+02", 100, "exponent introduced by D"},
      {"trials", "1000", 1000, "lowest"},
      {"trials", "1e8", 1e8, "highest"},
      {"trials", "1.5E+06", 1.5e6, "signed exponent"},
      {"trials", "1234.4", 1234.4, "fraction: the program rounds it"},
      {"seed", "0", 0, "seed from the clock"},
      {"seed", "-2147483648", -2147483648.0, "lowest 32-bit value"},
      {"seed", "2147483647", 2147483647.0, "highest 32-bit value"},
      {"classes", "0", 0, "chosen by the program"},
      {"classes", "10000", 10000, "highest"},
      {"show", "1", 1, "listing on"},
  };
  for (const good_case& c : cases) {
    run_request request;
    field_error error;
    ASSERT_TRUE(parse_run_request(with_field(c.field, c.text), request, error))
        << c.field << "=" << c.text << " (" << c.why << "): " << error.message;
    double got = c.field == "sides"     ? request.sides
                 : c.field == "radius"  ? request.radius
                 : c.field == "trials"  ? request.trials
                 : c.field == "seed"    ? request.seed
                 : c.field == "classes" ? request.classes
                                        : request.show;
    EXPECT_EQ(got, c.expected) << c.field << "=" << c.text << " (" << c.why << ")";
  }
}

struct bad_case {
  std::string_view field;
  std::string text;
  const char* why;
};

TEST(RunRequestFields, RefusesBadValuesNamingTheField) {
  const bad_case cases[] = {
      {"sides", "", "empty"},
      {"sides", "0", "below the range"},
      {"sides", "10001", "above the range"},
      {"sides", "-3", "negative"},
      {"sides", "3.0", "fraction form for a whole number"},
      {"sides", "1e3", "exponent for a whole number"},
      {"sides", "3,4", "comma: a second value for the reader"},
      {"sides", "3 4", "blank inside: a second value for the reader"},
      {"sides", "3/", "slash ends the reader's read"},
      {"sides", "3\n4", "line end: an extra parameter line"},
      {"sides", "3\r", "carriage return"},
      {"sides", "\t3", "tab"},
      {"sides", "three", "letters"},
      {"sides", "0x10", "hexadecimal"},
      {"sides", "99999999999999999999", "overflows"},
      {"sides", "+-3", "two signs"},
      {"radius", "0", "zero"},
      {"radius", "-1", "negative"},
      {"radius", "1e-7", "below the range"},
      {"radius", "1e7", "above the range"},
      {"radius", "1000000.001", "just above the range"},
      {"radius", "0.000000999", "just below the range"},
      {"radius", "nan", "not a number"},
      {"radius", "inf", "infinite"},
      {"radius", "1e999", "overflows to infinity"},
      {"radius", ".", "point without digits"},
      {"radius", "1e", "exponent without digits"},
      {"radius", "1e+", "exponent sign without digits"},
      {"radius", "1.2.3", "two points"},
      {"radius", "1,5", "decimal comma"},
      {"radius", "1/2", "slash"},
      {"radius", std::string(33, '1'), "longer than any number needs"},
      {"trials", "999.9", "below the lower limit"},
      {"trials", "100000001", "above the upper limit"},
      {"trials", "1e6 4711", "seed smuggled onto the trials line"},
      {"trials", "1e6,4711", "seed smuggled with a comma"},
      {"seed", "2147483648", "above the 32-bit range"},
      {"seed", "-2147483649", "below the 32-bit range"},
      {"seed", "1.5", "fraction"},
      {"classes", "-1", "negative"},
      {"classes", "10001", "above the range"},
      {"show", "2", "neither 0 nor 1"},
      {"show", "yes", "word"},
      {"show", "", "empty"},
  };
  for (const bad_case& c : cases) {
    run_request request;
    field_error error;
    EXPECT_FALSE(parse_run_request(with_field(c.field, c.text), request, error))
        << c.field << "=" << c.text << " (" << c.why << ")";
    EXPECT_EQ(error.field, c.field) << c.why;
    EXPECT_EQ(error.message.rfind(std::string(c.field) + ":", 0), 0u)
        << "message should start with the field: " << error.message;
  }
}

TEST(RunRequestFields, RequiresEveryFieldButShow) {
  for (std::string_view missing : {"sides", "radius", "trials", "seed", "classes"}) {
    submitted_fields fields = valid_fields();
    std::erase_if(fields, [&](const auto& f) { return f.first == missing; });
    run_request request;
    field_error error;
    EXPECT_FALSE(parse_run_request(fields, request, error)) << missing;
    EXPECT_EQ(error.message, std::string(missing) + ": missing");
  }
  submitted_fields fields = valid_fields();
  fields.pop_back();
  run_request request;
  request.show = 7;
  field_error error;
  ASSERT_TRUE(parse_run_request(fields, request, error));
  EXPECT_EQ(request.show, 0);
}

TEST(RunRequestFields, RefusesAFieldGivenTwiceAndIgnoresUnknownNames) {
  submitted_fields twice = valid_fields();
  twice.emplace_back("seed", "2");
  run_request request;
  field_error error;
  EXPECT_FALSE(parse_run_request(twice, request, error));
  EXPECT_EQ(error.message, "seed: given more than once");

  submitted_fields extra = valid_fields();
  extra.emplace_back("submit", "Run");
  EXPECT_TRUE(parse_run_request(extra, request, error));
}

TEST(AnswerFormat, TakesTextJsonOrCsvAndRefusesAnythingElseNamingTheField) {
  const std::pair<submitted_fields, std::optional<answer_format>> cases[] = {
      {{}, answer_format::text},
      {{{"format", "text"}}, answer_format::text},
      {{{"format", "json"}}, answer_format::json},
      {{{"format", "csv"}}, answer_format::csv},
      {{{"format", "JSON"}}, std::nullopt},  // names are exact
      {{{"format", "xml"}}, std::nullopt},
      {{{"format", ""}}, std::nullopt},
      {{{"format", "json"}, {"format", "csv"}}, std::nullopt},
  };
  for (const auto& [fields, expected] : cases) {
    answer_format format = answer_format::csv;
    field_error error;
    const std::string shown = fields.empty() ? "(none)" : fields[0].second;
    ASSERT_EQ(parse_answer_format(fields, format, error), expected.has_value()) << shown;
    if (expected) {
      EXPECT_EQ(format, *expected) << shown;
    } else {
      EXPECT_EQ(error.field, "format");
      EXPECT_EQ(error.message.rfind("format: ", 0), 0u) << error.message;
    }
  }
}

TEST(ParameterLines, DefaultsGiveFiveLinesTheProgramReads) {
  EXPECT_EQ(parameter_lines(run_request{}), "3\n1\n1e+06 1\n0\n0\n");
  run_request r{10000, 0.1, 1234.4, -7, 50, 1};
  EXPECT_EQ(parameter_lines(r), "10000\n0.1\n1234.4 -7\n50\n1\n");
}

TEST(ParameterLines, RealsReadBackExactly) {
  for (double value : {1.0, 0.1, 2.5, 1e-6, 1e6, 1e8, 1234.4, 1.0 / 3.0, 123456.789}) {
    std::string text = real_text(value);
    EXPECT_EQ(text.find_first_of(" ,/\n"), std::string::npos) << text;
    auto back = parse_real_number(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, value) << text;
  }
}

}  // namespace
}  // namespace polygons::web
