#!/usr/bin/env bash
# Configures and builds one variant: plain (build/), asan (build-asan/) or tsan (build-tsan/);
# every target, or only the targets named.
#   scripts/build.sh [plain|asan|tsan] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

variant="${1:-plain}"
[ $# -gt 0 ] && shift
# The plain build is the one a new user waits for: its libraries compile in batches of files
# (unity) and without debug information, which halves the wait on two cores. The sanitizer builds
# keep one file per translation unit, so that each file is still checked to compile on its own,
# and keep debug information for their reports.
case "$variant" in
  plain) dir=build; sanitize=""
         options=(-DCMAKE_UNITY_BUILD=ON -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG") ;;
  asan)  dir=build-asan; sanitize=address; options=(-DCMAKE_UNITY_BUILD=OFF) ;;
  tsan)  dir=build-tsan; sanitize=thread; options=(-DCMAKE_UNITY_BUILD=OFF) ;;
  *) echo "usage: $0 [plain|asan|tsan] [TARGET...]" >&2; exit 2 ;;
esac
targets=()
for t in "$@"; do
  targets+=(--target "$t")
done

cmake -S . -B "$dir" -DTOLVANE_SANITIZE="$sanitize" "${options[@]}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
