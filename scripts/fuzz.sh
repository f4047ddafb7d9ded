#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer included) and runs each for a bounded time on
# its seed corpus. Fails when a target finds a fault or cannot be built.
#   POLYGONS_FUZZ_SECONDS  time per target (default 60)
#   POLYGONS_FUZZ_TARGETS  targets to run (default: all)
#   POLYGONS_FUZZ_JOBS     build jobs (default: nproc)
set -e
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${POLYGONS_FUZZ_SECONDS:-60}
targets=${POLYGONS_FUZZ_TARGETS:-"line_writer_fuzz params_reader_fuzz template_reader_fuzz"}
jobs=${POLYGONS_FUZZ_JOBS:-$(nproc)}
build=build-fuzz

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DPOLYGONS_FUZZ=ON -DBUILD_TESTING=OFF \
  -DPOLYGONS_BUILD_WEB=OFF -DPOLYGONS_BUILD_BENCH=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $targets

failed=""
for target in $targets; do
  seeds="$root/tests/fuzz/corpus/$target"
  work="$build/fuzz/corpus/$target"      # what the fuzzer learns; kept between runs
  artifacts="$build/fuzz/artifacts/$target/"
  mkdir -p "$work" "$artifacts"
  dict=""
  [ -f "fuzz/$target.dict" ] && dict="-dict=fuzz/$target.dict"
  echo "== $target: ${seconds}s"
  if "$build/fuzz/$target" "$work" "$seeds" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$artifacts" $dict \
      >"$build/fuzz/$target.log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|cov:' "$build/fuzz/$target.log" | tail -n 3
  else
    tail -n 40 "$build/fuzz/$target.log"
    echo "== $target FAILED; the input is in $artifacts" >&2
    failed="$failed $target"
  fi
done

if [ -n "$failed" ]; then
  echo "fuzzing found faults in:$failed" >&2
  exit 1
fi
