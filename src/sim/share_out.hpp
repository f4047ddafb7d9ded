#pragma once
// Independent pieces of work shared out over threads.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace polygons::sim {

// Calls work(i) for i = 0 .. count - 1 on up to `threads` threads (the
// caller's among them), each taking the next i when done with one, and
// returns when all are done. work must be safe to call from several threads
// at once for different i. Threads the system refuses are done without:
// the caller's own thread does their share. The first exception that work
// throws stops the handing out of further i and is thrown again here once
// every thread has stopped.
template <typename Work>
void share_out(std::size_t count, int threads, Work work) {
  std::atomic<std::size_t> next{0};
  std::mutex failure_guard;
  std::exception_ptr failure;
  auto worker = [&]() noexcept {
    for (std::size_t i = next++; i < count; i = next++) {
      try {
        work(i);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(failure_guard);
        if (!failure) failure = std::current_exception();
        next = count;
      }
    }
  };
  std::vector<std::thread> pool;
  const std::size_t helpers = threads > 1 && count > 1 ? std::min<std::size_t>(threads, count) - 1 : 0;
  pool.reserve(helpers);
  for (std::size_t k = 0; k < helpers; ++k) {
    try {
      pool.emplace_back(worker);
    } catch (const std::system_error&) {
      break;
    }
  }
  worker();
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace polygons::sim
