#pragma once
// Tests that run once per kernel set built into the program (TEST_P on
// EveryKernelSet, instantiated in kernel_set_test.cpp), skipped for a set
// this processor cannot run. The skip's message begins "expected skip: ", so
// that the clean room (scripts/unexpected-skips.sh) does not take it for a
// package missing: no package lets a processor run avx512.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "sim/kernel_set.hpp"

namespace polygons::sim::simtest {

class EveryKernelSet : public ::testing::TestWithParam<const KernelSet*> {
 protected:
  void SetUp() override {
    if (!runs_here(set())) {
      GTEST_SKIP() << "expected skip: this processor cannot run the " << set().name << " kernels";
    }
  }
  const KernelSet& set() const { return *GetParam(); }
  const KernelSet& generic() const { return *kernel_set_named("generic"); }
};

inline std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

}  // namespace polygons::sim::simtest
