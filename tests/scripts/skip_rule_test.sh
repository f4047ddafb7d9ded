#!/bin/bash
# The clean room's rule for tests that did not run (scripts/unexpected-skips.sh),
# on what a real ctest run writes: a small project in a folder with a blank,
# whose tests skip for a kernel set this processor lacks (with the message of
# tests/sim/every_kernel_set.hpp, as GoogleTest prints it), skip for nginx
# missing (status 77, as the web tests do), and pass. Only the skip for nginx
# may fail the clean room.
# Usage: skip_rule_test.sh CMAKE CTEST
set -u
[ $# -eq 2 ] || { echo "usage: skip_rule_test.sh CMAKE CTEST" >&2; exit 2; }
cmake=$1
ctest=$2
cd "$(dirname "$0")/../.."
rule=$PWD/scripts/unexpected-skips.sh
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The kernel-set tests' skip message, with the set's name in place.
message=$(sed -n 's/.*GTEST_SKIP() << "\([^"]*\)" << set().name << "\([^"]*\)".*/\1avx512\2/p' \
  tests/sim/every_kernel_set.hpp)
[ -n "$message" ] || { echo "FAIL: no GTEST_SKIP message in tests/sim/every_kernel_set.hpp"; exit 1; }

dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
project="$dir/small project"
mkdir -p "$project"
printf '%s\n' '[ RUN      ] Kernels/EveryKernelSet.Sines/avx512' \
  'every_kernel_set.hpp:22: Skipped' "$message" '' \
  '[  SKIPPED ] Kernels/EveryKernelSet.Sines/avx512 (0 ms)' >"$project/kernel_output.txt"
cat >"$project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(small NONE)
enable_testing()
add_test(NAME Kernels/EveryKernelSet.Sines/avx512
  COMMAND cat ${CMAKE_CURRENT_SOURCE_DIR}/kernel_output.txt)
# As gtest_discover_tests marks a skipped GoogleTest test.
set_tests_properties(Kernels/EveryKernelSet.Sines/avx512
  PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
add_test(NAME web_attack COMMAND sh -c "echo 'skipped: nginx is not installed'; exit 77")
set_tests_properties(web_attack PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME passes COMMAND sh -c "echo ok")
CMAKE
"$cmake" -S "$project" -B "$project/build" >"$dir/cmake.txt" 2>&1 ||
  { cat "$dir/cmake.txt"; echo "FAIL: the small project did not configure"; exit 1; }
log="$project/build/Testing/Temporary/LastTest.log"

# $1: what the run is; then ctest's arguments.
run_ctest() {
  local what=$1
  shift
  "$ctest" --test-dir "$project/build" --output-on-failure "$@" >"$dir/ctest.txt" 2>&1
  grep -q '(Skipped)' "$dir/ctest.txt" || { cat "$dir/ctest.txt"; fail "$what: ctest reported no skip"; }
}

# Every test, two at a time: the skip for nginx fails the rule.
run_ctest "all tests" -j 2
status=0
output=$(bash "$rule" "$dir/ctest.txt" "$log" 2>&1) || status=$?
[ "$status" -eq 1 ] || fail "all tests: status $status, expected 1 (an unexpected skip)"
grep -qxF "expected skip: Kernels/EveryKernelSet.Sines/avx512: ${message#expected skip: }" <<<"$output" ||
  fail "all tests: the avx512 skip is not listed as expected"
grep -qxF "unexpected skip: web_attack (Skipped)" <<<"$output" ||
  fail "all tests: the skip for nginx is not listed as unexpected"
grep -q passes <<<"$output" && fail "all tests: the test that passed is listed"
[ "$failures" -eq 0 ] || printf '%s\n' "$output"

# Without the nginx test: the processor's skip alone passes the rule.
run_ctest "kernel test only" -E web_attack
status=0
output=$(bash "$rule" "$dir/ctest.txt" "$log" 2>&1) || status=$?
[ "$status" -eq 0 ] || { printf '%s\n' "$output"; fail "kernel test only: status $status, expected 0"; }

[ "$failures" -eq 0 ] || exit 1
echo "ok: a skip for a kernel set the processor lacks is expected, one for nginx missing is not"
