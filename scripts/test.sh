#!/usr/bin/env bash
# Installs what is needed, builds one variant (plain, asan or tsan) and runs its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
variant="${1:-plain}"
scripts/bootstrap.sh
scripts/build.sh "$variant"
case "$variant" in
  plain) dir=build ;;
  asan)  dir=build-asan
         export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
         export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" ;;
  tsan)  dir=build-tsan
         export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" ;;
esac
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --no-tests=error --output-on-failure --parallel 2 --timeout 600
