#!/usr/bin/env bash
# Makes the README's pictures in docs/pictures/ from a fresh demo of the simulated plant: the main
# window with the eight lines capturing and Press 1 waiting for its pulled adapter, the COM Ports
# and Port Devices dialogs and the Mixer's expanded view. Runs under a virtual X display, in a
# state folder of its own, so that no demo or settings file of the user's is touched.
#   tools/readme_pictures.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
if [ ! -x "$build/tolvane" ]; then
  echo "no program at $build/tolvane: build first (scripts/build.sh plain tolvane)" >&2
  exit 2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
XDG_STATE_HOME="$work/state" xvfb-run -a -s "-screen 0 1680x1050x24" \
  "$build/tolvane" --simulate --screenshots "$work/pictures"

mkdir -p docs/pictures
for name in main_window port_dialog port_devices_dialog expanded_view; do
  # A palette of 256 colours keeps the text sharp at a third of the size.
  convert "$work/pictures/$name.png" -strip -colors 256 PNG8:"docs/pictures/$name.png"
done
ls -l docs/pictures/*.png
