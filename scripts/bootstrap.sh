#!/usr/bin/env bash
# Installs the Debian packages Tolvane needs, in two sets:
#   scripts/bootstrap.sh run   what building and running the program needs (scripts/run.sh)
#   scripts/bootstrap.sh       that and what the tests, benchmarks, package and fuzz build need
set -euo pipefail

set="${1:-all}"
case "$set" in
  run|all) ;;
  *) echo "usage: $0 [run|all]" >&2; exit 2 ;;
esac

# The compiler, CMake, Qt, the JPEG library and the fonts that stand in for Arial and Courier New.
packages=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev
  libjpeg-dev
  # the MQTT client that forwards report lines to a broker
  libmosquitto-dev
  fonts-liberation fontconfig
)
# With no display the program runs under a virtual one.
if [ "$set" = all ] || { [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }; then
  packages+=(xvfb xauth)
fi
if [ "$set" = all ]; then
  packages+=(
    clang-format
    # the stacks of a test binary that hangs (tests/support/test_main.cpp)
    gdb
    libgtest-dev libgmock-dev libbenchmark-dev
    x11-apps imagemagick
    # the broker that the forwarding tests start on 127.0.0.1
    mosquitto mosquitto-clients
    # the package and its checks
    dpkg-dev file lintian desktop-file-utils
    # the fuzz build: clang with its libFuzzer, ASan and UBSan runtimes
    clang libclang-rt-14-dev
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
