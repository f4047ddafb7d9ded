#include "web/run_slots.hpp"

namespace polygons::web {

bool run_slots::acquire() {
  std::unique_lock lock(mutex_);
  if (busy_ < running_ && queued_ == 0) {
    ++busy_;
    return true;
  }
  if (queued_ >= waiting_) return false;
  ++queued_;
  freed_.wait(lock, [this] { return busy_ < running_; });
  --queued_;
  ++busy_;
  return true;
}

void run_slots::release() {
  {
    std::lock_guard lock(mutex_);
    --busy_;
  }
  freed_.notify_one();
}

std::size_t run_slots::busy() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

std::size_t run_slots::queued() const {
  std::lock_guard lock(mutex_);
  return queued_;
}

}  // namespace polygons::web
