#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for SECONDS (default 60).
# A crash, leak or time-out fails the run; its input is copied to tests/fuzz/regressions/<target>/
# (and printed in base64), where the test build replays it from then on. Installs nothing:
# scripts/bootstrap.sh brings clang and its runtimes.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(profile capture_handlers message_source trigger_scan)

# Longest input per target: past the receive ring for the trigger scan, which wraps it; a ring's
# worth for the capture handlers, whose every chunk the ring bounds; the settings file's writer
# reparses the whole text for every key, so its inputs stay a few pages long.
declare -A max_len=([profile]=8192 [capture_handlers]=8192 [message_source]=8192
                    [trigger_scan]=20000)

cmake -S . -B build-fuzz -DTOLVANE_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  >/dev/null
cmake --build build-fuzz --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
failed=()
for t in "${targets[@]}"; do
  work="build-fuzz/corpus/$t"        # what the run learns; the seeds stay as they are
  crashes="build-fuzz/crashes/$t"
  mkdir -p "$work" "$crashes"
  rm -f "$crashes"/*
  echo "== fuzz_$t for ${seconds}s"
  status=0
  "build-fuzz/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len="${max_len[$t]:-8192}" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/" \
    "$work" "tests/fuzz/corpus/$t" >"build-fuzz/fuzz_$t.log" 2>&1 || status=$?
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|^#[0-9]+ *DONE' "build-fuzz/fuzz_$t.log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "build-fuzz/fuzz_$t.log"
    mkdir -p "tests/fuzz/regressions/$t"
    for input in "$crashes"/*; do
      [ -f "$input" ] || continue
      cp "$input" "tests/fuzz/regressions/$t/"
      echo "kept tests/fuzz/regressions/$t/$(basename "$input"): $(base64 -w0 "$input")"
    done
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets that failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz targets passed: ${targets[*]}"
