#pragma once
// The random polygon trials: n points uniform on a circle of radius R, joined
// in angular order; the perimeter of each polygon is counted into equal
// classes of [perim_min, perim_max] and folded into a running average and
// variance.

#include <cstdint>
#include <vector>

#include "sim/random.hpp"

namespace polygons::sim {

// Index of the first class.
inline constexpr std::int32_t K1ST = 1;

// What a run of trials hands back besides the class counts.
struct TrialResults {
  double class_width = 0.0;
  double perim_avg = 0.0;
  double perim_stdev = 0.0;  // sample standard deviation, divisor N - 1
};

// Width of one of the klass - k1st + 1 equal classes of [perim_min, perim_max].
double class_width_of(std::int32_t k1st, std::int32_t klass, double perim_min, double perim_max);

// Number of slots of the class-count array: the classes plus the overflow slot
// for a perimeter at the upper end of the range. 64-bit, so that no klass
// overflows the size computation.
std::int64_t class_slots(std::int32_t k1st, std::int32_t klass);

// Slot (0-based, slot 0 = class k1st) of a perimeter: the class number is the
// truncation of k1st + (P - perim_min) / width; a perimeter at perim_max lands
// in the overflow slot. Out-of-range values (possible only through rounding or
// a non-finite perimeter) are kept inside the array.
inline std::int64_t class_slot_of(double perimeter, double perim_min, double class_width,
                                  std::int32_t k1st, std::int64_t slots) {
  const double first = static_cast<double>(k1st);
  const double position = first + (perimeter - perim_min) / class_width;
  if (!(position >= first)) return 0;
  if (position >= first + static_cast<double>(slots - 1)) return slots - 1;
  return static_cast<std::int64_t>(position) - k1st;
}

// Running average and sample variance of one stream of perimeters, by the
// recurrence the run's reported figures are defined with.
struct RunningStats {
  std::int64_t count = 0;
  double avg = 0.0;
  double variance = 0.0;  // divisor count - 1

  void add(double perimeter) {
    ++count;
    if (count == 1) {
      avg = perimeter;
      variance = 0.0;
      return;
    }
    const double k = static_cast<double>(count);
    const double d = perimeter - avg;
    avg = d / k + avg;
    variance = ((k - 2.0) * variance) / (k - 1.0) + (d * d) / k;
  }
};

// The straightforward trial loop: N trials (at least one) on the one stream of
// `rng`, n draws each, an exchange sort, angles, cosines and sines, chords and
// their sum times R. `class_count` must hold class_slots(k1st, klass) entries;
// it is zeroed and filled, with the overflow slot folded into the last class
// (the overflow slot keeps its value). Requires n >= 1 and a non-zero width.
TrialResults simulate_class(std::int32_t n, double R, std::int64_t N, std::int32_t k1st,
                            std::int32_t klass, double perim_min, double perim_max,
                            std::vector<std::int64_t>& class_count, SeedState& rng);

// Adds the overflow slot into the last class.
void fold_overflow(std::vector<std::int64_t>& class_count);

}  // namespace polygons::sim
