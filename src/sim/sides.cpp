#include "sim/sides.hpp"

#include <cstring>

#include "sim/random_lanes.hpp"
#include "sim/sine_and_moments.hpp"

namespace polygons::sim {

namespace {

// A double for each partial sum, and as many draws.
using Sides8 = Vector<kPartialSums, double>;
using Draws8 = Vector<kPartialSums, std::int32_t>;

// The arcs from the eight draws at `low` to the eight at `high`, in full
// turns.
POLYGONS_INLINE void arcs_between(const std::int32_t* low, const std::int32_t* high,
                                  double scale, Sides8& arcs) {
  Draws8 high8, low8;
  std::memcpy(&high8, high, sizeof high8);
  std::memcpy(&low8, low, sizeof low8);
  arcs = __builtin_convertvector(high8 - low8, Sides8) * scale;
}

// Vectors of sides whose sines are worked together: one sine's steps each
// wait on the one before, and four side by side keep the floating-point
// units busy.
constexpr std::size_t kSinesAtOnce = 4;

// The side of row i of sorted rows, for every lane. With Together, the
// sines of the lanes are worked eight lanes to a vector, all the vectors
// together; that takes more registers than the sets with sixteen have, and
// for them the compiler's own vectors of the lane loop do better.
template <std::size_t Lanes, bool Together>
POLYGONS_INLINE void side_row(const std::int32_t* rows, std::size_t n, std::size_t i,
                              double scale, double pi, double* __restrict side) {
  static_assert(Lanes % kPartialSums == 0);
  const bool closing = i + 1 == n;
  const std::int32_t* high = rows + (closing ? n - 1 : i + 1) * Lanes;
  const std::int32_t* low = rows + (closing ? 0 : i) * Lanes;
  if constexpr (Together) {
    Sides8 sides[Lanes / kPartialSums];
    for (std::size_t k = 0; k < Lanes / kPartialSums; ++k) {
      arcs_between(low + kPartialSums * k, high + kPartialSums * k, scale, sides[k]);
    }
    take_sines_pi(sides, pi);
    std::memcpy(side, sides, sizeof sides);
  } else {
    for (std::size_t j = 0; j < Lanes; ++j) {
      side[j] = sin_pi(static_cast<double>(high[j] - low[j]) * scale, pi);
    }
  }
}

// Every lane's sides added in the order of sim/sine_and_moments.hpp: one
// after the other, or side i into partial sum i mod kPartialSums.
template <std::size_t Lanes, bool Together>
POLYGONS_INLINE void sums_of_sorted_rows(const std::int32_t* rows, std::size_t n, double scale,
                                         double pi, double* __restrict sums) {
  double side[Lanes];
  if (n < kEightPartialsFrom) {
    double sum[Lanes] = {};
    for (std::size_t i = 0; i < n; ++i) {
      side_row<Lanes, Together>(rows, n, i, scale, pi, side);
      for (std::size_t j = 0; j < Lanes; ++j) sum[j] += side[j];
    }
    for (std::size_t j = 0; j < Lanes; ++j) sums[j] = sum[j];
    return;
  }
  double partial[kPartialSums][Lanes] = {};
  for (std::size_t i = 0; i < n; ++i) {
    side_row<Lanes, Together>(rows, n, i, scale, pi, side);
    for (std::size_t j = 0; j < Lanes; ++j) partial[i % kPartialSums][j] += side[j];
  }
  for (std::size_t j = 0; j < Lanes; ++j) {
    double sum = 0.0;
    for (std::size_t k = 0; k < kPartialSums; ++k) sum += partial[k][j];
    sums[j] = sum;
  }
}

template <Isa Set>
POLYGONS_INLINE void sides_in_lanes_body(std::int32_t* z, std::size_t n, std::size_t groups,
                                         std::span<const Comparator> network, double scale,
                                         double pi, double* sums) {
  constexpr bool kManyRegisters = has_many_registers(Set);
  for (std::size_t g = 0; g < groups; ++g) {
    std::int32_t* rows = z + g * n * kDrawLanes;
    sort_lanes<kDrawLanes, vector_ints(Set), kManyRegisters>(rows, network);
    sums_of_sorted_rows<kDrawLanes, kManyRegisters>(rows, n, scale, pi, sums + g * kDrawLanes);
  }
}

POLYGONS_INLINE double sides_of_sorted_body(const std::int32_t* z, std::size_t n, double scale,
                                            double pi) {
  Sides8 partial = {};
  std::size_t i = 0;
  for (; i + kPartialSums * kSinesAtOnce < n; i += kPartialSums * kSinesAtOnce) {
    Sides8 sides[kSinesAtOnce];
    for (std::size_t k = 0; k < kSinesAtOnce; ++k) {
      arcs_between(z + i + kPartialSums * k, z + i + kPartialSums * k + 1, scale, sides[k]);
    }
    take_sines_pi(sides, pi);
    for (const Sides8& side : sides) partial += side;
  }
  for (; i + kPartialSums < n; i += kPartialSums) {
    Sides8 side;
    arcs_between(z + i, z + i + 1, scale, side);
    take_sin_pi(side, pi);
    partial += side;
  }
  for (; i < n; ++i) {
    const std::int32_t gap = i + 1 < n ? z[i + 1] - z[i] : z[n - 1] - z[0];
    partial[i % kPartialSums] += sin_pi(static_cast<double>(gap) * scale, pi);
  }
  double sum = 0.0;
  for (std::size_t k = 0; k < kPartialSums; ++k) sum += partial[k];
  return sum;
}

// The shape of network each set sorts with: blocks of rows in registers
// where there are enough of them.
constexpr NetworkShape shape_for(Isa isa) {
  return has_many_registers(isa) ? NetworkShape::register_blocks : NetworkShape::batcher_tiles;
}

constexpr bool lanes_max_fit() {
  for (const IsaRow& row : kIsaRows) {
    if (row.lanes_max < kEightPartialsFrom || row.lanes_max > kLanesMax) return false;
  }
  return true;
}
static_assert(lanes_max_fit(),
              "a trial sorted alone adds its sides in eight sums; networks go to kLanesMax");

// The kernels of one instruction set: thin functions compiled for that set
// around the bodies above.
#define POLYGONS_SIDES_FOR(isa, target)                                                        \
  namespace isa {                                                                              \
  target void sides_in_lanes(std::int32_t* z, std::size_t n, std::size_t groups,               \
                             std::span<const Comparator> network, double scale, double pi,     \
                             double* sums) {                                                   \
    sides_in_lanes_body<Isa::isa>(z, n, groups, network, scale, pi, sums);                    \
  }                                                                                            \
  target double sides_of_sorted(const std::int32_t* z, std::size_t n, double scale, double pi) { \
    return sides_of_sorted_body(z, n, scale, pi);                                              \
  }                                                                                            \
  }

POLYGONS_FOR_EVERY_SET(POLYGONS_SIDES_FOR)

}  // namespace

SidesInLanes sides_in_lanes_for(Isa isa) { return POLYGONS_KERNEL_OF(isa, sides_in_lanes); }

SidesOfSorted sides_of_sorted_for(Isa isa) { return POLYGONS_KERNEL_OF(isa, sides_of_sorted); }

NetworkShape network_shape_for(Isa isa) { return shape_for(isa); }

std::size_t lanes_max_for(Isa isa) { return row_of(isa).lanes_max; }

}  // namespace polygons::sim
