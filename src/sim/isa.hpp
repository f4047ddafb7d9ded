#pragma once
// The instruction sets the inner loops are compiled for. Each kernel file
// compiles its loops once per set, with the set's `target` attribute (the
// generator lanes write the wider sets' loops with their intrinsics); a
// KernelSet (sim/kernel_set.hpp) gathers one version of each. The wider
// units are used only through a set this processor can run, so that the
// build stays portable.

#include <cstddef>
#include <iterator>

#if defined(__x86_64__) && defined(__GNUC__)
#define POLYGONS_X86_KERNELS 1
#else
#define POLYGONS_X86_KERNELS 0
#endif

// The bodies of the loops are inlined into the version of every set, which
// the compiler vectorises each for its own set.
#define POLYGONS_INLINE __attribute__((always_inline)) inline

#define POLYGONS_TARGET_AVX2 __attribute__((target("avx2")))
// Without the preference, the compiler keeps to half-width vectors, and with
// only avx512f, to the sixteen registers of AVX2.
// clang takes the width as an attribute of its own, and ignores a target
// string that holds it.
#if defined(__clang__)
#define POLYGONS_TARGET_AVX512 __attribute__((target("avx512f"), min_vector_width(512)))
#else
#define POLYGONS_TARGET_AVX512 __attribute__((target("avx512f,prefer-vector-width=512")))
#endif

// A kernel file puts each set's version of its kernels in a namespace named
// after the set, written once as a macro define(set, target attribute) and
// expanded for every set built here by POLYGONS_FOR_EVERY_SET(define); its
// `..._for(Isa)` functions pick one by POLYGONS_KERNEL_OF(isa, kernel).
#if POLYGONS_X86_KERNELS
#define POLYGONS_FOR_EVERY_SET(define) \
  define(generic, ) define(avx2, POLYGONS_TARGET_AVX2) define(avx512, POLYGONS_TARGET_AVX512)
#define POLYGONS_KERNEL_OF(isa, kernel) \
  ::polygons::sim::version_for((isa), generic::kernel, avx2::kernel, avx512::kernel)
#else
#define POLYGONS_FOR_EVERY_SET(define) define(generic, )
#define POLYGONS_KERNEL_OF(isa, kernel) generic::kernel
#endif

namespace polygons::sim {

// The fastest first; "generic" runs everywhere.
enum class Isa { avx512, avx2, generic };

// What the engine knows of each instruction set, a row each, the fastest
// first. Besides its row, a set has its target attribute (POLYGONS_TARGET_*
// above: an attribute cannot come from a table), its place in
// POLYGONS_FOR_EVERY_SET, which gives it its version of every kernel, and
// its processor test (sim/kernel_set.cpp).
struct IsaRow {
  Isa isa;
  const char* name;
  std::size_t vector_ints;  // int32 values of one vector register
  std::size_t registers;    // vector registers
  // The most draws of the trials it sorts side by side: beyond, the bucket
  // sort of one trial at a time costs less per draw (measured on an AMD Zen
  // 5). The narrower the vectors, the sooner that comes.
  std::size_t lanes_max;
};

inline constexpr IsaRow kIsaRows[] = {
    {Isa::avx512, "avx512", 16, 32, 1792},
    {Isa::avx2, "avx2", 8, 16, 640},
    {Isa::generic, "generic", 4, 16, 256},
};

constexpr const IsaRow& row_of(Isa isa) {
  for (const IsaRow& row : kIsaRows) {
    if (row.isa == isa) return row;
  }
  return kIsaRows[std::size(kIsaRows) - 1];
}

// The one of three versions of a kernel that `isa` names.
template <typename Kernel>
constexpr Kernel version_for(Isa isa, Kernel generic, Kernel avx2, Kernel avx512) {
  switch (isa) {
    case Isa::avx512:
      return avx512;
    case Isa::avx2:
      return avx2;
    case Isa::generic:
      break;
  }
  return generic;
}

// Width values of T, which the compiler lowers to the vector registers of
// the set it compiles for: the same operations on every element.
template <std::size_t Width, typename T>
using Vector [[gnu::vector_size(Width * sizeof(T))]] = T;

// The int32 values of a vector register of each set.
constexpr std::size_t vector_ints(Isa isa) { return row_of(isa).vector_ints; }

// Whether the set has the 32 vector registers that the widest kernels
// (blocks of rows sorted in registers, many sines at once) take.
constexpr bool has_many_registers(Isa isa) { return row_of(isa).registers >= 32; }

}  // namespace polygons::sim
