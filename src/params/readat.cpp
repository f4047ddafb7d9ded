#include "params/readat.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "params/list_input.hpp"
#include "params/login.hpp"
#include "text/fixed_text.hpp"
#include "text/line.hpp"

namespace polygons::params {
namespace {

constexpr double ONE = 1.0;

// Defaults: a parameter whose value is given as a null value or cut off by a
// slash keeps the default of run_parameters (sides 3, radius 1.0, iseed 1,
// klass 0, which turns into the computed class count, ishow 0); zn keeps 1000.
// N is 64-bit: with a user login zn may go up to ZN_MAX, beyond 32 bits, and
// the run makes that many trials. A zn read as NaN is refused.
constexpr double ZN_DEFAULT = 1000.0;

void put_warning(text::LineSink& out, std::string_view text, double zn) {
  text::put(out, text::Line().lit(text).E(zn, 10, 3));
}

// The three limits of zn, in order, each warning at once when it applies.
double limit_trials(text::LineSink& out, double zn, bool internet_run) {
  if (zn > ZN_MAX) {
    zn = ZN_MAX;
    put_warning(out, " %Wrn Reducing zn to ", zn);
  }
  const double item_limit = zn_max_without_login();
  if (internet_run && zn > item_limit) {
    zn = item_limit;
    put_warning(out, " %Wrn Reducing zn to", zn);
  }
  if (zn < ZN_MIN) {
    zn = ZN_MIN;
    put_warning(out, " %Wrn Augmenting N to", zn);
  }
  return zn;
}


void refuse(const std::string& message) { throw text::FatalError(message, text::kExitBadInput); }

void put_sides_line(text::LineSink& out, const run_parameters& p) {
  text::put(out, text::Line().lit(" .Sides,").col(30).d(p.sides, 8).col(42).lit("| (sides of polygom)"));
}

void put_radius_line(text::LineSink& out, const run_parameters& p) {
  text::put(out, text::Line().lit(" Radius,").col(30).G(p.radius, 12, 4).col(42).lit("| (radius of circle)"));
}

// Limits zn, sets N from it and writes the trials line; seeds `rng` from
// iseed after it.
void settle_trials(text::LineSink& out, double zn, bool internet_run, run_parameters& p,
                   sim::SeedState& rng) {
  zn = limit_trials(out, zn, internet_run);
  p.N = std::llround(zn);
  text::put(out, text::Line()
                     .lit(" N. of trials (N),")
                     .col(32)
                     .E(zn, 10, 3)
                     .col(42)
                     .lit("| = ")
                     .s(text::i0(p.N))
                     .lit("; seed, ")
                     .s(text::i0(p.iseed)));
  sim::random_init(rng, p.iseed);
}

// A klass below 1 turns into the computed class count.
void settle_classes(text::LineSink& out, run_parameters& p) {
  if (p.klass < 1) p.klass = default_klass(p.N);
  text::put(out, text::Line().lit(" klasses,").col(32).d(p.klass, 6).col(42).lit("|"));
}

void put_show_line(text::LineSink& out, const run_parameters& p) {
  text::put(out, text::Line().lit(" Show values ? {0|1}").col(36).d(p.ishow, 2).col(42).lit("|"));
}

void put_ruler(text::LineSink& out) {
  text::put(out, text::Line().blanks(1).lit(std::string(40, '-')).lit("+").lit(std::string(39, '-')));
}

const char* const kNanTrials = "the number of trials zn is NaN; it must be a number";

}  // namespace

// ceil(ln N / ln 2) + 1, from the quotient as computed in double precision.
std::int32_t default_klass(std::int64_t n) {
  return static_cast<std::int32_t>(std::ceil(std::log(static_cast<double>(n) * ONE) / std::log(2.0 * ONE))) + 1;
}

run_parameters readat(std::istream& in, text::LineSink& out, const std::vector<std::string>& args,
                      sim::SeedState& rng) {
  const bool internet_run = internet(out);
  reminder(out, args);

  run_parameters p;
  double zn = ZN_DEFAULT;
  list_input input{in};

  read_list(input, std::array{list_item{"number of sides", &p.sides}});
  put_sides_line(out, p);

  read_list(input, std::array{list_item{"radius", &p.radius}});
  put_radius_line(out, p);

  read_list(input, std::array{list_item{"number of trials zn", &zn}, list_item{"seed iseed", &p.iseed}});
  if (std::isnan(zn))
    refuse(input.source_name + ", line " + text::i0(input.line_number) + ": " + kNanTrials);
  settle_trials(out, zn, internet_run, p, rng);

  read_list(input, std::array{list_item{"number of classes klass", &p.klass}});
  settle_classes(out, p);

  read_list(input, std::array{list_item{"show switch ishow", &p.ishow}});
  put_show_line(out, p);

  put_ruler(out);
  return p;
}

run_parameters settle_parameters(const given_parameters& given, text::LineSink& out,
                                 bool internet_run, sim::SeedState& rng) {
  run_parameters p;
  p.sides = given.sides;
  p.radius = given.radius;
  p.iseed = given.iseed;
  p.klass = given.klass;
  p.ishow = given.ishow;
  put_sides_line(out, p);
  put_radius_line(out, p);
  if (std::isnan(given.zn)) refuse(kNanTrials);
  settle_trials(out, given.zn, internet_run, p, rng);
  settle_classes(out, p);
  put_show_line(out, p);
  put_ruler(out);
  return p;
}

void refuse_unusable(const run_parameters& p, double perim_max) {
  if (p.sides < 1)
    refuse("the number of sides is " + text::i0(p.sides) + "; a polygon needs at least 1 side");
  if (p.radius == 0.0) refuse("the radius is 0; the polygons need a circle of some size");
  if (!std::isfinite(p.radius)) refuse("the radius is not a finite number");
  if (perim_max == 0.0 || !std::isfinite(perim_max))
    refuse("the perimeter range 2 n R sin(pi/n) of " + text::i0(p.sides) +
           " sides and this radius is " + (perim_max == 0.0 ? "0" : "not finite") +
           "; the classes cannot be formed");
  const double class_width = perim_max / static_cast<double>(p.klass);
  if (class_width == 0.0 || !std::isfinite(class_width))
    refuse("the class width (perimeter range / " + text::i0(p.klass) + " classes) is " +
           (class_width == 0.0 ? "0" : "not finite") + "; the classes cannot be formed");
}

}  // namespace polygons::params
