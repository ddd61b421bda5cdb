#!/usr/bin/env bash
# Installs what the build and the tests need and a fresh machine may lack (Debian packages).
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# libclang-rt-dev: the libFuzzer and sanitizer run-times of Clang, for the fuzz targets.
for pkg in cmake g++ clang libclang-rt-dev ninja-build libgtest-dev libgmock-dev libbenchmark-dev libexpat1-dev \
           libncurses-dev libxml2-utils; do
  have "$pkg" || need+=("$pkg")
done
if ((${#need[@]})); then
  echo "setup: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
