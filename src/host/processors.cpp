#include "host/processors.hpp"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace polygons::host {

int available_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  // A cpu_set_t holds 1024 processors at most, so the count never goes beyond that.
  return static_cast<int>(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, CPU_SETSIZE));
}

}  // namespace polygons::host
