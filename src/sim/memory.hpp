#pragma once
// A guard for allocations sized by the run's parameters, and buffers that
// share no cache line with any other allocation.

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace polygons::sim {

// The machine's physical memory in bytes, or infinity when it cannot be asked.
double physical_memory();

// Throws std::bad_alloc when `bytes` exceed the machine's physical memory.
// With memory overcommitted, such an allocation can succeed and the process
// be killed later while it is being filled; refusing it up front gives the
// run a clear message instead.
void require_memory(double bytes);

inline constexpr std::size_t kCacheLine = 64;

// Blocks that start on a cache line and fill their last one, so that the
// buffers of two threads never share a line: a write to one would slow the
// other's every access to it.
template <typename T>
struct LineAllocator {
  using value_type = T;

  LineAllocator() = default;
  template <typename U>
  LineAllocator(const LineAllocator<U>&) {}

  T* allocate(std::size_t count) {
    if (count > (SIZE_MAX - kCacheLine) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = (count * sizeof(T) + kCacheLine - 1) / kCacheLine * kCacheLine;
    return static_cast<T*>(::operator new(bytes, std::align_val_t{kCacheLine}));
  }
  void deallocate(T* block, std::size_t) { ::operator delete(block, std::align_val_t{kCacheLine}); }

  template <typename U>
  bool operator==(const LineAllocator<U>&) const {
    return true;
  }
};

template <typename T>
using LineVector = std::vector<T, LineAllocator<T>>;

}  // namespace polygons::sim
