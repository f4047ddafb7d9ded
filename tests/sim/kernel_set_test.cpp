#include "sim/kernel_set.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "every_kernel_set.hpp"

namespace polygons::sim::simtest {
namespace {

std::vector<const KernelSet*> every_kernel_set() {
  std::vector<const KernelSet*> sets;
  for (const KernelSet& set : kernel_sets()) sets.push_back(&set);
  return sets;
}

INSTANTIATE_TEST_SUITE_P(Kernels, EveryKernelSet, ::testing::ValuesIn(every_kernel_set()),
                         [](const auto& info) { return std::string(info.param->name); });

}  // namespace
}  // namespace polygons::sim::simtest
