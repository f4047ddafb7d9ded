#!/bin/bash
# Installs the build into a scratch prefix and uses what was installed from
# another directory: the program on the shipped example, the web service for
# one run (it must find its template from where it was installed), and the
# manual page through man, and the Python module when it is built.
# Usage: install_test.sh CMAKE BUILD_DIR [PYTHON PYTHON_DIR]
#   PYTHON_DIR: where the module goes, relative to the prefix
set -u
cmake=$1
build=$(cd "$2" && pwd) || exit 1
python=${3:-}
python_dir=${4:-}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/polygons-install-XXXXXX")
web_pid=
cleanup() {
  if [ -n "$web_pid" ]; then
    kill "$web_pid" 2>/dev/null
    wait "$web_pid" 2>/dev/null
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "install test: $*" >&2
  exit 1
}

prefix=$scratch/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  fail "cmake --install failed: $(cat "$scratch/install.log")"
examples=$prefix/share/polygons/examples
for file in bin/polygons share/polygons/examples/template.gp share/polygons/examples/triangle.txt \
  share/polygons/nginx.conf.in share/man/man1/polygons.1; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done

elsewhere=$scratch/elsewhere
mkdir -p "$elsewhere/tmp"
cd "$elsewhere" || fail "no directory $elsewhere"

"$prefix/bin/polygons" <"$examples/triangle.txt" >report.txt 2>err.txt ||
  fail "the installed program failed: $(cat err.txt)"
grep -q ' End$' report.txt || fail "no end report: $(cat report.txt)"
[ -s tmp/gnu.png ] || fail "no chart: $(cat err.txt)"
version=$("$prefix/bin/polygons" --version </dev/null)
[[ $version =~ ^polygons\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "version: $version"

MANPAGER=cat MANWIDTH=80 man -l "$prefix/share/man/man1/polygons.1" >man.txt 2>man.err ||
  fail "man cannot render the page: $(cat man.err)"
[ ! -s man.err ] || fail "man warns: $(cat man.err)"
# Written from the program's --help and --version, and from the parts they
# do not carry.
for part in 'polygons - Monte Carlo' 'SYNOPSIS' "$version" 'POLYGONS_RESULTS' 'Exit status:' \
  '1e8 without USER' 'INPUT' 'EXAMPLES' 'share/polygons/examples/triangle.txt'; do
  grep -qF -- "$part" man.txt || fail "the manual page lacks \"$part\": $(cat man.txt)"
done

if [ -n "$python" ]; then
  ls "$prefix/$python_dir"/polygons*.so >/dev/null 2>&1 || fail "the Python module is not in $python_dir"
  module_version=$(PYTHONPATH="$prefix/$python_dir" "$python" -c \
    'import polygons; print(polygons.__file__); print(polygons.__version__)' 2>&1) ||
    fail "the installed Python module cannot be imported: $module_version"
  [[ $module_version == "$prefix/$python_dir/"*$'\n'"${version#polygons }" ]] ||
    fail "the module imported is not the installed one, or not of this version: $module_version"
fi

# The service must take the installed template, not the source tree's: the
# installed one is made to draw a chart of a size of its own.
if [ -f "$build/polygons-web" ]; then
  [ -x "$prefix/bin/polygons-web" ] || fail "polygons-web is not installed"
  printf 'set terminal png size 321,123\nplot "gnudata.dat" using 1:2 with boxes\n' \
    >"$examples/template.gp"
  "$prefix/bin/polygons-web" --port 0 --quiet >web.out 2>web.err &
  web_pid=$!
  port=
  for _ in $(seq 100); do
    port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' web.out)
    [ -n "$port" ] && break
    kill -0 "$web_pid" 2>/dev/null || fail "polygons-web did not start: $(cat web.err)"
    sleep 0.1
  done
  [ -n "$port" ] || fail "polygons-web did not say where it listens"
  exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "cannot connect to polygons-web"
  printf 'GET /api/run?sides=3&radius=1&trials=1000&seed=1&classes=0 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
  answer=$(timeout 60 cat <&3)
  exec 3<&-
  [[ $answer == "HTTP/1.1 200"* ]] || fail "the run through polygons-web failed: $answer"
  [[ $answer =~ chart:\ /runs/([0-9a-f]+)/gnu.png ]] ||
    fail "the run through polygons-web drew no chart: $answer"
  size=$(od -An -tu1 -j16 -N8 "tmp/${BASH_REMATCH[1]}/gnu.png" | tr -s ' ')
  [ "$size" = " 0 0 1 65 0 0 0 123" ] ||
    fail "the chart was not drawn from the installed template (width, height bytes:$size)"
fi
echo "install test: passed ($prefix)"
