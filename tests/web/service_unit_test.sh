#!/bin/bash
# deploy/polygons-web.service as systemd reads it: systemd-analyze verify finds
# no error and no warning (an unknown or misspelt setting is only a warning,
# and would leave the service without the protection it names). The unit
# names its programs under /opt/polygons; they are taken from this checkout
# through a link under /tmp (whatever TMPDIR says), a path of plain
# characters: the checkout's own path may hold a blank, which systemd would
# read as the end of the program's name.
# Exit status 77: skipped, systemd-analyze is not installed.
set -u
cd "$(dirname "$0")/../.."
command -v systemd-analyze >/dev/null || { echo "skipped: systemd-analyze is not installed"; exit 77; }
dir=$(mktemp -d /tmp/polygons-unit.XXXXXX) || exit 1
trap 'rm -rf "$dir"' EXIT
ln -s "$PWD" "$dir/checkout" || exit 1
sed "s|/opt/polygons|$dir/checkout|g" deploy/polygons-web.service >"$dir/polygons-web.service"
output=$(systemd-analyze verify --man=no "$dir/polygons-web.service" 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ -n "$output" ]; then
  echo "FAIL: systemd-analyze verify (status $status):"
  echo "$output"
  exit 1
fi
echo "ok: deploy/polygons-web.service verifies without error or warning"
