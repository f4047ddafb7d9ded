#pragma once
// The six values a visitor submits for one run: strict checking of each field
// and the parameter lines the program reads on standard input.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "params/readat.hpp"

namespace polygons::web {

// One run as the page and the API accept it. The defaults fill the empty form.
struct run_request {
  int sides = 3;
  double radius = 1.0;
  double trials = 1e6;
  int seed = 1;
  int classes = 0;  // 0: the program chooses the number of classes
  int show = 0;     // 1: the report also lists the histogram
};

// Field names, as they appear in the form and in API queries.
inline constexpr std::string_view kSidesField = "sides";
inline constexpr std::string_view kRadiusField = "radius";
inline constexpr std::string_view kTrialsField = "trials";
inline constexpr std::string_view kSeedField = "seed";
inline constexpr std::string_view kClassesField = "classes";
inline constexpr std::string_view kShowField = "show";
inline constexpr std::string_view kFormatField = "format";  // the API's only

// Limits of the service, inclusive. The trial limits are those the program
// applies to runs without a user login; larger values would only be cut down
// by it. The checks, their messages and the form's help texts all come from
// these.
inline constexpr int kMinSides = 1;
inline constexpr int kMaxSides = 10000;
inline constexpr double kMinRadius = 1e-6;
inline constexpr double kMaxRadius = 1e6;
inline constexpr double kMinTrials = params::ZN_MIN;
inline constexpr double kMaxTrials = params::zn_max_without_login();
inline constexpr int kMinSeed = -2147483647 - 1;
inline constexpr int kMaxSeed = 2147483647;
inline constexpr int kMinClasses = 0;
inline constexpr int kMaxClasses = 10000;
inline constexpr std::size_t kMaxFieldLength = 32;

// A limit as the form and the messages write it: whole numbers below 1e5
// and those the exponent form would not shorten in full (1000, 2147483647),
// others in the shortest form, with a plain exponent (1e-6, 1e8, 2.5).
std::string limit_text(double value);

// "<low> to <high>" in limit_text.
std::string range_text(double low, double high);

// A refused field: its name and a message for the visitor that names it.
struct field_error {
  std::string field;
  std::string message;
};

using submitted_fields = std::vector<std::pair<std::string, std::string>>;

// An optional sign and decimal digits, nothing else (blanks around the text
// are allowed). Empty when the text is not of that form or overflows.
std::optional<long long> parse_whole_number(std::string_view text);

// An optional sign, digits with at most one decimal point, and an optional
// exponent introduced by E or D. Empty when the text is not of that form or
// the value is not finite.
std::optional<double> parse_real_number(std::string_view text);

// Checks every field of `fields` (name, value pairs in submission order).
// `show` may be left out (0); every other field is required, each may appear
// only once, and names not listed above are ignored. On success fills `out`;
// otherwise fills `error` for the first refused field.
bool parse_run_request(const submitted_fields& fields, run_request& out, field_error& error);

// How the API answers a run: the report as text, or the run's figures as
// JSON or as CSV (the classes only).
enum class answer_format { text, json, csv };

// The `format` field of an API request: "text" when left out; "text", "json"
// or "csv" otherwise. False, with `error` naming the field, for any other
// value or a field given more than once.
bool parse_answer_format(const submitted_fields& fields, answer_format& out, field_error& error);

// The five parameter lines for the program's standard input, each ended by a
// newline, written so that the program reads back exactly the checked values.
std::string parameter_lines(const run_request& request);

// Shortest text that reads back as `value` (1, 0.5, 1e+06).
std::string real_text(double value);

}  // namespace polygons::web
