#!/bin/bash
# Clean-room check: a newcomer's first steps on a fresh machine. Builds a
# minimal Debian root (debootstrap, variant minbase; the bare root is cached
# between runs), adds only git, clones the commit under test into
# /root/<name> inside it and runs the two commands under the README's
# "Quick start" heading exactly as written there, as root, with no standard
# input. Passes when both end with status 0, the first one wrote the report
# and a PNG chart in tmp/gnu.png, and the test command ran every test but
# those that say they cannot run on this machine, whatever it installs (a
# kernel set the processor lacks: scripts/unexpected-skips.sh sorts the skips
# from ctest's output and its log, build/Testing/Temporary/LastTest.log).
#
# Usage (as root): scripts/clean-room.sh [--name NAME] [--commit REV]
#   --name NAME    the checkout is /root/NAME (default: this repository's folder name);
#                  blanks are allowed, and CI uses one: --name "my polygons"
#   --commit REV   the commit to check (default: HEAD; uncommitted changes are not seen)
# Environment:
#   POLYGONS_CLEAN_ROOM_CACHE        cache of the bare root (default /var/cache/polygons-clean-room)
#   POLYGONS_CLEAN_ROOM_MAX_AGE      days before the cached root is made anew (default 30)
#   POLYGONS_CLEAN_ROOM_MIRROR       Debian mirror (default: the host's apt source, else deb.debian.org)
#   POLYGONS_CLEAN_ROOM_WORK         where the throw-away root goes (default /var/tmp)
#   POLYGONS_CLEAN_ROOM_APT_ARCHIVE  host folder shared as apt's download cache
#                                    (default /var/cache/apt/archives; "none": download everything)
#   POLYGONS_CLEAN_ROOM_ALLOW_SKIPS  1: no test the suite skipped fails the check, expected or not
set -euo pipefail

suite=bookworm
self=$(readlink -f "$0")
repo=$(cd "$(dirname "$self")/.." && pwd)

say() { echo "clean-room: $*"; }
die() { echo "clean-room: FAILED: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "run as root (debootstrap, mount and chroot need it)"

# Mounts made here stay in a mount namespace of this script's own, so none
# outlives it, not even when it is killed.
if [ -z "${POLYGONS_CLEAN_ROOM_NAMESPACE:-}" ]; then
  export POLYGONS_CLEAN_ROOM_NAMESPACE=1
  exec unshare --mount --propagation private -- bash "$self" "$@"
fi

name=$(basename "$repo")
rev=HEAD
while [ $# -gt 0 ]; do
  case $1 in
    --name) [ $# -ge 2 ] || die "--name needs a value"; name=$2; shift 2 ;;
    --commit) [ $# -ge 2 ] || die "--commit needs a value"; rev=$2; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$self" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$1' (see --help)" ;;
  esac
done
case $name in
  ''|.|..|*/*) die "--name must be a plain folder name, not '$name'" ;;
esac

cache=${POLYGONS_CLEAN_ROOM_CACHE:-/var/cache/polygons-clean-room}
max_age=${POLYGONS_CLEAN_ROOM_MAX_AGE:-30}
archive=${POLYGONS_CLEAN_ROOM_APT_ARCHIVE:-/var/cache/apt/archives}
allow_skips=${POLYGONS_CLEAN_ROOM_ALLOW_SKIPS:-0}
path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

# --- timing ---------------------------------------------------------------

timings=()
started=0
start_clock() { started=$(date +%s); }
# Records and prints how long the step named by $1 took.
stop_clock() {
  local seconds=$(( $(date +%s) - started ))
  local line
  line=$(printf '%-34s %4dm %02ds' "$1" $((seconds / 60)) $((seconds % 60)))
  timings+=("$line")
  say "took $(printf '%dm %02ds' $((seconds / 60)) $((seconds % 60))): $1"
}

# --- the commit and the README's commands ---------------------------------

commit=$(git -C "$repo" rev-parse --verify --quiet "$rev^{commit}") || die "no commit '$rev' in $repo"
if [ "$rev" = HEAD ] && [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
  say "note: uncommitted changes in $repo are not part of the check"
fi

# The indented lines under the "Quick start" heading, up to the next heading.
readme_commands() {
  git -C "$repo" show "$commit:README.md" | awk '
    /^#+ / { inside = ($0 ~ /^#+ Quick start/); next }
    inside && /^    [^ ]/ { sub(/^    /, ""); print }'
}
mapfile -t commands < <(readme_commands)
if [ "${#commands[@]}" -ne 2 ]; then
  printf '  %s\n' "${commands[@]}" >&2
  die "expected exactly two indented command lines under the README's 'Quick start' heading, found ${#commands[@]}"
fi

# --- the bare root, cached --------------------------------------------------

# The first source of the host's apt configuration whose address matches $1.
host_source() {
  {
    grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{ for (i = 2; i <= NF; i++) print $i }'
    grep -hsE '^deb[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
      awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^[a-z+]+:\/\//) { print $i; break } }'
  } | grep -E "$1" | head -n 1 || true
}
mirror=${POLYGONS_CLEAN_ROOM_MIRROR:-$(host_source '/debian/?$')}
mirror=${mirror:-http://deb.debian.org/debian}
security=$(host_source '/debian-security/?$')
security=${security:-http://deb.debian.org/debian-security}

arch=$(dpkg --print-architecture)
bare=$cache/$suite-minbase-$arch.tar.gz

make_bare_root() {
  if ! command -v debootstrap >/dev/null; then
    say "installing debootstrap"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  fi
  local fresh
  rm -rf --one-file-system "$cache"/new.*   # left by a run that was killed
  fresh=$(mktemp -d "$cache/new.XXXXXX")
  say "debootstrap --variant=minbase $suite from $mirror"
  if ! debootstrap --variant=minbase "$suite" "$fresh/root" "$mirror" >"$fresh/debootstrap.log" 2>&1; then
    tail -n 40 "$fresh/debootstrap.log" >&2
    rm -rf --one-file-system "$fresh"
    die "debootstrap failed"
  fi
  tar -C "$fresh/root" --numeric-owner -czf "$fresh/root.tar.gz" .
  mv "$fresh/root.tar.gz" "$bare"
  rm -rf --one-file-system "$fresh"
}

start_clock
mkdir -p "$cache"
(
  flock 9
  if [ -s "$bare" ] && [ -z "$(find "$bare" -mtime "+$max_age")" ]; then
    say "bare root from the cache: $bare"
  else
    make_bare_root
  fi
) 9>"$cache/lock"
stop_clock "bare root (debootstrap or cache)"

# --- the throw-away root, and how it goes away ------------------------------

work=$(readlink -f "$(mktemp -d "${POLYGONS_CLEAN_ROOM_WORK:-/var/tmp}/polygons-clean-room.XXXXXX")")
root=$work/root
mounted=()
running=""

mounts_under_work() { awk -v w="$work/" 'index($2, w) == 1 { print $2 }' /proc/self/mounts; }

# Every process whose root directory is the clean room, or inside it.
kill_processes_in_root() {
  local proc pid dir found
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    found=0
    for proc in /proc/[0-9]*; do
      dir=$(readlink "$proc/root" 2>/dev/null) || continue
      case $dir in
        "$root"|"$root"/*)
          pid=${proc#/proc/}
          kill -KILL "$pid" 2>/dev/null && found=1 ;;
      esac
    done
    [ "$found" -eq 0 ] && return 0
    sleep 0.5
  done
  say "some processes in the clean room would not end" >&2
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  set +e
  start_clock
  [ -n "$running" ] && kill "$running" 2>/dev/null
  kill_processes_in_root
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}"
  done
  # Never remove a tree that still holds a mount: it could be the host's /dev
  # or apt cache.
  if [ -n "$(mounts_under_work)" ]; then
    say "still mounted, leaving $work in place:" >&2
    mounts_under_work >&2
    [ "$status" -eq 0 ] && status=1
  else
    rm -rf --one-file-system "$work"
  fi
  stop_clock "clean-up"
  if [ "${#timings[@]}" -gt 0 ]; then
    say "times:"
    printf '  %s\n' "${timings[@]}"
  fi
  if [ "$status" -eq 0 ]; then
    say "passed"
  else
    say "FAILED (status $status)" >&2
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_in_root() {
  local target=$root$1
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
}

# Runs a command in the clean room with the environment of a fresh root
# login, no standard input, its output shown and kept in $work/$1.log.
# Runs in the background so that a signal ends the check at once.
in_root() {
  local log=$work/$1.log dir=$2
  shift 2
  (
    set -o pipefail
    chroot "$root" /usr/bin/env -i -C "$dir" HOME=/root USER=root LOGNAME=root SHELL=/bin/bash \
      PATH="$path" DEBIAN_FRONTEND=noninteractive "$@" </dev/null 2>&1 | tee "$log"
  ) &
  running=$!
  local status=0
  wait "$running" || status=$?
  running=""
  return "$status"
}

start_clock
mkdir -p "$root"
tar -C "$root" --numeric-owner -xzf "$bare"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# The network's own certificate authorities go in too, as its DNS does: a
# machine on this network trusts them (an intercepting proxy's, say), or
# nothing fetched over TLS (axe-core from the npm registry) could be
# verified. The room's ca-certificates takes them in when it is installed,
# or below when the bare root already has it.
local_cas=(/usr/local/share/ca-certificates/*.crt)
if [ -e "${local_cas[0]}" ]; then
  mkdir -p "$root/usr/local/share/ca-certificates"
  cp -L "${local_cas[@]}" "$root/usr/local/share/ca-certificates/"
fi
[ -s "$root/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security $suite-security main
EOF
# No daemon starts inside the clean room when its package is installed.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

mount_in_root /proc -t proc proc
mount_in_root /sys -t sysfs sysfs
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
mount_in_root /dev/shm -t tmpfs -o mode=1777,nosuid,nodev shm
if [ "$archive" != none ] && [ -d "$archive" ]; then
  # Saves downloading the same packages again; apt still decides what to install.
  mount_in_root /var/cache/apt/archives --bind "$archive"
fi
if [ -e "${local_cas[0]}" ] && [ -x "$root/usr/sbin/update-ca-certificates" ]; then
  chroot "$root" /usr/sbin/update-ca-certificates >/dev/null
fi
stop_clock "clean room unpacked and mounted"

# --- git, and the clone a newcomer makes -------------------------------------

start_clock
say "installing git"
in_root git-install / /bin/sh -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends git >/dev/null' ||
  die "could not install git in the clean room"
origin=$root/tmp/origin.git
git init -q --bare "$origin"
git -C "$repo" push -q "$origin" "$commit:refs/heads/under-test"
git -C "$origin" symbolic-ref HEAD refs/heads/under-test
checkout=/root/$name
in_root clone /root git clone -q /tmp/origin.git "$checkout" || die "git clone failed"
in_root checkout "$checkout" git checkout -q --detach "$commit" || die "git checkout $commit failed"
rm -rf "$origin"
stop_clock "git and the clone"
say "checkout $checkout at $commit"

# --- the README's two commands ------------------------------------------------

failures=()
for i in 0 1; do
  command=${commands[i]}
  say "command $((i + 1)) of 2, as root in $checkout:"
  echo "    $command"
  start_clock
  status=0
  in_root "command$((i + 1))" "$checkout" /bin/bash -c "$command" || status=$?
  stop_clock "command $((i + 1)) (status $status)"
  [ "$status" -eq 0 ] || failures+=("command $((i + 1)) ended with status $status: $command")
done

log1=$work/command1.log
grep -qE '"CPU":.*End$' "$log1" && grep -qE '^ +[0-9]+d [0-9]{2}h [0-9]{2}m ' "$log1" ||
  failures+=("command 1 wrote no complete report (no end report with the elapsed time)")
chart=$root$checkout/tmp/gnu.png
if [ ! -s "$chart" ]; then
  failures+=("command 1 left no chart in tmp/gnu.png")
elif [ "$(head -c 8 "$chart" | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
  failures+=("tmp/gnu.png is not a PNG file")
else
  say "chart: tmp/gnu.png, $(stat -c %s "$chart") bytes"
fi
# Tests that did not run: those a kernel set this processor lacks are
# expected; any other (a package or program missing) fails the check.
if grep -qE '^[[:space:]]*[0-9]+ - .*\((Skipped|Not Run|Disabled)\)' "$work/command2.log"; then
  status=0
  "$repo/scripts/unexpected-skips.sh" "$work/command2.log" "$root$checkout/build/Testing/Temporary/LastTest.log" ||
    status=$?
  if [ "$status" -eq 0 ]; then
    say "the skips above are expected: this machine cannot run those tests, whatever it installs"
  elif [ "$allow_skips" = 1 ]; then
    say "POLYGONS_CLEAN_ROOM_ALLOW_SKIPS=1: the skips above do not fail the check"
  elif [ "$status" -eq 1 ]; then
    failures+=("the test command did not run every test (a package missing from scripts/setup.sh?)")
  else
    failures+=("could not tell expected skips from others (scripts/unexpected-skips.sh, status $status)")
  fi
fi

if [ "${#failures[@]}" -gt 0 ]; then
  printf 'clean-room: FAILED: %s\n' "${failures[@]}" >&2
  exit 1
fi
