#include "web/sweeper.hpp"

#include <algorithm>

#include "web/run_dir.hpp"

namespace polygons::web {

run_sweeper::run_sweeper(std::filesystem::path workdir, std::chrono::seconds retention,
                         std::uintmax_t max_bytes, std::function<bool(std::string_view)> in_use)
    : workdir_(std::move(workdir)),
      retention_(retention),
      max_bytes_(max_bytes),
      in_use_(std::move(in_use)),
      thread_([this] { sweep_until_stopped(); }) {}

run_sweeper::~run_sweeper() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void run_sweeper::sweep_until_stopped() {
  const auto interval = std::clamp<std::chrono::seconds>(
      retention_ / 4, std::chrono::seconds(1), std::chrono::seconds(60));
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    sweep_run_dirs(workdir_, retention_, in_use_);
    trim_run_dirs(workdir_, max_bytes_, in_use_);
    lock.lock();
    wake_.wait_for(lock, interval, [this] { return stopping_; });
  }
}

}  // namespace polygons::web
