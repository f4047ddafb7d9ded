#pragma once
// Admission of runs: a fixed number run at once, a short queue waits for a
// free slot, and anything beyond that is turned away at once. Claims on names
// (a run id, a client's address) held for the length of a run.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace polygons::web {

class run_slots {
 public:
  run_slots(std::size_t running, std::size_t waiting) : running_(running), waiting_(waiting) {}

  // Takes a slot, waiting in the queue when all are busy. False at once, with
  // nothing taken, when the queue is full too.
  bool acquire();
  void release();

  std::size_t busy() const;
  std::size_t queued() const;

 private:
  const std::size_t running_;
  const std::size_t waiting_;
  std::size_t busy_ = 0;
  std::size_t queued_ = 0;  // waiting, including those handed a slot
  std::size_t handed_ = 0;  // slots handed to waiters not yet awake
  mutable std::mutex mutex_;
  std::condition_variable freed_;
};

// Holds a slot for one scope.
class slot_hold {
 public:
  explicit slot_hold(run_slots& slots) : slots_(slots), held_(slots.acquire()) {}
  ~slot_hold() {
    if (held_) slots_.release();
  }
  slot_hold(const slot_hold&) = delete;
  slot_hold& operator=(const slot_hold&) = delete;
  bool held() const { return held_; }

 private:
  run_slots& slots_;
  bool held_;
};

// Names claimed by at most one holder at a time.
class claims {
 public:
  // False when `name` is claimed already.
  bool claim(std::string_view name);
  void release(std::string_view name);
  bool claimed(std::string_view name) const;

 private:
  mutable std::mutex mutex_;
  std::set<std::string, std::less<>> names_;
};

// Holds a claim for one scope, so that no exit path can leave it behind.
class claim_hold {
 public:
  claim_hold(claims& set, std::string name)
      : set_(set), name_(std::move(name)), held_(set.claim(name_)) {}
  ~claim_hold() {
    if (held_) set_.release(name_);
  }
  claim_hold(const claim_hold&) = delete;
  claim_hold& operator=(const claim_hold&) = delete;
  bool held() const { return held_; }

 private:
  claims& set_;
  std::string name_;
  bool held_;
};

}  // namespace polygons::web
