#include "web/run_slots.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace polygons::web {
namespace {

using namespace std::chrono_literals;

void wait_until(const std::function<bool()>& condition) {
  for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(10ms);
}

TEST(RunSlots, QueuesUpToItsLimitAndTurnsAwayTheRest) {
  run_slots slots(1, 1);
  ASSERT_TRUE(slots.acquire());

  std::atomic<bool> second_got_slot{false};
  std::thread second([&] {
    second_got_slot = slots.acquire();
    slots.release();
  });
  wait_until([&] { return slots.queued() == 1; });
  EXPECT_EQ(slots.queued(), 1u);
  EXPECT_FALSE(slots.acquire()) << "queue full: refused at once";
  EXPECT_FALSE(second_got_slot);

  slots.release();
  second.join();
  EXPECT_TRUE(second_got_slot);
  EXPECT_EQ(slots.busy(), 0u);
  EXPECT_EQ(slots.queued(), 0u);
}

TEST(RunSlots, AFreedSlotGoesToTheWaiterWithoutRefusingTheNextArrival) {
  run_slots slots(1, 1);
  ASSERT_TRUE(slots.acquire());
  std::thread waiter([&] {
    EXPECT_TRUE(slots.acquire());
    slots.release();
  });
  wait_until([&] { return slots.queued() == 1; });
  slots.release();
  // The waiter may not have woken yet: the slot is already its own, and the
  // queue has room again for this request.
  EXPECT_TRUE(slots.acquire());
  slots.release();
  waiter.join();
  EXPECT_EQ(slots.busy(), 0u);
}

TEST(RunSlots, WithoutQueueRefusesWhenAllSlotsAreBusy) {
  run_slots slots(2, 0);
  slot_hold first(slots);
  slot_hold second(slots);
  EXPECT_TRUE(first.held());
  EXPECT_TRUE(second.held());
  {
    slot_hold third(slots);
    EXPECT_FALSE(third.held());
  }
  EXPECT_EQ(slots.busy(), 2u) << "a refused hold must not release a slot";
}

TEST(RunSlots, ManyThreadsNeverExceedTheLimit) {
  run_slots slots(3, 100);
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        slot_hold hold(slots);
        if (!hold.held()) continue;
        int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        --inside;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_LE(most.load(), 3);
  EXPECT_EQ(slots.busy(), 0u);
}

TEST(Claims, OneHolderPerNameUntilItsScopeEndsEvenByAnException) {
  claims names;
  {
    claim_hold first(names, "10.0.0.1");
    ASSERT_TRUE(first.held());
    {
      claim_hold again(names, "10.0.0.1");
      EXPECT_FALSE(again.held());
      claim_hold other(names, "10.0.0.2");
      EXPECT_TRUE(other.held());
    }
    EXPECT_TRUE(names.claimed("10.0.0.1")) << "a refused hold must not release the claim";
    EXPECT_FALSE(names.claimed("10.0.0.2"));
  }
  EXPECT_FALSE(names.claimed("10.0.0.1"));

  try {
    claim_hold hold(names, "run");
    throw std::runtime_error("failure during the run");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(names.claimed("run")) << "left claimed after an exception";
}

}  // namespace
}  // namespace polygons::web
