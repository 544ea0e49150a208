#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# few seconds from its seed corpus. Usage: fuzz-smoke.sh [seconds per target]
set -euo pipefail
"$(dirname "$0")/setup.sh" check
source "$(dirname "$0")/fuzz-common.sh"
SECONDS_EACH=${1:-20}
fuzz_build
targets=$(fuzz_targets)
if [ -z "$targets" ]; then echo "no fuzz targets built"; exit 0; fi
for name in $targets; do
  work=$(mktemp -d)
  echo "--- fuzz_$name (${SECONDS_EACH}s)"
  fuzz_run "$name" "$SECONDS_EACH" "$work" 2>&1 | tail -3
  rm -rf "$work"
done
