#!/usr/bin/env bash
# Installs what is needed, builds, and starts Tolvane. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh plain
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting under Xvfb." >&2
  exec xvfb-run -a -s "-screen 0 1680x1050x24" build/tolvane "$@"
fi
exec build/tolvane "$@"
