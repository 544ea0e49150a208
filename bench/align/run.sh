#!/usr/bin/env bash
# Builds and runs the aligner benchmark with parasail as the peer.
# Usage: bench/align/run.sh [repeats [pairs_dir]]
#   defaults: 5 repeats, /work/bench-data/pairs (made by
#   /work/shared/bench/make-data.sh; random pairs with a fixed seed otherwise).
# Installs Debian's libparasail-dev here only: the library never needs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-aligners-bench}

. "$root/bench/common.sh"
ensure_package libparasail-dev
build_bench "$root" "$build" bench_align
echo "# $(date -u +%FT%TZ) $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-), load $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/align/bench_align" "${2:-/work/bench-data/pairs}" "${1:-5}"
