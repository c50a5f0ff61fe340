#!/usr/bin/env bash
# Installs what building and running needs, builds the program alone, and starts it. Extra
# arguments go to the program. With no display it runs invisibly under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh run
scripts/build.sh plain tolvane
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting under Xvfb, where its windows cannot be seen." >&2
  exec xvfb-run -a -s "-screen 0 1680x1050x24" build/tolvane "$@"
fi
exec build/tolvane "$@"
