#!/usr/bin/env bash
# Builds with clang, LLVM's OpenMP runtime and ThreadSanitizer, and runs the
# tests labelled "threads" (everything that opens a parallel region). The
# Archer tool tells ThreadSanitizer about OpenMP's own synchronisation, so
# only real races are reported.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh check
B=${BUILD_DIR:-build-tsan}
CC=clang CXX=clang++ cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DENGINE_TSAN=ON \
  -DENGINE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$B"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1"
export OMP_TOOL_LIBRARIES=/usr/lib/llvm-14/lib/libarcher.so
ctest --test-dir "$B" --output-on-failure -L threads -j "$(nproc)"
