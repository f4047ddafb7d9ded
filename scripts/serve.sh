#!/bin/bash
# Serves the web front end as a public service, in the foreground: nginx (with
# deploy/nginx.conf.in) on HOST:PORT in front of polygons-web on a free
# loopback port. Ctrl-C (SIGINT) or SIGTERM stops both within 2 s; when either
# stops by itself, at any moment from start-up on, the other is stopped too and
# the exit status is 1. When this script dies, even by SIGKILL, both servers
# are told to stop by the kernel (parent-death signal) and end their runs.
#
# Needs the built programs (cmake -S . -B build && cmake --build build) and
# nginx (scripts/setup.sh installs it). The values nginx and polygons-web
# must agree on (body size, Retry-After, keep-alive, how long a run may take,
# how long a chart is kept) come from polygons-web itself (--print-limits),
# for the options given here. Everything the stack uses and writes
# lives in a fresh directory under /tmp, removed at the end: copies of the
# programs and the plotting template (so that the servers reach them wherever
# the checkout is, and a rebuild does not change a running service), nginx's
# files and the run directories. Started as root, the servers run as an
# unprivileged user (--user, default nobody) that owns the run directories;
# nginx keeps only the right to listen on a port below 1024.
set -u
# The servers may run as another user than this script: what it writes
# for them (nginx's configuration) must be readable whatever the caller's umask.
umask 022
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  cat <<'EOF'
Usage: scripts/serve.sh --port P [--host H] [--server-name NAME]... [options]
  --port P            port nginx listens on (1-65535)
  --host H            address nginx listens on (default 127.0.0.1)
  --server-name NAME  host name the service answers for (repeatable, or
                      comma-separated; default localhost, 127.0.0.1, [::1]
                      and the --host address); other names get 421
  --time-limit S      seconds before a run is stopped
  --retention S       seconds a run's chart is kept
  --max-runs N        runs at once
  --disk-limit MB     disk the kept charts may take; beyond it the oldest go
                      first
                      (these four are polygons-web's, with its defaults:
                      see polygons-web --help)
  --build DIR         where polygons and polygons-web are (default: build)
  --user NAME         the user the servers run as when started as root
                      (default nobody; never root)
EOF
}

fail_usage() {
  echo "serve.sh: $1" >&2
  usage >&2
  exit 2
}

is_number() { [[ $1 =~ ^[0-9]+$ ]] && [ "${#1}" -le 6 ]; }

port="" host=127.0.0.1 names=() service_args=() build="$root/build"
user=nobody
while [ $# -gt 0 ]; do
  option=$1
  case $option in
    -h|--help) usage; exit 0 ;;
    --port|--host|--server-name|--time-limit|--retention|--max-runs|--disk-limit|--build|--user)
      [ $# -ge 2 ] || fail_usage "option $option needs a value"
      value=$2
      shift 2 ;;
    --*=*) value=${option#*=}; option=${option%%=*}; shift ;;
    -*) fail_usage "unknown option $option" ;;
    *) fail_usage "unexpected argument $option" ;;
  esac
  case $option in
    --port) port=$value ;;
    --host) host=$value ;;
    --server-name) IFS=, read -ra more <<<"$value"; names+=("${more[@]}") ;;
    --time-limit|--retention|--max-runs|--disk-limit) service_args+=("$option" "$value") ;;
    --build) build=$value ;;
    --user) user=$value ;;
    *) fail_usage "unknown option $option" ;;
  esac
done

[ -n "$port" ] || fail_usage "--port is required"
is_number "$port" && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] ||
  fail_usage "bad value for --port: $port"
port=$((10#$port))
[[ $host =~ ^[A-Za-z0-9.:-]+$ ]] || fail_usage "bad value for --host: $host"
if [ ${#names[@]} -eq 0 ]; then
  names=(localhost 127.0.0.1 "[::1]")
  case $host in 0.0.0.0|::|127.0.0.1|::1|localhost) ;; *[:]*) names+=("[$host]") ;; *) names+=("$host") ;; esac
fi
for name in "${names[@]}"; do
  [[ $name =~ ^([A-Za-z0-9.-]+|\[[0-9A-Fa-f:.]+\])$ ]] || fail_usage "bad value for --server-name: $name"
done

for program in polygons polygons-web; do
  if [ ! -x "$build/$program" ]; then
    echo "serve.sh: $build/$program is missing; build it first:" \
      "cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build" >&2
    exit 2
  fi
done
# polygons-web checks its own options, and names the values nginx takes from it.
if ! limits=$("$build/polygons-web" --print-limits "${service_args[@]}" 2>&1); then
  message=${limits%%$'\n'*}
  fail_usage "${message#polygons-web: }"
fi
agreed=()
while read -r name value; do
  agreed+=(-e "s|@$name@|$value|g")
done <<<"$limits"
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || { echo "serve.sh: nginx is not installed (scripts/setup.sh installs it)" >&2; exit 2; }

# How the servers are started: in a session of their own (so that a stop
# reaches every process they started and a Ctrl-C on the terminal reaches only
# this script), told to stop when this script dies, and, when it runs as root,
# as the unprivileged user.
as_server=(setpriv --pdeathsig TERM)
if [ "$(id -u)" -eq 0 ]; then
  uid=$(id -u "$user" 2>/dev/null) || fail_usage "no such user for --user: $user"
  [ "$uid" -ne 0 ] || fail_usage "the servers never run as root: choose another --user"
  as_server=(setpriv --reuid "$uid" --regid "$(id -g "$user")" --clear-groups --pdeathsig TERM)
fi
# Only nginx may keep (or, started as root, get) the right to listen on a
# port below 1024.
as_web=("${as_server[@]}" --inh-caps=-all --ambient-caps=-all)
as_nginx=("${as_server[@]}")
if [ "$(id -u)" -eq 0 ] && [ "$port" -lt 1024 ]; then
  as_nginx+=(--inh-caps=+net_bind_service --ambient-caps=+net_bind_service)
fi

web_pid="" nginx_pid=""
runtime=$(mktemp -d /tmp/polygons-serve-XXXXXX) || exit 3

# True while process $1 lives (a zombie is dead).
is_alive() {
  local fields
  { read -r fields <"/proc/$1/stat"; } 2>/dev/null || return 1
  fields=${fields##*) }
  [ "${fields%% *}" != Z ]
}

# The name of a server that has stopped, if one has.
stopped_server() {
  if [ -n "$web_pid" ] && ! is_alive "$web_pid"; then
    echo polygons-web
  elif [ -n "$nginx_pid" ] && ! is_alive "$nginx_pid"; then
    echo nginx
  fi
}

# Gives up when a server stopped during start-up.
fail_if_stopped() {
  local gone
  gone=$(stopped_server)
  [ -z "$gone" ] && return
  echo "serve.sh: $gone stopped while starting" >&2
  exit 1
}

# The live processes (zombies excluded) of session $1.
session_members() {
  local stat fields
  for stat in /proc/[0-9]*/stat; do
    { read -r fields <"$stat"; } 2>/dev/null || continue
    fields=${fields##*) }
    set -- "$1" $fields
    [ "$2" != Z ] && [ "$5" = "$1" ] && echo "${stat//[^0-9]/}"
  done
}

# Stops both servers: SIGTERM, then after 0.8 s SIGKILL to whatever is
# left in their sessions (a run in progress, its plotting program, nginx's
# workers).
microseconds() { echo "${EPOCHREALTIME//[.,]/}"; }
stopped=""
stop_stack() {
  [ -n "$stopped" ] && return
  stopped=1
  trap '' INT TERM
  local pid session left deadline=$(($(microseconds) + 800000))
  for pid in $nginx_pid $web_pid; do kill -TERM "$pid" 2>/dev/null; done
  while [ "$(microseconds)" -lt "$deadline" ]; do
    left=""
    for session in $nginx_pid $web_pid; do left+=$(session_members "$session"); done
    [ -z "$left" ] && break
    sleep 0.05
  done
  for session in $nginx_pid $web_pid; do
    for pid in $(session_members "$session"); do kill -KILL "$pid" 2>/dev/null; done
  done
  wait 2>/dev/null
  rm -rf "$runtime"
}

trap 'stop_stack; exit 130' INT
trap 'stop_stack; exit 143' TERM
trap 'stop_stack' EXIT
chmod 755 "$runtime"
mkdir -p "$runtime/bin" "$runtime/nginx" "$runtime/work"
cp "$build/polygons" "$build/polygons-web" "$runtime/bin/" &&
  cp "$root/examples/template.gp" "$runtime/bin/template.gp" &&
  chmod -R a+rX "$runtime/bin" || { echo "serve.sh: cannot copy the programs to $runtime" >&2; exit 3; }
if [ "$(id -u)" -eq 0 ]; then
  chown "$uid:$(id -g "$user")" "$runtime/nginx" "$runtime/work" || exit 3
fi

web_args=(--host 127.0.0.1 --port 0 --workdir "$runtime/work"
  --template "$runtime/bin/template.gp" "${service_args[@]}"
  --trusted-proxy 127.0.0.1 --server-name "$(IFS=,; echo "${names[*]}")")
HOME=$runtime/work setsid "${as_web[@]}" -- "$runtime/bin/polygons-web" "${web_args[@]}" \
  >"$runtime/web.out" &
web_pid=$!

upstream=""
for _ in $(seq 100); do
  upstream=$(sed -n 's|.*listening on http://\(127\.0\.0\.1:[0-9]*\)/.*|\1|p' "$runtime/web.out")
  [ -n "$upstream" ] && break
  fail_if_stopped
  sleep 0.1
done
[ -n "$upstream" ] || { echo "serve.sh: polygons-web did not start" >&2; exit 1; }

listen="$host:$port"
[[ $host == *:* ]] && listen="[$host]:$port"
sed -e "s|@RUNTIME@|$runtime/nginx|g" -e "s|@RUNS_ROOT@|$runtime/work/tmp|g" \
  -e "s|@LISTEN@|$listen|g" -e "s|@UPSTREAM@|$upstream|g" \
  -e "s|@SERVER_NAMES@|${names[*]}|g" "${agreed[@]}" \
  "$root/deploy/nginx.conf.in" >"$runtime/nginx.conf"

setsid "${as_nginx[@]}" -- "$nginx" -p "$runtime/nginx/" -c "$runtime/nginx.conf" -e stderr &
nginx_pid=$!

# nginx writes its pid file once it listens; it gives up on a busy port.
ready=""
for _ in $(seq 100); do
  [ -s "$runtime/nginx/nginx.pid" ] && { ready=1; break; }
  [ "$(stopped_server)" = nginx ] && break
  fail_if_stopped
  sleep 0.1
done
[ -n "$ready" ] || { echo "serve.sh: nginx did not start on $listen" >&2; exit 1; }
fail_if_stopped

echo "serve.sh: serving http://$listen/ (nginx in front of polygons-web; Ctrl-C stops)"

while [ -z "$(stopped_server)" ]; do sleep 0.2; done
gone=$(stopped_server)
echo "serve.sh: $gone stopped; stopping the other server" >&2
exit 1
