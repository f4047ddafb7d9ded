#!/bin/sh
# Fetches axe-core, the accessibility checker that the browser test runs
# inside Chromium, from the npm registry: one pinned version, its tarball
# checked against the registry's integrity checksum before anything of it is
# kept. Only axe.min.js is kept, in the cache directory (the first argument,
# else $POLYGONS_AXE_DIR, else /var/cache/polygons/axe-core), with the
# version beside it; a cache of this version is left as it is. Nothing of it
# runs outside the browser: no node is needed.
set -eu
version=4.14.1
integrity=sha512-FHfa+lmNjQZfJz1q8wKqIDwC6DExcHt/pkjNQb09a3NPjCKg2rhu5qb2S4r76ASyFNNtuFooJpZe37OgudVGtQ==
dir=${1:-${POLYGONS_AXE_DIR:-/var/cache/polygons/axe-core}}

if [ -s "$dir/axe.min.js" ] && [ "$(cat "$dir/version" 2>/dev/null)" = "$version" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
curl -fsSL --retry 3 --max-time 120 -o "$work/axe.tgz" \
  "https://registry.npmjs.org/axe-core/-/axe-core-$version.tgz"
got="sha512-$(openssl dgst -sha512 -binary "$work/axe.tgz" | base64 | tr -d '\n')"
if [ "$got" != "$integrity" ]; then
  echo "fetch-axe.sh: axe-core $version does not match its integrity checksum ($got)" >&2
  exit 1
fi
tar -xzf "$work/axe.tgz" -C "$work" package/axe.min.js
mkdir -p "$dir"
# Whole or absent: the test never finds half a file.
mv "$work/package/axe.min.js" "$dir/axe.min.js.new"
mv "$dir/axe.min.js.new" "$dir/axe.min.js"
echo "$version" >"$dir/version"
chmod -R a+rX "$dir"
