#include "sim/trials.hpp"

#include <cmath>
#include <utility>

#include "sim/memory.hpp"

namespace polygons::sim {

double class_width_of(std::int32_t k1st, std::int32_t klass, double perim_min, double perim_max) {
  const double classes = static_cast<double>(static_cast<std::int64_t>(klass) - k1st + 1);
  return (perim_max - perim_min) / classes;
}

std::int64_t class_slots(std::int32_t k1st, std::int32_t klass) {
  return static_cast<std::int64_t>(klass) - k1st + 2;
}

void fold_overflow(std::vector<std::int64_t>& class_count) {
  if (class_count.size() >= 2) class_count[class_count.size() - 2] += class_count.back();
}

namespace {

// Ascending order by adjacent exchanges: n - 1 full passes, equal values stay.
void sort(std::vector<double>& u) {
  const std::size_t n = u.size();
  if (n < 2) return;
  for (std::size_t pass = 1; pass < n; ++pass) {
    for (std::size_t i = 0; i + 1 < n; ++i) {
      if (u[i] > u[i + 1]) std::swap(u[i], u[i + 1]);
    }
  }
}

// The work arrays of one trial, allocated once per run.
struct TrialArrays {
  explicit TrialArrays(std::size_t n) : u(n), a(n), x(n), y(n), l(n) {}
  std::vector<double> u, a, x, y, l;
};

double polygon_perimeter(TrialArrays& w, double R, double two_pi, SeedState& rng) {
  const std::size_t n = w.u.size();
  for (std::size_t i = 0; i < n; ++i) w.u[i] = for_random_number(rng);
  sort(w.u);
  for (std::size_t i = 0; i < n; ++i) w.a[i] = w.u[i] * two_pi;
  for (std::size_t i = 0; i < n; ++i) {
    w.x[i] = std::cos(w.a[i]);
    w.y[i] = std::sin(w.a[i]);
  }
  auto chord = [&w](std::size_t i, std::size_t j) {
    const double dx = w.x[i] - w.x[j];
    const double dy = w.y[i] - w.y[j];
    return std::sqrt(dx * dx + dy * dy);
  };
  for (std::size_t i = 0; i + 1 < n; ++i) w.l[i] = chord(i, i + 1);
  w.l[n - 1] = chord(n - 1, 0);
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += w.l[i];
  return sum * R;
}

}  // namespace

TrialResults simulate_class(std::int32_t n, double R, std::int64_t N, std::int32_t k1st,
                            std::int32_t klass, double perim_min, double perim_max,
                            std::vector<std::int64_t>& class_count, SeedState& rng) {
  const double pi = 4.0 * std::atan(1.0);
  const double two_pi = 2.0 * pi;
  TrialResults result;
  result.class_width = class_width_of(k1st, klass, perim_min, perim_max);
  const std::int64_t slots = class_slots(k1st, klass);
  class_count.assign(static_cast<std::size_t>(slots), 0);
  require_memory(5.0 * sizeof(double) * static_cast<double>(n));
  TrialArrays work(static_cast<std::size_t>(n));

  RunningStats stats;
  const std::int64_t trials = N < 1 ? 1 : N;
  for (std::int64_t k = 1; k <= trials; ++k) {
    const double perimeter = polygon_perimeter(work, R, two_pi, rng);
    ++class_count[class_slot_of(perimeter, perim_min, result.class_width, k1st, slots)];
    stats.add(perimeter);
  }
  fold_overflow(class_count);
  result.perim_avg = stats.avg;
  result.perim_stdev = std::sqrt(stats.variance);
  return result;
}

}  // namespace polygons::sim
