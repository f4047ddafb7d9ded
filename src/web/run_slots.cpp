#include "web/run_slots.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace polygons::web {
namespace {

using clock_type = std::chrono::steady_clock;

// Run time used counts for half as much after this long.
constexpr double kHalfLifeSeconds = 30;
// Clients whose decayed use falls below this, with nothing in flight, are
// forgotten.
constexpr double kForgottenSeconds = 0.01;
// How often a waiting request looks whether its client hung up.
constexpr auto kHangUpPoll = std::chrono::milliseconds(20);

// A request's network: its own, or its client alone.
std::string network_of(const slot_request& request) {
  return request.network.empty() ? request.client : request.network;
}

}  // namespace

bool run_slots::queue_key::operator<(const queue_key& other) const {
  return std::tie(network, client, arrival) < std::tie(other.network, other.client, other.arrival);
}

run_slots::usage& run_slots::usage_of(std::string_view client, std::string_view network) {
  auto found = clients_.find(client);
  if (found == clients_.end()) {
    found = clients_.emplace(std::string(client), usage{}).first;
    found->second.network = network.empty() ? std::string(client) : std::string(network);
  }
  return found->second;
}

double run_slots::decayed_use(const usage& entry, clock_type::time_point now) const {
  if (entry.used <= 0) return 0;
  const double age = std::chrono::duration<double>(now - entry.at).count();
  return entry.used * std::exp2(-std::max(0.0, age) / kHalfLifeSeconds);
}

double run_slots::client_load(std::string_view client, clock_type::time_point now) const {
  auto found = clients_.find(client);
  if (found == clients_.end()) return 0;
  return decayed_use(found->second, now) + found->second.running_cost;
}

std::vector<run_slots::queue_key> run_slots::waiting_keys(clock_type::time_point now,
                                                          const waiter* arrival) const {
  std::vector<const waiter*> entries(queue_.begin(), queue_.end());
  if (arrival) entries.push_back(arrival);
  std::vector<queue_key> keys(entries.size());
  std::map<std::string_view, double> ahead;  // costs of each client's earlier waiters
  std::map<std::string_view, std::vector<std::size_t>> by_network;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const waiter& entry = *entries[i];
    double& queued_before = ahead[entry.client];
    keys[i].client = client_load(entry.client, now) + queued_before + entry.cost;
    keys[i].arrival = entry.arrival;
    queued_before += entry.cost;
    by_network[entry.network].push_back(i);
  }
  std::map<std::string_view, double> network_load;  // over all its clients
  for (const auto& [client, owner] : clients_) {
    network_load[owner.network] += decayed_use(owner, now) + owner.running_cost;
  }
  // A network's waiters go in the order of their clients' keys.
  for (auto& [network, members] : by_network) {
    std::sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
      return std::tie(keys[a].client, keys[a].arrival) < std::tie(keys[b].client, keys[b].arrival);
    });
    double queued = network_load.count(network) ? network_load.at(network) : 0;
    for (std::size_t i : members) {
      queued += entries[i]->cost;
      keys[i].network = queued;
    }
  }
  return keys;
}

void run_slots::start_run(const std::string& client, const std::string& network, double cost) {
  usage& owner = usage_of(client, network);
  ++owner.running;
  owner.running_cost += cost;
}

void run_slots::leave_queue(waiter& entry) {
  queue_.erase(std::find(queue_.begin(), queue_.end(), &entry));
  usage& owner = usage_of(entry.client, entry.network);
  --owner.waiting;
}

void run_slots::forget_idle_clients(clock_type::time_point now) {
  std::erase_if(clients_, [&](const auto& entry) {
    const usage& u = entry.second;
    return u.running == 0 && u.waiting == 0 && decayed_use(u, now) < kForgottenSeconds;
  });
}

admission run_slots::acquire(const slot_request& request, slot_kind* kind) {
  std::unique_lock lock(mutex_);
  if (closed_) return admission::busy;
  // A free slot of either kind means that no waiter may take it.
  const bool regular_free = busy_ < running_ && queue_.empty();
  if (regular_free || (fits_lane(request.cost) && quick_busy_ < lane_.slots)) {
    ++(regular_free ? busy_ : quick_busy_);
    if (kind) *kind = regular_free ? slot_kind::regular : slot_kind::quick;
    start_run(request.client, network_of(request), request.cost);
    return admission::granted;
  }
  if (usage_of(request.client, network_of(request)).waiting >= waiting_per_client_) {
    return admission::client_full;
  }
  waiter entry{arrivals_ + 1, request.client, network_of(request), request.cost};
  if (queue_.size() >= waiting_) {
    if (queue_.empty()) return admission::busy;
    const std::vector<queue_key> keys = waiting_keys(clock_(), &entry);
    const auto heaviest =
        static_cast<std::size_t>(std::max_element(keys.begin(), keys.end() - 1) - keys.begin());
    if (!(keys.back() < keys[heaviest])) return admission::busy;
    waiter& displaced = *queue_[heaviest];
    leave_queue(displaced);
    displaced.state = turn::displaced;
    changed_.notify_all();
  }
  ++arrivals_;
  queue_.push_back(&entry);
  ++usage_of(request.client, entry.network).waiting;
  return wait_for_turn(lock, entry, request, kind);
}

admission run_slots::wait_for_turn(std::unique_lock<std::mutex>& lock, waiter& entry,
                                   const slot_request& request, slot_kind* kind) {
  const auto deadline = clock_type::now() + request.max_wait;
  while (entry.state == turn::waiting) {
    changed_.wait_for(lock, kHangUpPoll);
    if (entry.state != turn::waiting) break;
    if (request.hung_up) {
      lock.unlock();
      const bool gone = request.hung_up();
      lock.lock();
      if (gone && entry.state == turn::waiting) {
        leave_queue(entry);
        return admission::abandoned;
      }
    }
    if (entry.state == turn::waiting && clock_type::now() >= deadline) {
      leave_queue(entry);
      return admission::busy;
    }
  }
  if (entry.state != turn::granted) return admission::busy;
  if (kind) *kind = entry.kind;
  return admission::granted;
}

bool run_slots::hand_over(slot_kind kind, clock_type::time_point now) {
  const std::vector<queue_key> keys = waiting_keys(now);
  std::size_t next = queue_.size();
  for (std::size_t i = 0; i < queue_.size(); ++i) {
    const bool may_take = kind == slot_kind::regular || fits_lane(queue_[i]->cost);
    // The first of equal keys: the earliest arrival.
    if (may_take && (next == queue_.size() || keys[i] < keys[next])) next = i;
  }
  if (next == queue_.size()) return false;
  waiter& entry = *queue_[next];
  leave_queue(entry);
  start_run(entry.client, entry.network, entry.cost);
  entry.kind = kind;
  entry.state = turn::granted;
  changed_.notify_all();
  return true;
}

// A freed slot goes straight to the chosen waiter, so that a request arriving
// before the waiter wakes can neither take the slot nor find the queue full.
void run_slots::release(std::string_view client, double cost, double used, slot_kind kind) {
  std::lock_guard lock(mutex_);
  const auto now = clock_();
  usage& owner = usage_of(client, {});
  owner.used = decayed_use(owner, now) + std::max(0.0, used);
  owner.at = now;
  if (owner.running > 0) --owner.running;
  owner.running_cost = owner.running == 0 ? 0 : std::max(0.0, owner.running_cost - cost);
  if (!hand_over(kind, now)) --(kind == slot_kind::regular ? busy_ : quick_busy_);
  forget_idle_clients(now);
}

void run_slots::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  while (!queue_.empty()) {
    waiter& entry = *queue_.front();
    leave_queue(entry);
    entry.state = turn::displaced;
  }
  changed_.notify_all();
}

std::size_t run_slots::busy() const {
  std::lock_guard lock(mutex_);
  return busy_ + quick_busy_;
}

std::size_t run_slots::queued() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
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
