#!/usr/bin/env bash
# Builds and runs the banded kernel benchmark with parasail as the peer.
# Usage: bench/simd/run.sh [repeats]   (from anywhere; default 5 repeats)
# Installs Debian's libparasail-dev here only: the library never needs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-simd-bench}

if ! dpkg -s libparasail-dev >/dev/null 2>&1; then
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo=sudo
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq libparasail-dev
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DENGINE_BUILD_BENCH=ON -DENGINE_BUILD_TESTS=OFF -DENGINE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target bench_simd
echo "# $(date -u +%FT%TZ) $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-)"
"$build/bench/simd/bench_simd" "${1:-5}"
