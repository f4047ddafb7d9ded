#include "run/engine_policy.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include "sim/kernel_set.hpp"

namespace polygons::run {
namespace {

TEST(ThreadCount, ParsesOmpNumThreads) {
  struct Text {
    const char* text;
    std::optional<int> threads;
  };
  const Text cases[] = {
      {"1", 1},
      {"8", 8},
      {" 3 ", 3},
      {"4,2", 4},
      {"0", std::nullopt},
      {"-2", std::nullopt},
      {"", std::nullopt},
      {"two", std::nullopt},
      {"3x", std::nullopt},
      {"99999999999", std::nullopt},
      {"100000", 1024},
  };
  for (const Text& t : cases)
    EXPECT_EQ(parse_thread_count(t.text), t.threads) << '"' << t.text << '"';
}

TEST(ThreadCount, TakenFromTheEnvironmentWhenValid) {
  const char* saved = std::getenv("OMP_NUM_THREADS");
  const std::string kept = saved != nullptr ? saved : "";
  setenv("OMP_NUM_THREADS", "3", 1);
  EXPECT_EQ(engine_settings_for_run().options.threads, 3);
  setenv("OMP_NUM_THREADS", "many", 1);
  const int fallback = engine_settings_for_run().options.threads;
  unsetenv("OMP_NUM_THREADS");
  EXPECT_EQ(engine_settings_for_run().options.threads, fallback);
  EXPECT_GE(fallback, 1);
  if (saved != nullptr) setenv("OMP_NUM_THREADS", kept.c_str(), 1);
}

TEST(InstructionSet, ChosenByPolygonsIsa) {
  const char* saved = std::getenv("POLYGONS_ISA");
  const std::string kept = saved != nullptr ? saved : "";
  for (const char* unset_or_empty : {static_cast<const char*>(nullptr), ""}) {
    if (unset_or_empty == nullptr) {
      unsetenv("POLYGONS_ISA");
    } else {
      setenv("POLYGONS_ISA", unset_or_empty, 1);
    }
    EXPECT_EQ(&kernels_for_run(), &sim::fastest_kernel_set());
  }
  setenv("POLYGONS_ISA", "generic", 1);
  EXPECT_EQ(engine_settings_for_run().options.kernels, sim::kernel_set_named("generic"));
  setenv("POLYGONS_ISA", "AVX2", 1);
  EXPECT_THROW(kernels_for_run(), std::invalid_argument) << "names are lower case";
  setenv("POLYGONS_ISA", "sse9", 1);
  try {
    kernels_for_run();
    ADD_FAILURE() << "an unknown set was taken";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("POLYGONS_ISA=\"sse9\" names no instruction set"),
              std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("generic"), std::string::npos) << e.what();
  }
  for (const sim::KernelSet& set : sim::kernel_sets()) {
    if (sim::runs_here(set)) continue;
    setenv("POLYGONS_ISA", set.name, 1);
    EXPECT_THROW(kernels_for_run(), std::invalid_argument)
        << set.name << " is refused where the processor lacks it";
  }
  if (saved != nullptr) {
    setenv("POLYGONS_ISA", kept.c_str(), 1);
  } else {
    unsetenv("POLYGONS_ISA");
  }
}

}  // namespace
}  // namespace polygons::run
