#pragma once
// The removal of old run directories: a thread that sweeps <workdir>/tmp/
// every quarter of the retention time (1 s to 60 s apart) until it is
// destroyed, removing those past their retention, then the oldest while all
// take more disk than allowed.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

namespace polygons::web {

class run_sweeper {
 public:
  // Starts sweeping at once. `in_use` names the runs whose directories stay
  // however old they are; it is called from the sweeping thread.
  run_sweeper(std::filesystem::path workdir, std::chrono::seconds retention,
              std::uintmax_t max_bytes, std::function<bool(std::string_view)> in_use);
  // Stops the thread, waiting for a sweep in progress.
  ~run_sweeper();
  run_sweeper(const run_sweeper&) = delete;
  run_sweeper& operator=(const run_sweeper&) = delete;

 private:
  void sweep_until_stopped();

  std::filesystem::path workdir_;
  std::chrono::seconds retention_;
  std::uintmax_t max_bytes_;
  std::function<bool(std::string_view)> in_use_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;  // last: started once everything it uses is ready
};

}  // namespace polygons::web
