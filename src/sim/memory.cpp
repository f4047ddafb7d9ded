#include "sim/memory.hpp"

#include <unistd.h>

#include <limits>
#include <new>

namespace polygons::sim {

double physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return std::numeric_limits<double>::infinity();
  return static_cast<double>(pages) * static_cast<double>(page_size);
}

void require_memory(double bytes) {
  if (bytes > physical_memory()) throw std::bad_alloc();
}

}  // namespace polygons::sim
