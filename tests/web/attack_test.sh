#!/bin/bash
# Cheap attacks on the whole web stack (scripts/serve.sh: nginx in front of
# polygons-web), on loopback only and bounded in count and time; see
# attack_test.py for the cases. Part of the test suite (about 150 s); --long
# (1000 slow clients for 60 s, with wrk load on GET /) is run by hand and
# prints the figures to compare.
#
# Usage: tests/web/attack_test.sh [--long] [--build DIR]   (default: build)
# Exit status 77: skipped, nginx is not installed.
set -eu
cd "$(dirname "$0")/../.."
build=build long=""
while [ $# -gt 0 ]; do
  case $1 in
    --long) long=--long; shift ;;
    --build) [ $# -ge 2 ] || { echo "attack_test.sh: --build needs a directory" >&2; exit 2; }
      build=$2; shift 2 ;;
    *) echo "attack_test.sh: unknown argument $1" >&2
      echo "usage: tests/web/attack_test.sh [--long] [--build DIR]" >&2; exit 2 ;;
  esac
done
exec python3 tests/web/attack_test.py --build "$build" $long
