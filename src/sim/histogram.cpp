#include "sim/histogram.hpp"

#include <cstddef>
#include <limits>
#include <utility>

#include "sim/memory.hpp"

namespace polygons::sim {

namespace {

std::size_t class_total(std::int32_t k1st, std::int32_t klass) {
  const std::int64_t classes = static_cast<std::int64_t>(klass) - k1st + 1;
  return classes > 0 ? static_cast<std::size_t>(classes) : 0;
}

void finish_class(std::int64_t N, double class_width, std::int32_t k1st, std::int32_t klass,
                  const std::vector<std::int64_t>& class_count, std::vector<double>& class_density,
                  std::vector<double>& class_cumul) {
  const std::size_t classes = class_total(k1st, klass);
  const double trials = static_cast<double>(N);
  const double divisor = trials * class_width;
  class_density.resize(classes);
  class_cumul.resize(classes);
  for (std::size_t k = 0; k < classes; ++k) {
    class_density[k] = static_cast<double>(class_count[k]) / divisor;
  }
  if (classes == 0) return;
  class_cumul[0] = 0.0;
  for (std::size_t k = 1; k < classes; ++k) {
    class_cumul[k] = class_cumul[k - 1] + static_cast<double>(class_count[k]);
  }
  for (std::size_t k = 0; k < classes; ++k) class_cumul[k] = class_cumul[k] / trials;
}

void class_centres(double class_width, std::int32_t k1st, std::int32_t klass,
                   std::vector<double>& class_centre) {
  const std::size_t classes = class_total(k1st, klass);
  class_centre.resize(classes);
  for (std::size_t k = 0; k < classes; ++k) {
    const double number =
        static_cast<double>(static_cast<std::int64_t>(k1st) + static_cast<std::int64_t>(k));
    class_centre[k] = (number - 0.5) * class_width;
  }
}

Mode find_mode(const std::vector<std::int64_t>& class_count, const std::vector<double>& result_z,
               const std::vector<double>& class_centre) {
  Mode mode;
  if (class_centre.empty()) {
    mode.y = -std::numeric_limits<double>::infinity();
    return mode;
  }
  std::size_t modal = 0;
  for (std::size_t k = 1; k < class_centre.size(); ++k) {
    if (class_count[k] > class_count[modal]) modal = k;
  }
  mode.x = class_centre[modal];
  mode.y = result_z[2 * modal];
  return mode;
}

}  // namespace

ClassArrays allocate_class_arrays(std::int32_t k1st, std::int32_t klass) {
  const std::size_t classes = class_total(k1st, klass);
  require_memory(static_cast<double>(classes + 1) * (sizeof(std::int64_t) + 5 * sizeof(double)));
  ClassArrays arrays;
  arrays.count.resize(classes + 1);
  arrays.density.resize(classes);
  arrays.cumul.resize(classes);
  arrays.centre.resize(classes);
  arrays.result_z.resize(2 * classes);
  return arrays;
}

void result_z(const std::vector<double>& class_density, const std::vector<double>& class_cumul,
              std::vector<double>& z) {
  z.resize(2 * class_density.size());
  for (std::size_t k = 0; k < class_density.size(); ++k) {
    z[2 * k] = class_density[k];
    z[2 * k + 1] = class_cumul[k];
  }
}

FinishedHistogram finish_histogram(ClassArrays classes, std::int64_t N, double class_width,
                                   std::int32_t k1st, std::int32_t klass) {
  finish_class(N, class_width, k1st, klass, classes.count, classes.density, classes.cumul);
  class_centres(class_width, k1st, klass, classes.centre);
  result_z(classes.density, classes.cumul, classes.result_z);
  const Mode mode = find_mode(classes.count, classes.result_z, classes.centre);
  return {std::move(classes), mode};
}

}  // namespace polygons::sim
