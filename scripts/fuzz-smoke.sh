#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# few seconds from its seed corpus. Usage: fuzz-smoke.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh check
SECONDS_EACH=${1:-20}
B=${BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DENGINE_FUZZ=ON \
  -DENGINE_BUILD_TESTS=OFF -DENGINE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$B"
shopt -s nullglob
targets=("$B"/tests/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets built"; exit 0; fi
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus=tests/fuzz/corpus/${name#fuzz_}
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "--- $name (${SECONDS_EACH}s)"
  "$t" -max_total_time="$SECONDS_EACH" -max_len=65536 -rss_limit_mb=4096 -print_final_stats=1 "$work" 2>&1 | tail -3
  rm -rf "$work"
done
