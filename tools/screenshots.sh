#!/usr/bin/env bash
# Saves a PNG picture of every window of Tolvane into a folder, under a virtual X display whose
# fonts are the Liberation fonts that stand in for Arial and Courier New.
#   tools/screenshots.sh [OUTPUT_DIR] [BUILD_DIR]     (defaults: screenshots, build)
set -euo pipefail
cd "$(dirname "$0")/.."

out="${1:-screenshots}"
build="${2:-build}"
if [ ! -x "$build/tolvane" ]; then
  echo "no program at $build/tolvane: build first (scripts/build.sh)" >&2
  exit 2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Line 2 switched on and line 3 renamed, so that both looks of a panel and a changed caption show;
# COM4, which no line uses, named after an adapter that is not plugged in.
printf '[LineLabels]\r\nLine3=Packing\r\n[ComPortSettings]\r\nComPortB=1\r\n[PortDevices]\r\nCOM4=%s\r\n' \
  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0 >"$work/Tolvane.ini"

mkdir -p "$out"
xvfb-run -a -s "-screen 0 1680x1050x24" \
  "$build/tolvane" --settings "$work/Tolvane.ini" --screenshots "$out"
ls -1 "$out"/*.png
