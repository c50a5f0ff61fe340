#!/usr/bin/env bash
# Configures and builds one variant: plain (build/), asan (build-asan/) or tsan (build-tsan/);
# every target, or only the targets named.
#   scripts/build.sh [plain|asan|tsan] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

variant="${1:-plain}"
[ $# -gt 0 ] && shift
case "$variant" in
  plain) dir=build; sanitize="" ;;
  asan)  dir=build-asan; sanitize=address ;;
  tsan)  dir=build-tsan; sanitize=thread ;;
  *) echo "usage: $0 [plain|asan|tsan] [TARGET...]" >&2; exit 2 ;;
esac
targets=()
for t in "$@"; do
  targets+=(--target "$t")
done

cmake -S . -B "$dir" -DTOLVANE_SANITIZE="$sanitize" >/dev/null
cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
