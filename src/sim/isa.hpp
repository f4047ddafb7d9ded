#pragma once
// The instruction sets the inner loops are compiled for. Each kernel file
// compiles its loops once per set, with the set's `target` attribute (the
// generator lanes write the wider sets' loops with their intrinsics); a
// KernelSet (sim/kernel_set.hpp) gathers one version of each. The wider
// units are used only through a set this processor can run, so that the
// build stays portable.

#if defined(__x86_64__) && defined(__GNUC__)
#define POLYGONS_X86_KERNELS 1
#else
#define POLYGONS_X86_KERNELS 0
#endif

// The bodies of the loops are inlined into the version of every set, which
// the compiler vectorises each for its own set.
#define POLYGONS_INLINE __attribute__((always_inline)) inline

#define POLYGONS_TARGET_AVX2 __attribute__((target("avx2")))
#define POLYGONS_TARGET_AVX512 __attribute__((target("avx512f")))

namespace polygons::sim {

// The fastest first; "generic" runs everywhere.
enum class Isa { avx512, avx2, generic };

}  // namespace polygons::sim
