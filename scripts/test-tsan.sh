#!/bin/sh
# Builds the program, the engine tests and the whole-run tests with
# ThreadSanitizer (every warning an error) and runs them with 1, 2 and 8
# threads, so that a data race in the parallel engine fails the build. The
# web front end and the benchmark are left out: they add no threads of the
# engine's.
#   POLYGONS_TSAN_JOBS  build jobs (default: nproc)
set -e
cd "$(dirname "$0")/.."
jobs=${POLYGONS_TSAN_JOBS:-$(nproc)}
build=build-tsan

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOLYGONS_TSAN=ON \
  -DPOLYGONS_BUILD_WEB=OFF -DPOLYGONS_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build "$build" -j "$jobs" --target polygons sim_tests run_tests

# ThreadSanitizer's fixed memory layout does not fit every address-space
# randomisation: with more than 28 random bits (newer kernels) its runtime
# stops with "unexpected memory mapping". Randomisation is then turned off
# for the tests and the programs they start.
run=""
bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0)
if [ "$bits" -gt 28 ]; then
  if ! setarch "$(uname -m)" -R true 2>/dev/null; then
    echo "test-tsan: vm.mmap_rnd_bits is $bits and setarch -R is not allowed here;" \
      "run 'sysctl vm.mmap_rnd_bits=28' first" >&2
    exit 1
  fi
  run="setarch $(uname -m) -R"
fi

export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:exitcode=66:second_deadlock_stack=1}
for threads in 1 2 8; do
  echo "== $threads threads"
  # The engine tests choose their own thread counts (1 to 8) as well; the
  # whole runs take OMP_NUM_THREADS unless a test sets it.
  OMP_NUM_THREADS=$threads $run "$build/tests/sim/sim_tests" --gtest_brief=1 \
    --gtest_filter='Engine.*:Kernels/*'
  OMP_NUM_THREADS=$threads $run "$build/tests/run/run_tests" --gtest_brief=1 \
    --gtest_filter='WholeRun.*'
done
# The exact laws share their work out over threads of their own (the
# arc-by-arc levels, the terms of the Fourier series), whatever the count.
echo "== exact laws"
$run "$build/tests/sim/sim_tests" --gtest_brief=1 --gtest_filter='SplitArcLaw.*:FewSidesLaw.*'
