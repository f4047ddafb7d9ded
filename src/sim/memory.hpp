#pragma once
// A guard for allocations sized by the run's parameters.

namespace polygons::sim {

// Throws std::bad_alloc when `bytes` exceed the machine's physical memory.
// With memory overcommitted, such an allocation can succeed and the process
// be killed later while it is being filled; refusing it up front gives the
// run a clear message instead.
void require_memory(double bytes);

}  // namespace polygons::sim
