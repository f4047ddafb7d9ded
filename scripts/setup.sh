#!/bin/sh
# Installs everything the build, the program and the tests need (Debian, as root).
set -e
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  cmake make pkg-config g++ libgtest-dev libbenchmark-dev gnuplot-nox libcpp-httplib-dev \
  clang libclang-rt-dev file chromium chromium-driver python3-selenium wrk procps nginx >/dev/null
apt-get install -y -qq --no-install-recommends libopenmpi-dev openmpi-bin >/dev/null
apt-get install -y -qq --no-install-recommends systemd util-linux >/dev/null
# man, which the install test renders the manual page with.
apt-get install -y -qq --no-install-recommends man-db >/dev/null
# The Python module (pybind11, NumPy), its tests (pytest) and the notebook
# the tests execute (matplotlib, nbconvert, ipykernel).
apt-get install -y -qq --no-install-recommends python3-dev python3-pybind11 python3-numpy \
  python3-pytest python3-matplotlib python3-nbconvert python3-ipykernel >/dev/null
