// Feeds fuzzed bytes to the parameter reader as its standard input, with or
// without a user login, and to single free-format list reads of fuzzed item
// layouts. Refusing the input (text::FatalError) is a correct answer; a
// crash, undefined behaviour, a hang, any other exception, or accepted
// parameters outside the limits are faults.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "fuzz/fuzz_input.hpp"
#include "params/list_input.hpp"
#include "params/readat.hpp"
#include "run/report.hpp"
#include "sim/random.hpp"
#include "text/io.hpp"

namespace {

using polygons::fuzz::fuzz_input;
namespace params = polygons::params;
namespace text = polygons::text;

[[noreturn]] void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "parameter reader fault: %s: %s\n", what, detail.c_str());
  std::abort();
}

void check_refusal(const text::FatalError& e) {
  if (e.status() != text::kExitBadInput && e.status() != text::kExitIoFailure) {
    fail("refusal with an unexpected status", std::to_string(e.status()));
  }
  if (std::string(e.what()).empty()) fail("refusal without a message", "");
}

void set_user(std::uint8_t choice) {
  switch (choice % 3) {
    case 0:
      unsetenv("USER");
      break;
    case 1:
      setenv("USER", "fuzz", 1);
      break;
    default:
      setenv("USER", "   ", 1);
      break;
  }
}

// The whole reader: accepted parameters must lie within the limits it applies.
void fuzz_readat(fuzz_input& input) {
  set_user(input.byte());
  std::istringstream in{std::string(input.rest())};
  text::StringSink out;
  polygons::sim::SeedState rng;
  params::run_parameters p;
  try {
    p = params::readat(in, out, {}, rng);
  } catch (const text::FatalError& e) {
    return check_refusal(e);
  }
  if (p.N < 1000 || p.N > 2330000000LL) fail("number of trials outside its limits", std::to_string(p.N));
  if (p.klass < 1) fail("class count below 1", std::to_string(p.klass));
  const std::string& report = out.text();
  if (report.size() < 82 || report.compare(report.size() - 82, 2, " -") != 0) {
    fail("report does not end with the ruler", report);
  }
  try {
    params::refuse_unusable(p, polygons::run::perimeter_max(p.sides, p.radius));
  } catch (const text::FatalError& e) {
    check_refusal(e);
  }
}

// Single list reads of up to four items each, integers and reals mixed.
void fuzz_list_reads(fuzz_input& input) {
  std::uint8_t layout = input.byte();
  std::istringstream in{std::string(input.rest())};
  params::list_input lines{in};
  std::array<std::int32_t, 4> integers{};
  std::array<double, 4> reals{};
  try {
    for (int read = 0; read < 6; ++read) {
      std::vector<params::list_item> items;
      int count = 1 + (layout + read) % 4;
      for (int i = 0; i < count; ++i) {
        bool integer = ((layout >> ((read + i) % 8)) & 1) != 0;
        if (integer) {
          items.push_back({"integer item", &integers[static_cast<std::size_t>(i)]});
        } else {
          items.push_back({"real item", &reals[static_cast<std::size_t>(i)]});
        }
      }
      std::int64_t before = lines.line_number;
      params::read_list(lines, items);
      if (lines.line_number <= before) fail("a read consumed no line", std::to_string(before));
    }
  } catch (const text::FatalError& e) {
    check_refusal(e);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input input(data, size);
  try {
    if (input.byte() % 4 == 0) {
      fuzz_list_reads(input);
    } else {
      fuzz_readat(input);
    }
  } catch (const std::exception& e) {
    fail("unexpected exception", e.what());
  } catch (const text::RunEnded&) {
    fail("run ended without a reminder request", "");
  }
  return 0;
}
