#!/bin/sh
# Installs everything the build, the program and the tests need (Debian, as root).
set -e
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  cmake make pkg-config g++ libgtest-dev libbenchmark-dev libboost-math-dev gnuplot-nox libcpp-httplib-dev \
  clang libclang-rt-dev file chromium chromium-driver python3-selenium wrk procps >/dev/null
apt-get install -y -qq --no-install-recommends libopenmpi-dev openmpi-bin >/dev/null
apt-get install -y -qq --no-install-recommends systemd util-linux >/dev/null

# Daemons: nginx for the web service, munge and Slurm's controller and node
# daemon for the cluster test. Only our own scripts and tests start them, so
# they are installed without being started (a policy-rc.d that denies
# starts, removed again if made here), and the services new to this machine
# are disabled; a daemon the machine already had is left as it was.
daemons="nginx munge slurmctld slurmd"
had=""
for daemon in $daemons; do
  if [ -e "/lib/systemd/system/$daemon.service" ] || [ -e "/etc/init.d/$daemon" ]; then
    had="$had $daemon"
  fi
done
missing=""
for package in $daemons slurm-client; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q ' installed$' || missing="$missing $package"
done
if [ -n "$missing" ]; then
  made_policy=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
    printf '#!/bin/sh\n# Made by scripts/setup.sh while it installs daemons: none starts.\nexit 101\n' \
      >/usr/sbin/policy-rc.d
    chmod 755 /usr/sbin/policy-rc.d
    made_policy=1
  fi
  # shellcheck disable=SC2086  # package names, no blanks
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
  for daemon in $daemons; do
    case " $had " in *" $daemon "*) continue ;; esac
    deb-systemd-helper disable "$daemon.service" >/dev/null 2>&1 || true
    update-rc.d "$daemon" disable >/dev/null 2>&1 || true
  done
  if [ -n "$made_policy" ]; then
    rm -f /usr/sbin/policy-rc.d
    trap - EXIT
  fi
fi
# help2man, which writes the manual page from the program's --help, and man,
# which the install test renders it with.
apt-get install -y -qq --no-install-recommends help2man man-db >/dev/null
# The Python module (pybind11, NumPy), its tests (pytest) and the notebook
# the tests execute (matplotlib, nbconvert, ipykernel).
apt-get install -y -qq --no-install-recommends python3-dev python3-pybind11 python3-numpy \
  python3-pytest python3-matplotlib python3-nbconvert python3-ipykernel >/dev/null
# axe-core for the browser test's accessibility checks: from the npm
# registry (Debian has no package of it), fetched with curl and checked by
# its checksum (openssl).
apt-get install -y -qq --no-install-recommends curl ca-certificates openssl >/dev/null
"$(dirname "$0")/fetch-axe.sh"
