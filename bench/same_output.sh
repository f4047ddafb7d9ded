#!/usr/bin/env bash
# Whole runs of two builds of the program compared byte for byte: the report
# less its clock lines, the results file, and the data file and plotting
# script (copied aside by the plotting template while gnuplot runs). The old
# build runs each case once, on one thread with the generic kernels; the new
# one on every kernel set this processor has and on 1, 2 and 3 threads, all
# of which must give the same outputs (sim/engine.hpp).
# Usage: bench/same_output.sh OLD_PROGRAM NEW_PROGRAM [--quick]
set -u
old=$(realpath "$1") new=$(realpath "$2")
quick=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The kernel sets of the new build, as its refusal of a name it does not
# know lists them, and of those the ones this processor runs: a short run
# on each.
probe() {
  mkdir -p "$work/probe/tmp"
  (cd "$work/probe" && printf '3\n1\n1000 1\n0\n0\n' | POLYGONS_ISA=$1 "$new" 2>&1 >/dev/null)
}
isas=""
for isa in $(probe none | sed -n 's/.*the program has //p' | tr -d ','); do
  probe "$isa" >/dev/null && isas="$isas $isa"
done
[ -n "$isas" ] || { echo "same_output: $new names no kernel set it can run" >&2; exit 2; }
echo "kernel sets:$isas"

# The template draws nothing: it only keeps the data file and the script.
template='set terminal unknown
system "cp tmp/gnudata.dat tmp/data.copy; cp tmp/gnuload.dat tmp/load.copy"
plot x'

# One run: program, directory, input, isa, threads.
run() {
  local program=$1 dir=$2 input=$3 isa=$4 threads=$5
  rm -rf "$dir" && mkdir -p "$dir/tmp"
  (cd "$dir" && printf '%s\n%s\n' "$input" "$template" |
    POLYGONS_RESULTS=1 POLYGONS_ISA=$isa OMP_NUM_THREADS=$threads "$program" \
      > report.raw 2> stderr.txt; echo "status $?" >> stderr.txt)
  grep -v -E 'UTC[+-][0-9]{4}|[0-9]+d [0-9]{2}h [0-9]{2}m' "$dir/report.raw" > "$dir/report.txt"
  rm -f "$dir/report.raw" "$dir/tmp/gnu.png"
}

same() {
  local a=$1 b=$2
  diff -r -q "$a" "$b" > /dev/null
}

cases=()
# sides radius trials seed classes show
for sides in 1 2 3 4 5 6 7 10 16 17 30 32 33 64 65 100 300 1000 4096 4097 10000; do
  many=$(( 3000000 / sides )); (( many < 1000 )) && many=1000
  cases+=("$sides 1.0 1000 7 0 1")
  cases+=("$sides 2.5 $many 4711 0 0")
  [[ -z $quick ]] && cases+=("$sides 1.0 $(( many + 17 )) -3 200 0")
done
cases+=("5 -1.5 20000 9 1 1" "12 1e-300 5000 11 200 1" "7 -3e-5 150000 13 0 0"
        "100 1e12 1500 17 0 1" "1 3.0 5000 19 200 1" "2 1.0 300000 23 40 0")

failures=0
count=0
for c in "${cases[@]}"; do
  read -r sides radius trials seed classes show <<< "$c"
  input=$(printf '%s\n%s\n%s %s\n%s\n%s' "$sides" "$radius" "$trials" "$seed" "$classes" "$show")
  run "$old" "$work/old" "$input" generic 1
  for isa in $isas; do
    for threads in 1 2 3; do
      run "$new" "$work/new" "$input" "$isa" "$threads"
      count=$((count + 1))
      if ! same "$work/old" "$work/new"; then
        failures=$((failures + 1))
        echo "DIFFERS: case [$c] isa $isa threads $threads"
        diff -r "$work/old" "$work/new" | head -20
      fi
    done
  done
done
echo "$count runs compared, $failures differ"
[[ $failures -eq 0 ]]
