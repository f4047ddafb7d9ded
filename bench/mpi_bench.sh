#!/bin/sh
# Trials per second of polygons-mpi for 1 rank x 2 threads, 2 ranks x 1
# thread and 4 ranks x 1 thread (more ranks than cores) at 3, 100 and 1000
# sides, and the fixed cost of a job: the time of a 1000-trial run under
# mpirun -n 2 against the one-process program. A run's time is the elapsed
# time of its own report (from the start of rank 0's program to its end, so
# without the launch of the job, which the fixed cost shows); best of
# POLYGONS_BENCH_REPEAT (default 3) runs, the configurations taken in turn.
#   POLYGONS_BUILD  the build folder (default: build)
set -e
cd "$(dirname "$0")/.."
build=${POLYGONS_BUILD:-build}
repeat=${POLYGONS_BENCH_REPEAT:-3}
for program in polygons polygons-mpi; do
  [ -x "$build/$program" ] || { echo "mpi_bench: $build/$program is not built" >&2; exit 1; }
done
launcher="mpirun --oversubscribe --bind-to none -q"
[ "$(id -u)" -ne 0 ] || launcher="$launcher --allow-run-as-root"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp"
binary=$(cd "$build" && pwd)

# input SIDES TRIALS: the parameters, and a chart drawn as text (quick).
input() {
  printf '%s\n1\n%s 4711\n0\n0\nset terminal dumb\nplot\n using 1:2 with boxes\n' "$1" "$2" >"$work/input"
}

# The elapsed seconds of the report on standard input.
elapsed() {
  awk '/^ +[0-9]+d [0-9]+h [0-9]+m +[0-9.]+s$/ {
         d = $1; h = $2; m = $3; s = $4; sub(/d/, "", d); sub(/h/, "", h); sub(/m/, "", m); sub(/s/, "", s)
         t = d * 86400 + h * 3600 + m * 60 + s }
       END { if (t == "") exit 1; print t }'
}

# run RANKS THREADS: the elapsed seconds of one run of the input.
run() {
  (cd "$work" && OMP_NUM_THREADS=$2 $launcher -n "$1" "$binary/polygons-mpi" <input) | elapsed
}

# wall COMMAND...: the wall-clock seconds of COMMAND on the input.
wall() {
  start=$(date +%s.%N)
  (cd "$work" && "$@" <input >/dev/null)
  echo "$start $(date +%s.%N)" | awk '{ printf "%.3f\n", $2 - $1 }'
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }

printf '%6s %10s %18s %18s %18s %10s\n' sides trials "1 rank x 2 thr" "2 ranks x 1 thr" "4 ranks x 1 thr" "2x1 / 1x2"
for case in "3 100000000" "100 10000000" "1000 1000000"; do
  set -- $case
  sides=$1 trials=$2
  input "$sides" "$trials"
  best12="" best21="" best41=""
  i=0
  while [ $i -lt "$repeat" ]; do
    best12=$(min "$best12" "$(run 1 2)")
    best21=$(min "$best21" "$(run 2 1)")
    best41=$(min "$best41" "$(run 4 1)")
    i=$((i + 1))
  done
  awk -v n="$sides" -v N="$trials" -v a="$best12" -v b="$best21" -v c="$best41" 'BEGIN {
    printf "%6d %10d %18.4g %18.4g %18.4g %9.1f%%\n", n, N, N / a, N / b, N / c, 100 * a / b }'
done

input 3 1000
one="" job=""
i=0
while [ $i -lt "$repeat" ]; do
  one=$(min "$one" "$(wall "$binary/polygons")")
  job=$(min "$job" "$(wall $launcher -n 2 "$binary/polygons-mpi")")
  i=$((i + 1))
done
awk -v a="$one" -v b="$job" 'BEGIN {
  printf "fixed cost of a 1000-trial job: polygons %.3f s, mpirun -n 2 polygons-mpi %.3f s (+%.3f s)\n", a, b, b - a }'
