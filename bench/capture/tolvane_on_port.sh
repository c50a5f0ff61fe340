#!/bin/sh
# Starts the program on one port with no click, for harnesses that give a device and a capture
# file (capture-bench.py and the like): line 1 on COM1 = DEVICE, resumed into FILE from a
# settings file written beside it.
# Usage: tolvane_on_port.sh PROGRAM DEVICE FILE
set -eu
settings="$(dirname "$3")/Tolvane.ini"
printf '[ComPortSettings]\r\nComPort=0\r\n[PortDevices]\r\nCOM1=%s\r\n[Capture]\r\nResumeAtStartup=1\r\nReportFile1=%s\r\n' \
  "$2" "$3" > "$settings"
exec "$1" --settings "$settings"
