#pragma once
// Independent pieces of work shared out over threads.

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace polygons::sim {

// Calls work(i) for i = 0 .. count - 1 on up to `threads` threads (the
// caller's among them), each taking the next i when done with one, and
// returns when all are done. work must be safe to call from several threads
// at once for different i.
template <typename Work>
void share_out(std::size_t count, int threads, Work work) {
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  std::vector<std::thread> pool;
  for (int k = 1; k < threads && static_cast<std::size_t>(k) < count; ++k) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
}

}  // namespace polygons::sim
