#include "sim/kernel_set.hpp"

#include <vector>

namespace polygons::sim {

namespace {

KernelSet kernel_set_for(const IsaRow& row) {
  const Isa isa = row.isa;
  return KernelSet{isa,
                   row.name,
                   draw_lanes_for(isa),
                   sides_in_lanes_for(isa),
                   bucket_sort_for(isa),
                   sides_of_sorted_for(isa),
                   block_moments_for(isa),
                   network_shape_for(isa),
                   lanes_max_for(isa)};
}

// Whether this build has the set's kernels: the wider sets are built for
// x86-64 only.
constexpr bool built_here(Isa isa) { return POLYGONS_X86_KERNELS || isa == Isa::generic; }

}  // namespace

std::span<const KernelSet> kernel_sets() {
  static const std::vector<KernelSet> sets = [] {
    std::vector<KernelSet> built;
    for (const IsaRow& row : kIsaRows) {
      if (built_here(row.isa)) built.push_back(kernel_set_for(row));
    }
    return built;
  }();
  return sets;
}

bool runs_here(const KernelSet& set) {
#if POLYGONS_X86_KERNELS
  __builtin_cpu_init();
  switch (set.isa) {
    case Isa::avx512:
      return __builtin_cpu_supports("avx512f");
    case Isa::avx2:
      return __builtin_cpu_supports("avx2");
    case Isa::generic:
      break;
  }
#endif
  return set.isa == Isa::generic;
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
