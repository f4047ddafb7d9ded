#include "sim/memory.hpp"

#include <unistd.h>

#include <new>

namespace polygons::sim {

void require_memory(double bytes) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return;
  if (bytes > static_cast<double>(pages) * static_cast<double>(page_size)) throw std::bad_alloc();
}

}  // namespace polygons::sim
