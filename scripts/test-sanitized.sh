#!/bin/sh
# Builds the program and the whole test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer (every warning an error) and runs the suite, so
# the end-to-end tests drive the sanitized program. The browser test and the
# attack test are left to the normal build: a sanitized browser session adds
# nothing, and the attack test's memory and time bounds are the normal build's.
#   POLYGONS_SANITIZE_EXCLUDE  ctest regex of tests to leave out
set -e
cd "$(dirname "$0")/.."
exclude=${POLYGONS_SANITIZE_EXCLUDE:-'^web_(browser|attack)$'}
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOLYGONS_SANITIZE=ON \
  -DPOLYGONS_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build build-asan -j "$(nproc)"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -E "$exclude"
