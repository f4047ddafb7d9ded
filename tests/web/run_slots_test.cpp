#include "web/run_slots.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "web/connection.hpp"

namespace polygons::web {
namespace {

using namespace std::chrono_literals;

void wait_until(const std::function<bool()>& condition) {
  for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(10ms);
}

// "network/address" names a client of that network; others are alone.
slot_request for_client(std::string client, double cost = 1) {
  std::string network = client.substr(0, std::min(client.find('/'), client.size()));
  if (network == client) network.clear();
  return {std::move(client), cost, std::chrono::seconds(30), {}, std::move(network)};
}

// Charges `client` with `seconds` of run time, as a finished run would.
void charge(run_slots& slots, const std::string& client, double seconds) {
  ASSERT_EQ(slots.acquire(for_client(client, 0)), admission::granted);
  slots.release(client, 0, seconds);
}

// Requests that queue, one after the other, behind a slot held by "holder",
// with what each got.
class queued_requests {
 public:
  explicit queued_requests(run_slots& slots) : slots_(slots) {}
  ~queued_requests() {
    for (std::thread& thread : threads_) thread.join();
  }
  // Queues a request of `client` and waits until it is in the queue (or was
  // answered at once).
  void add(const slot_request& request) {
    const std::size_t before = slots_.queued() + outcomes().size();
    auto answered = std::make_shared<std::atomic<bool>>(false);
    threads_.emplace_back([this, request, answered] {
      slot_kind kind = slot_kind::regular;
      admission got = slots_.acquire(request, &kind);
      {
        std::lock_guard lock(mutex_);
        outcomes_.emplace_back(request.client, got);
      }
      *answered = true;
      if (got == admission::granted) {
        slots_.release(request.client, request.cost, request.cost, kind);
      }
    });
    // Queued, answered, or in the place of a request it put out.
    wait_until([&] { return *answered || slots_.queued() + outcomes().size() > before; });
  }
  std::vector<std::pair<std::string, admission>> outcomes() {
    std::lock_guard lock(mutex_);
    return outcomes_;
  }

 private:
  run_slots& slots_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::vector<std::pair<std::string, admission>> outcomes_;
};

using outcome_list = std::vector<std::pair<std::string, admission>>;
constexpr admission kGranted = admission::granted;
constexpr admission kBusy = admission::busy;

// One slot held by "holder"; earlier use of the slots, then requests in order
// of arrival; what each got, in the order they got it.
TEST(RunSlots, FreedSlotsGoToTheClientThatHasUsedLeast) {
  struct order_case {
    std::string what;
    std::size_t waiting;
    std::vector<std::pair<std::string, double>> used;      // before the holder
    std::vector<std::pair<std::string, double>> arrivals;  // client and cost
    outcome_list expected;
  };
  const order_case cases[] = {
      {"first come first served among equals", 4, {}, {{"a", 1}, {"b", 1}, {"c", 1}},
       {{"a", kGranted}, {"b", kGranted}, {"c", kGranted}}},
      {"a newcomer before a client that has used the slots", 4, {{"heavy", 5}},
       {{"heavy", 1}, {"new", 1}},
       {{"new", kGranted}, {"heavy", kGranted}}},
      {"a cheap run before an expensive one", 4, {}, {{"big", 6}, {"small", 0.1}},
       {{"small", kGranted}, {"big", kGranted}}},
      {"a class behind one address interleaved with another client", 4, {},
       {{"class", 1}, {"class", 1}, {"class", 1}, {"other", 1.5}},
       {{"class", kGranted}, {"other", kGranted}, {"class", kGranted}, {"class", kGranted}}},
      {"a full queue: a lighter newcomer displaces the heaviest waiting run", 2, {{"heavy", 9}},
       {{"heavy", 1}, {"light", 1}, {"new", 1}},
       {{"heavy", kBusy}, {"light", kGranted}, {"new", kGranted}}},
      {"a full queue: no heavier newcomer displaces anyone", 2, {{"heavy", 9}},
       {{"light", 1}, {"new", 1}, {"heavy", 1}},
       {{"heavy", kBusy}, {"light", kGranted}, {"new", kGranted}}},
      {"many addresses of one network count as one", 4, {{"net/a", 3}, {"net/b", 3}},
       {{"net/c", 1}, {"net/d", 1}, {"new", 1}},
       {{"new", kGranted}, {"net/c", kGranted}, {"net/d", kGranted}}},
      {"a room behind one address has its quiet network's whole share", 4, {},
       {{"net/room", 1}, {"net/room", 1}, {"net/room", 1}, {"other", 1.5}},
       {{"net/room", kGranted}, {"other", kGranted}, {"net/room", kGranted},
        {"net/room", kGranted}}},
      {"within a network, the address that has used least", 4, {{"net/heavy", 5}},
       {{"net/heavy", 1}, {"net/light", 1}, {"net/light", 1}, {"other", 9}},
       {{"net/light", kGranted}, {"net/light", kGranted}, {"net/heavy", kGranted},
        {"other", kGranted}}},
      {"a full queue: a newcomer displaces the last run of a busy network", 2, {{"net/a", 9}},
       {{"net/b", 1}, {"net/c", 1}, {"new", 1}},
       {{"net/c", kBusy}, {"new", kGranted}, {"net/b", kGranted}}},
  };
  for (const order_case& c : cases) {
    run_slots slots(1, c.waiting);
    for (const auto& [client, seconds] : c.used) charge(slots, client, seconds);
    ASSERT_EQ(slots.acquire(for_client("holder")), admission::granted);
    outcome_list got;
    {
      queued_requests queue(slots);
      for (const auto& [client, cost] : c.arrivals) queue.add(for_client(client, cost));
      slots.release("holder", 1, 1);
      wait_until([&] { return queue.outcomes().size() == c.arrivals.size(); });
      got = queue.outcomes();
    }
    EXPECT_EQ(got, c.expected) << c.what;
    EXPECT_EQ(slots.busy(), 0u) << c.what;
    EXPECT_EQ(slots.queued(), 0u) << c.what;
  }
}

// Used time halves every 30 s: 10 s used 29 s ago still weigh more than 5 s
// used just now, 10 s used 31 s ago less.
TEST(RunSlots, UsedTimeCountsForHalfAsMuchAfterHalfAMinute) {
  const std::pair<std::chrono::seconds, outcome_list> cases[] = {
      {29s, {{"recent", kGranted}, {"earlier", kGranted}}},
      {31s, {{"earlier", kGranted}, {"recent", kGranted}}},
  };
  for (const auto& [elapsed, expected] : cases) {
    auto now = std::make_shared<std::chrono::steady_clock::time_point>();
    run_slots slots(1, 4, 32, {}, [now] { return *now; });
    charge(slots, "earlier", 10);
    *now += elapsed;
    charge(slots, "recent", 5);
    ASSERT_EQ(slots.acquire(for_client("holder")), admission::granted);
    outcome_list got;
    {
      queued_requests queue(slots);
      queue.add(for_client("earlier"));
      queue.add(for_client("recent"));
      slots.release("holder", 1, 0);
      wait_until([&] { return queue.outcomes().size() == 2; });
      got = queue.outcomes();
    }
    EXPECT_EQ(got, expected) << elapsed.count() << " s later";
  }
}

TEST(RunSlots, TheQuickLaneTakesOnlyCheapRuns) {
  run_slots slots(1, 8, 32, {1, 0.5});
  ASSERT_EQ(slots.acquire(for_client("holder", 5)), admission::granted);
  slot_kind kind = slot_kind::regular;
  ASSERT_EQ(slots.acquire(for_client("cheap", 0.5), &kind), admission::granted)
      << "a cheap run does not wait for the expensive one";
  EXPECT_EQ(kind, slot_kind::quick);
  outcome_list got;
  {
    queued_requests queue(slots);
    queue.add(for_client("expensive", 0.6));
    queue.add(for_client("cheap too", 0.4));
    slots.release("cheap", 0.5, 0.5, slot_kind::quick);
    wait_until([&] { return queue.outcomes().size() == 1; });
    EXPECT_EQ(slots.queued(), 1u) << "the quick slot went to the expensive run";
    slots.release("holder", 5, 5);
    wait_until([&] { return queue.outcomes().size() == 2; });
    got = queue.outcomes();
  }
  EXPECT_EQ(got, (outcome_list{{"cheap too", kGranted}, {"expensive", kGranted}}));
  EXPECT_EQ(slots.busy(), 0u);
}

TEST(RunSlots, ABoundedNumberOfRunsWaitForEachClient) {
  run_slots slots(1, 8, 2);
  ASSERT_EQ(slots.acquire(for_client("holder")), admission::granted);
  {
    queued_requests queue(slots);
    queue.add(for_client("a"));
    queue.add(for_client("a"));
    EXPECT_EQ(slots.acquire(for_client("a")), admission::client_full);
    queue.add(for_client("b"));
    EXPECT_EQ(slots.queued(), 3u);
    slots.release("holder", 1, 1);
  }
  EXPECT_EQ(slots.busy(), 0u);
}

// A request leaves the queue when its client hangs up or when it has waited
// its longest, and a close turns all away.
TEST(RunSlots, AWaitingRequestLeavesTheQueueAtOnceWhenItsTurnCannotCome) {
  run_slots slots(1, 4);
  ASSERT_EQ(slots.acquire(for_client("holder")), admission::granted);
  std::atomic<bool> hang_up{false};
  slot_request leaving = for_client("leaving");
  leaving.hung_up = [&] { return hang_up.load(); };
  slot_request impatient = for_client("impatient");
  impatient.max_wait = 100ms;
  std::vector<std::thread> waiters;
  std::vector<admission> got(3, admission::granted);
  waiters.emplace_back([&] { got[0] = slots.acquire(leaving); });
  waiters.emplace_back([&] { got[1] = slots.acquire(impatient); });
  waiters.emplace_back([&] { got[2] = slots.acquire(for_client("closed out")); });
  wait_until([&] { return slots.queued() == 3; });
  hang_up = true;
  wait_until([&] { return slots.queued() == 1; });
  EXPECT_EQ(slots.queued(), 1u) << "the hung-up and the impatient request are still queued";
  slots.close();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(got, (std::vector{admission::abandoned, admission::busy, admission::busy}));
  EXPECT_EQ(slots.acquire(for_client("later")), admission::busy);
  slots.release("holder", 1, 1);
  EXPECT_EQ(slots.busy(), 0u);
}

TEST(RunSlots, AFreedSlotGoesToTheWaiterWithoutRefusingTheNextArrival) {
  run_slots slots(1, 1);
  ASSERT_EQ(slots.acquire(for_client("a")), admission::granted);
  std::thread waiter([&] {
    EXPECT_EQ(slots.acquire(for_client("b")), admission::granted);
    slots.release("b", 1, 1);
  });
  wait_until([&] { return slots.queued() == 1; });
  slots.release("a", 1, 1);
  // The waiter may not have woken yet: the slot is already its own, and the
  // queue has room again for this request.
  slot_hold next(slots, for_client("c"));
  EXPECT_TRUE(next.held());
  waiter.join();
}

TEST(RunSlots, WithoutQueueRefusesWhenAllSlotsAreBusy) {
  run_slots slots(2, 0);
  slot_hold first(slots, for_client("a"));
  slot_hold second(slots, for_client("b"));
  EXPECT_TRUE(first.held());
  EXPECT_TRUE(second.held());
  {
    slot_hold third(slots, for_client("c"));
    EXPECT_EQ(third.admitted(), admission::busy);
  }
  EXPECT_EQ(slots.busy(), 2u) << "a refused hold must not release a slot";
}

TEST(RunSlots, ManyThreadsNeverExceedTheLimit) {
  run_slots slots(3, 100);
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        slot_hold hold(slots, for_client(std::to_string(t % 5), 0.001 * i));
        if (!hold.held()) continue;
        int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        hold.set_used(0.001);
        --inside;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_LE(most.load(), 3);
  EXPECT_EQ(slots.busy(), 0u);
  EXPECT_EQ(slots.queued(), 0u);
}

TEST(ClientNetwork, IPv4ByItsSlash24AndIPv6ByItsSlash48) {
  const std::pair<std::string, std::string> cases[] = {
      {"192.0.2.77", "192.0.2.0/24"},
      {"127.0.1.254", "127.0.1.0/24"},
      {"2001:db8:1:2::/64", "2001:db8:1::/48"},
      {"2001:db8:1:ffff::/64", "2001:db8:1::/48"},
      {"2001:db8::/64", "2001:db8::/48"},
      {client_address("2001:db8:7:8:9:a:b:c", "", "", ""), "2001:db8:7::/48"},
      {"", ""},
      {"calibration", "calibration"},
      {"2001:db8::1", "2001:db8::1"},  // not a client's /64
  };
  for (const auto& [client, network] : cases) {
    EXPECT_EQ(client_network(client), network) << client;
  }
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
