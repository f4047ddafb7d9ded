#include "web/run_slots.hpp"

namespace polygons::web {

bool run_slots::acquire() {
  std::unique_lock lock(mutex_);
  if (busy_ < running_ && queued_ == 0) {
    ++busy_;
    return true;
  }
  if (queued_ - handed_ >= waiting_) return false;
  ++queued_;
  freed_.wait(lock, [this] { return handed_ > 0; });
  --handed_;
  --queued_;
  return true;
}

// A freed slot goes straight to a waiting request, so that a request arriving
// before the waiter wakes can neither take the slot nor find the queue full.
void run_slots::release() {
  std::lock_guard lock(mutex_);
  if (queued_ > handed_) {
    ++handed_;
    freed_.notify_one();
  } else {
    --busy_;
  }
}

std::size_t run_slots::busy() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

std::size_t run_slots::queued() const {
  std::lock_guard lock(mutex_);
  return queued_ - handed_;
}

bool claims::claim(std::string_view name) {
  std::lock_guard lock(mutex_);
  return names_.emplace(name).second;
}

void claims::release(std::string_view name) {
  std::lock_guard lock(mutex_);
  if (auto found = names_.find(name); found != names_.end()) names_.erase(found);
}

bool claims::claimed(std::string_view name) const {
  std::lock_guard lock(mutex_);
  return names_.find(name) != names_.end();
}

}  // namespace polygons::web
