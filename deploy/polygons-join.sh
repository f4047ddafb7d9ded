#!/bin/bash
# Joins the results of a sweep's runs into one table.
#
#   deploy/polygons-join.sh SWEEP
#
# SWEEP is the folder deploy/polygons-sweep.sh made (./tmp/NAME/): each run
# listed in its inputs.tsv has its own folder with a results.tsv. Writes
# SWEEP/joined.tsv: a header line, "run" and the names of the results' values
# (sides, radius, trials, seed, ...), then one line per complete run, in the
# list's order, its values as the results file gives them (reals that read
# back to the same double). A run without results (it failed, was cancelled
# or is still running) is named on standard error and left out.
# Exit status: 0 every run joined, 1 some left out, 2 bad arguments or a
# results file of another layout, 3 a file could not be read or written.
set -uo pipefail

me=polygons-join.sh
fail() { echo "$me: $2" >&2; exit "$1"; }

[ $# -eq 1 ] || fail 2 "usage: deploy/polygons-join.sh SWEEP"
sweep=${1%/}
list=$sweep/inputs.tsv
[ -r "$list" ] || fail 3 "cannot read '$list' (is '$sweep' a sweep's folder?)"
parent=$(dirname "$sweep")

# The named values of one results file as "name<TAB>value" lines: those
# between the version line and the class header.
named_values() {
  awk -F '\t' -v file="$1" '
    NR == 1 { if ($0 != "polygons-results\t2") { print file ": not a results file of layout 2" > "/dev/stderr"; exit 2 } next }
    $1 == "centre" { done = 1; exit }
    { print }
    END { if (!done && NR > 0) { print file ": no class header" > "/dev/stderr"; exit 2 } }' "$1"
}

joined=$sweep/joined.tsv
partial=$joined.partial.$$
header=""
missing=0
count=0
: >"$partial" || fail 3 "cannot write '$partial'"
while IFS=$'\t' read -r run _; do
  results=$parent/$run/results.tsv
  if [ ! -f "$results" ]; then
    echo "$me: no results for $run (its task failed, was cancelled or has not ended)" >&2
    missing=1
    continue
  fi
  values=$(named_values "$results") || { rm -f "$partial"; exit 2; }
  names=$(cut -f 1 <<<"$values" | paste -sd '\t')
  if [ -z "$header" ]; then
    header=$names
  elif [ "$names" != "$header" ]; then
    rm -f "$partial"
    fail 2 "$results names other values than the first results file"
  fi
  printf '%s\t%s\n' "${run##*/}" "$(cut -f 2 <<<"$values" | paste -sd '\t')" >>"$partial"
  count=$((count + 1))
done <"$list"

{ [ -z "$header" ] || printf 'run\t%s\n' "$header"; cat "$partial"; } >"$joined.new.$$" &&
  mv "$joined.new.$$" "$joined" || { rm -f "$partial" "$joined.new.$$"; fail 3 "cannot write '$joined'"; }
rm -f "$partial"
echo "$me: $count runs joined into $joined"
exit "$missing"
