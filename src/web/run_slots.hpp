#pragma once
// Admission of runs by fair share. A fixed number of runs go at once; the
// others wait in a bounded queue, and a freed slot goes to the waiting run of
// the network that has used the least, and within it of the client that has:
// its recent run time (decaying by half every half minute), the estimated
// cost of its runs in flight and of its runs ahead in the queue, and the cost
// of the waiting run itself. A network's runs ahead are those of its clients
// that have used less; a network of one client is that client. When the
// queue is full, a run that would come before the heaviest waiting run takes
// its place, and that one is turned away. A few more slots, the quick lane,
// take only cheap runs, so that a cheap run never waits for expensive ones to
// end. Claims on names (a run id) held for the length of a run.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace polygons::web {

// What a request for a slot got.
enum class admission {
  granted,      // a slot is held: release it
  busy,         // slots and queue full, put out of the queue by a lighter run,
                // waited too long, or the slots are closed
  client_full,  // the client has as many runs waiting as it may
  abandoned,    // its client hung up while it waited
};

// The slots a run may hold: one of the regular ones, or of the quick lane.
enum class slot_kind { regular, quick };

// Extra slots for runs of an estimated cost up to `max_cost` seconds.
struct quick_lane {
  std::size_t slots = 0;
  double max_cost = 0;
};

// One request for a slot.
struct slot_request {
  std::string client;  // who it counts for; all requests without one are one client
  double cost = 0;     // estimated seconds of the run
  std::chrono::steady_clock::duration max_wait = std::chrono::seconds(60);
  std::function<bool()> hung_up;  // polled while waiting; empty: never
  std::string network;            // the clients it shares with; empty: the client alone
};

// The time by which used run time decays; the steady clock unless a test
// sets its own.
using use_clock = std::function<std::chrono::steady_clock::time_point()>;

class run_slots {
 public:
  run_slots(std::size_t running, std::size_t waiting, std::size_t waiting_per_client = 32,
            quick_lane lane = {}, use_clock clock = {})
      : running_(running), waiting_(waiting), waiting_per_client_(waiting_per_client),
        lane_(lane),
        clock_(clock ? std::move(clock) : use_clock(std::chrono::steady_clock::now)) {}

  // Takes a slot, waiting in the queue when all it may take are busy; the
  // kind of slot taken goes to `kind`.
  admission acquire(const slot_request& request, slot_kind* kind = nullptr);
  // Frees the slot of a run of `client` of estimated `cost` that took `used`
  // seconds.
  void release(std::string_view client, double cost, double used,
               slot_kind kind = slot_kind::regular);
  // Turns away every waiting request and every later one.
  void close();

  std::size_t busy() const;  // of both kinds
  std::size_t queued() const;

 private:
  enum class turn { waiting, granted, displaced };
  struct waiter {
    std::uint64_t arrival;
    std::string client;
    std::string network;
    double cost;
    turn state = turn::waiting;
    slot_kind kind = slot_kind::regular;  // of the slot handed over
  };
  struct usage {
    std::string network;
    double used = 0;  // decayed run seconds as of `at`
    std::chrono::steady_clock::time_point at;
    double running_cost = 0;  // estimated seconds of its runs in progress
    std::size_t running = 0;
    std::size_t waiting = 0;
  };

  // The order of the waiters: by their network's key, then by their
  // client's, then by arrival; the lower goes first.
  struct queue_key {
    double network = 0;
    double client = 0;
    std::uint64_t arrival = 0;
    bool operator<(const queue_key& other) const;
  };

  usage& usage_of(std::string_view client, std::string_view network);
  double decayed_use(const usage& entry, std::chrono::steady_clock::time_point now) const;
  // Used time and estimated cost in flight of `client`; 0 for one unknown.
  double client_load(std::string_view client, std::chrono::steady_clock::time_point now) const;
  // The key of each waiter, in queue order, and last that of `arrival`
  // when given: a request that would join the queue now.
  std::vector<queue_key> waiting_keys(std::chrono::steady_clock::time_point now,
                                      const waiter* arrival = nullptr) const;
  void start_run(const std::string& client, const std::string& network, double cost);
  bool fits_lane(double cost) const { return lane_.slots > 0 && cost <= lane_.max_cost; }
  // Hands a freed slot of `kind` to the waiter that goes first among those
  // that may take it; false when none may.
  bool hand_over(slot_kind kind, std::chrono::steady_clock::time_point now);
  void leave_queue(waiter& entry);
  void forget_idle_clients(std::chrono::steady_clock::time_point now);
  admission wait_for_turn(std::unique_lock<std::mutex>& lock, waiter& entry,
                          const slot_request& request, slot_kind* kind);

  const std::size_t running_;
  const std::size_t waiting_;
  const std::size_t waiting_per_client_;
  const quick_lane lane_;
  const use_clock clock_;
  std::size_t busy_ = 0;  // regular slots
  std::size_t quick_busy_ = 0;
  bool closed_ = false;
  std::uint64_t arrivals_ = 0;
  std::vector<waiter*> queue_;  // in order of arrival
  std::map<std::string, usage, std::less<>> clients_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
};

// Holds a slot for one scope.
class slot_hold {
 public:
  slot_hold(run_slots& slots, const slot_request& request)
      : slots_(slots), client_(request.client), cost_(request.cost),
        admitted_(slots.acquire(request, &kind_)) {}
  ~slot_hold() {
    if (held()) slots_.release(client_, cost_, used_, kind_);
  }
  slot_hold(const slot_hold&) = delete;
  slot_hold& operator=(const slot_hold&) = delete;
  bool held() const { return admitted_ == admission::granted; }
  admission admitted() const { return admitted_; }
  // The seconds the run took, counted against its client on release.
  void set_used(double seconds) { used_ = seconds; }

 private:
  run_slots& slots_;
  std::string client_;
  double cost_;
  slot_kind kind_ = slot_kind::regular;
  admission admitted_;
  double used_ = 0;
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
  ~claim_hold() { release(); }
  claim_hold(const claim_hold&) = delete;
  claim_hold& operator=(const claim_hold&) = delete;
  bool held() const { return held_; }
  // Releases the claim before the scope ends.
  void release() {
    if (held_) set_.release(name_);
    held_ = false;
  }

 private:
  claims& set_;
  std::string name_;
  bool held_;
};

}  // namespace polygons::web
