#pragma once
// How this process runs the trial engine, decided from its environment: the
// thread count from OMP_NUM_THREADS or the processors it may run on, the
// kernel set from POLYGONS_ISA, and a progress line when standard error is a
// terminal. The engine itself only takes the options.

#include <memory>
#include <optional>
#include <string_view>

#include "run/progress.hpp"
#include "sim/engine.hpp"

namespace polygons::run {

// The thread count named by OMP_NUM_THREADS ("4", or a list "4,2" of which
// the first counts), or nothing when the text is not a positive whole number.
std::optional<int> parse_thread_count(std::string_view text);

// OMP_NUM_THREADS when it is set and valid (a warning on standard error when
// it is set but not valid), otherwise one thread per processor the process
// may run on.
int threads_for_run();

// The kernel set called `name`. Throws std::invalid_argument, with a message
// for the user that begins with `asked_as` (how the caller named it), when
// there is no such set or this processor cannot run it.
const sim::KernelSet& kernels_named(std::string_view name, std::string_view asked_as);

// The kernel set POLYGONS_ISA names; unset or empty, the fastest this
// processor can run. Throws std::invalid_argument, with a message for the
// user, when it names no set or one this processor cannot run.
const sim::KernelSet& kernels_for_run();

// The engine's options for a run, and the progress line they point to.
struct EngineSettings {
  sim::EngineOptions options;
  std::unique_ptr<ProgressLine> progress;  // when standard error is a terminal
};

// Options for a run of the program: threads from OMP_NUM_THREADS when it is
// set and valid (a warning on standard error when it is set but not valid),
// otherwise one per processor the process may run on; the kernels of
// kernels_for_run (and its exception); the progress line when standard
// error is a terminal.
EngineSettings engine_settings_for_run();

}  // namespace polygons::run
