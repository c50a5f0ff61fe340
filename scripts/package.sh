#!/usr/bin/env bash
# Installs what is needed, builds the program for /usr and makes the Debian package
# build/tolvane_<version>_amd64.deb with CPack; prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
# The package installs under /usr, and the program knows where it was installed to.
cmake -S . -B build -DTOLVANE_SANITIZE= -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build --parallel "$(nproc)"
desktop-file-validate resources/tolvane.desktop
(cd build && cpack -G DEB >/dev/null)
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)"
deb="build/tolvane_${version}_$(dpkg --print-architecture).deb"
test -f "$deb"
echo "$deb"
