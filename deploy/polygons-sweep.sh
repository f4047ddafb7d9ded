#!/bin/bash
# A parameter sweep on Slurm: one array task of deploy/polygons-mpi.slurm
# per parameter file, and a job that joins their results once all have
# ended.
#
#   deploy/polygons-sweep.sh FOLDER [NAME] [sbatch options]
#
# FOLDER holds the parameter files, each with its plotting template: every
# *.txt file in it, in name order, is one task. The sweep's folder is
# ./tmp/NAME/ under the current folder (NAME by default sweep-<date>-<time>);
# it must not exist yet. Task i runs in ./tmp/NAME/<file name less .txt>/,
# writes its report to ./tmp/NAME/task-<i>.out, and the join job writes
# ./tmp/NAME/joined.tsv (deploy/polygons-join.sh). The sbatch options (for
# instance -n 2 -c 4 --time=30 -p PARTITION) apply to every task and to the
# join job.
# Prints the array job's id and the join job's id.
set -euo pipefail

me=polygons-sweep.sh
fail() { echo "$me: $2" >&2; exit "$1"; }
usage="usage: deploy/polygons-sweep.sh FOLDER [NAME] [sbatch options]"
deploy=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)

[ $# -ge 1 ] || fail 2 "$usage"
folder=$1
shift
name=sweep-$(date +%Y%m%d-%H%M%S)
if [ $# -ge 1 ] && [ "${1#-}" = "$1" ]; then
  name=$1
  shift
fi
case $name in
  ''|.|..|*/*|-*) fail 2 "NAME must be a plain folder name, not '$name'" ;;
esac
[ -d "$folder" ] || fail 2 "no folder '$folder'"
folder=$(cd "$folder" && pwd)
shopt -s nullglob
export LC_ALL=C
inputs=("$folder"/*.txt)
[ "${#inputs[@]}" -gt 0 ] || fail 2 "no parameter files (*.txt) in '$folder'"
sweep=./tmp/$name
[ ! -e "$sweep" ] || fail 3 "$sweep already exists; a sweep needs a folder of its own"
program=${POLYGONS_MPI:-$deploy/../build/polygons-mpi}
[ -x "$program" ] || fail 3 "no program at '$program'; build it, or set POLYGONS_MPI"
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

mkdir -p "$sweep"
list=$(cd "$sweep" && pwd)/inputs.tsv
for input in "${inputs[@]}"; do
  stem=$(basename "$input" .txt)
  printf '%s/%s\t%s\n' "$name" "$stem" "$input"
done >"$list"

array=$(POLYGONS_MPI=$program POLYGONS_SWEEP_LIST=$list sbatch --parsable \
  --job-name=polygons-sweep --array=1-${#inputs[@]} --output="$sweep/task-%a.out" \
  "$@" "$deploy/polygons-mpi.slurm") || { rm -rf "$sweep"; fail 3 "sbatch refused the sweep's array job"; }
array=${array%%;*}
join=$(sbatch --parsable --job-name=polygons-join --dependency=afterany:"$array" \
  --output="$sweep/join.out" "$@" "$deploy/polygons-join.sh" "$sweep")
join=${join%%;*}
echo "sweep $sweep: ${#inputs[@]} tasks in array job $array; joined by job $join into $sweep/joined.tsv"
