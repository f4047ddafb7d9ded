#include "sim/kernel_set.hpp"

#include <array>

namespace polygons::sim {

namespace {

KernelSet kernel_set_for(const char* name, Isa isa) {
  return KernelSet{name,
                   draw_lanes_for(isa),
                   sides_in_lanes_for(isa),
                   bucket_sort_for(isa),
                   sides_of_sorted_for(isa),
                   block_moments_for(isa),
                   network_shape_for(isa),
                   lanes_max_for(isa)};
}

}  // namespace

std::span<const KernelSet> kernel_sets() {
  static const auto sets = std::to_array<KernelSet>({
#if POLYGONS_X86_KERNELS
      kernel_set_for("avx512", Isa::avx512),
      kernel_set_for("avx2", Isa::avx2),
#endif
      kernel_set_for("generic", Isa::generic),
  });
  return sets;
}

bool runs_here(const KernelSet& set) {
  const std::string_view name = set.name;
#if POLYGONS_X86_KERNELS
  __builtin_cpu_init();
  if (name == "avx512") return __builtin_cpu_supports("avx512f");
  if (name == "avx2") return __builtin_cpu_supports("avx2");
#endif
  return name == "generic";
}

const KernelSet& fastest_kernel_set() {
  static const KernelSet& fastest = []() -> const KernelSet& {
    for (const KernelSet& set : kernel_sets()) {
      if (runs_here(set)) return set;
    }
    return kernel_sets().back();
  }();
  return fastest;
}

const KernelSet* kernel_set_named(std::string_view name) {
  for (const KernelSet& set : kernel_sets()) {
    if (name == set.name) return &set;
  }
  return nullptr;
}

}  // namespace polygons::sim
