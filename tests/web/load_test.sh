#!/bin/sh
# Bounded load test of polygons-web on loopback (not part of the test suite:
# it takes about half a minute). wrk keeps CONNECTIONS connections busy for
# DURATION seconds with small runs; then the test waits out the retention time.
# Passes when no request failed other than with 503 (busy), every report
# matches its own parameters, and no run directory or child process is left.
#
# Usage: tests/web/load_test.sh [build-dir]    (default: build)
# Environment: DURATION (20), CONNECTIONS (32), RETENTION (5), TEMPLATE.
set -eu
cd "$(dirname "$0")/../.."
build=${1:-build}
duration=${DURATION:-20}
connections=${CONNECTIONS:-32}
retention=${RETENTION:-5}
template=${TEMPLATE:-examples/template.gp}
[ -f "$template" ] || template=tests/web/data/template.gp
command -v wrk >/dev/null || { echo "load test: wrk is not installed" >&2; exit 77; }

workdir=$(mktemp -d "${TMPDIR:-/tmp}/polygons-web-load-XXXXXX")
# Each wrk thread is a client of its own (one run at a time per client), named
# in X-Real-IP as a front server at 127.0.0.1 would.
"$build/polygons-web" --port 0 --workdir "$workdir" --template "$template" \
  --retention "$retention" --trusted-proxy 127.0.0.1 --quiet \
  >"$workdir/server.out" 2>"$workdir/server.err" &
server=$!
trap 'kill "$server" 2>/dev/null || true; rm -rf "$workdir"' EXIT

port=
for _ in $(seq 50); do
  port=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$workdir/server.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "load test: server did not start" >&2; cat "$workdir/server.err" >&2; exit 1; }

echo "load test: $connections connections for ${duration}s on port $port, $(nproc) cores"
wrk -t "$connections" -c "$connections" -d "${duration}s" --timeout 30s --latency \
  -s tests/web/load_test.lua "http://127.0.0.1:$port/" | tee "$workdir/wrk.out"

failed=0
grep -q "other 0, mismatched reports 0" "$workdir/wrk.out" || { echo "FAIL: failed requests or mismatched reports"; failed=1; }
grep -q "connect 0 read 0 write 0 timeout 0" "$workdir/wrk.out" || { echo "FAIL: socket errors"; failed=1; }

# Every run directory goes within the retention time plus one sweep.
sleep $((retention + retention / 4 + 2))
left=$(find "$workdir/tmp" -mindepth 1 -maxdepth 1 -type d | wc -l)
children=$(ps -o pid= --ppid "$server" | wc -l)
echo "load test: after retention: $left run directories, $children child processes"
[ "$left" -eq 0 ] || { echo "FAIL: run directories left behind"; failed=1; }
[ "$children" -eq 0 ] || { echo "FAIL: processes left behind"; failed=1; }
if kill "$server" 2>/dev/null && wait "$server"; then
  :
else
  echo "FAIL: server died or did not stop cleanly"; failed=1
fi
if grep -qE "Sanitizer|runtime error" "$workdir/server.err"; then
  echo "FAIL: sanitizer reports:"; grep -E -A5 "Sanitizer|runtime error" "$workdir/server.err" | head -40
  failed=1
fi

[ "$failed" -eq 0 ] && echo "load test: passed"
exit "$failed"
