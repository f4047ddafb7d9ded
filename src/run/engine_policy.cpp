#include "run/engine_policy.hpp"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

#include "host/processors.hpp"
#include "text/io.hpp"

namespace polygons::run {

namespace {

// The names of the kernel sets, of all or only of those this processor can run.
std::string kernel_set_names(bool only_those_running_here) {
  std::string names;
  for (const sim::KernelSet& set : sim::kernel_sets()) {
    if (only_those_running_here && !sim::runs_here(set)) continue;
    if (!names.empty()) names += ", ";
    names += set.name;
  }
  return names;
}

}  // namespace

std::optional<int> parse_thread_count(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma != std::string_view::npos) text = text.substr(0, comma);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1) return std::nullopt;
  return std::min(value, sim::kMaxThreads);
}

int threads_for_run() {
  const int processors = std::clamp(host::available_processors(), 1, sim::kMaxThreads);
  const char* env = std::getenv("OMP_NUM_THREADS");
  if (env == nullptr) return processors;
  if (const std::optional<int> threads = parse_thread_count(env)) return *threads;
  text::warn("OMP_NUM_THREADS=\"" + std::string(env) +
             "\" is not a positive number of threads; using " + std::to_string(processors));
  return processors;
}

// A set that cannot be had is refused rather than replaced, so that a run
// asked to use one set never reports figures of another.
const sim::KernelSet& kernels_named(std::string_view name, std::string_view asked_as) {
  const sim::KernelSet* set = sim::kernel_set_named(name);
  if (set == nullptr) {
    throw std::invalid_argument(std::string(asked_as) + " names no instruction set; the program has " +
                                kernel_set_names(false));
  }
  if (!sim::runs_here(*set)) {
    throw std::invalid_argument(std::string(asked_as) +
                                " names an instruction set this processor lacks; it can run " +
                                kernel_set_names(true));
  }
  return *set;
}

const sim::KernelSet& kernels_for_run() {
  const char* env = std::getenv("POLYGONS_ISA");
  if (env == nullptr || *env == '\0') return sim::fastest_kernel_set();
  return kernels_named(env, "POLYGONS_ISA=\"" + std::string(env) + "\"");
}

EngineSettings engine_settings_for_run() {
  EngineSettings settings;
  settings.options.threads = threads_for_run();
  settings.options.kernels = &kernels_for_run();
  if (isatty(STDERR_FILENO) == 1) {
    settings.progress = std::make_unique<ProgressLine>();
    settings.options.progress = settings.progress.get();
  }
  return settings;
}

}  // namespace polygons::run
