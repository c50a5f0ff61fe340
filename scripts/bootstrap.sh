#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Tolvane needs.
set -euo pipefail

packages=(
  g++ cmake make pkg-config clang-format
  qt6-base-dev qt6-svg-dev libgl-dev
  libjpeg-dev
  # report lines forwarded to an MQTT broker; the broker the tests start
  libmosquitto-dev mosquitto mosquitto-clients
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation fontconfig
  xvfb xauth x11-apps imagemagick
  # the package and its checks
  dpkg-dev file lintian desktop-file-utils
  # the fuzz build: clang with its libFuzzer, ASan and UBSan runtimes
  clang libclang-rt-14-dev
)

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
