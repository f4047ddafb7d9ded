#!/bin/bash
# Sorts the tests a ctest run did not run into expected and unexpected skips.
# A skip is expected when nothing one could install would let the test run:
# the processor lacks what it needs (an instruction set). Such a test says so
# with a line of its output that begins with the marker
#   expected skip: <why>
# (for a GoogleTest test, the message of its GTEST_SKIP). Every other skip,
# and every test not run or disabled, is unexpected: a package or a program
# missing, a test that could not start.
#
# Usage: scripts/unexpected-skips.sh CTEST_OUTPUT LAST_TEST_LOG
#   CTEST_OUTPUT   what ctest wrote on its standard output (the summary lists
#                  each test that did not run: "  12 - name (Skipped)")
#   LAST_TEST_LOG  ctest's log of that run, with each test's output
#                  (<build>/Testing/Temporary/LastTest.log)
# Writes one line per test that did not run:
#   expected skip: <test>: <why>
#   unexpected skip: <test> (<what ctest said>)
# Exit status: 0 no unexpected skip, 1 some, 2 bad arguments or unreadable logs.
set -u

usage() { sed -n '11,15p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
[ $# -eq 2 ] || { echo "unexpected-skips: expected two arguments, got $#" >&2; usage; }
for file in "$1" "$2"; do
  [ -f "$file" ] && [ -r "$file" ] || { echo "unexpected-skips: cannot read '$file'" >&2; exit 2; }
done
grep -q '^Start testing: ' "$2" ||
  { echo "unexpected-skips: '$2' is not a ctest log (no 'Start testing:' line)" >&2; exit 2; }

# First file: the log, each test's output between "Output:" and its line of
# dashes, and "<end of output>". Second file: the summary lines of ctest.
awk '
  FNR == NR {
    if (inside) {
      if ($0 == "<end of output>") inside = 0
      else if (index($0, "expected skip: ") == 1 && !(test in why)) why[test] = substr($0, 16)
    } else if (match($0, /^[0-9]+\/[0-9]+ Test: /)) {
      test = substr($0, RLENGTH + 1); heading = 0
    } else if ($0 == "Output:") {
      heading = 1
    } else if (heading && $0 ~ /^-+$/) {
      heading = 0; inside = 1; logged[test] = 1
    }
    next
  }
  {
    line = $0
    sub(/[ \t\r]+$/, "", line)
    if (line !~ /^[ \t]*[0-9]+ - .* \((Skipped|Not Run|Disabled)\)$/) next
    sub(/^[ \t]*[0-9]+ - /, "", line)
    state = line; sub(/.* \(/, "", state); sub(/\)$/, "", state)
    test = line; sub(/ \([^()]*\)$/, "", test)
    if (test in seen) next
    seen[test] = 1
    if (state == "Skipped" && (test in why)) {
      print "expected skip: " test ": " why[test]
    } else {
      note = (state == "Skipped" && !(test in logged)) ? ", no output of it in the log" : ""
      print "unexpected skip: " test " (" state note ")"
      unexpected = 1
    }
  }
  END { exit unexpected }
' "$2" "$1"
