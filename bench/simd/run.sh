#!/usr/bin/env bash
# Builds and runs the banded kernel benchmark with parasail as the peer.
# Usage: bench/simd/run.sh [repeats]   (from anywhere; default 5 repeats)
# Installs Debian's libparasail-dev here only: the library never needs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-simd-bench}

. "$root/bench/common.sh"
ensure_package libparasail-dev
build_bench "$root" "$build" bench_simd
echo "# $(date -u +%FT%TZ) $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-)"
"$build/bench/simd/bench_simd" "${1:-5}"
