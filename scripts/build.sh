#!/usr/bin/env bash
# Configures and builds one variant: plain (build/), asan (build-asan/) or tsan (build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."

variant="${1:-plain}"
case "$variant" in
  plain) dir=build; sanitize="" ;;
  asan)  dir=build-asan; sanitize=address ;;
  tsan)  dir=build-tsan; sanitize=thread ;;
  *) echo "usage: $0 [plain|asan|tsan]" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" -DTOLVANE_SANITIZE="$sanitize" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
