#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer and
# runs the whole test suite (allocation-failure tests included: they use the
# library's own test hook, not a malloc replacement, so they work under ASan).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh check
B=${BUILD_DIR:-build-asan}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DENGINE_SANITIZE=ON >/dev/null
cmake --build "$B"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$B" --output-on-failure -j "$(nproc)"
