#!/usr/bin/env bash
# Seconds from `scripts/run.sh --simulate` on a fresh clone to the main window on the screen, with
# the packages already installed. Each REV (default HEAD) is cloned from this repository into a
# folder of its own, run under an Xvfb of its own, and timed in turn, so that two commits compare
# in one session:
#   bench/first_window/first_window.sh [REV...]
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
[ $# -gt 0 ] || set -- HEAD
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for rev in "$@"; do
  commit="$(git -C "$repo" rev-parse --short "$rev")"
  clone="$work/$commit"
  git clone -q "$repo" "$clone"
  git -C "$clone" checkout -q "$commit"
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1680x1050x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
  start=$(date +%s.%N)
  (cd "$clone" && DISPLAY="$display" XDG_STATE_HOME="$work/state-$commit" \
     exec setsid scripts/run.sh --simulate >"$work/run-$commit.log" 2>&1) &
  run=$!
  shown=""
  while kill -0 "$run" 2>/dev/null; do
    if xwininfo -display "$display" -root -tree 2>/dev/null | grep -q '"Tolvane"'; then
      shown=$(date +%s.%N)
      break
    fi
    sleep 0.2
  done
  kill -- -"$run" 2>/dev/null || true
  wait "$run" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  if [ -z "$shown" ]; then
    echo "$commit: no window; the run said:" >&2
    tail -20 "$work/run-$commit.log" >&2
    exit 1
  fi
  printf '%s: main window after %.1f s\n' "$commit" "$(echo "$shown - $start" | bc)"
done
