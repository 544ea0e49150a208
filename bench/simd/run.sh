#!/usr/bin/env bash
# Throughput of the vectorised banded kernels against the scalar banded
# aligners and parasail's AVX2 traceback aligners, by pair length.
# Usage: bench/simd/run.sh [repeats]   (folders: bench/common.sh)
set -euo pipefail
. "$(dirname "$0")/../common.sh"
REPEATS=${1:-5}

bench_prepare
build_bench bench_simd
figures_reset simd
machine_line
"$BENCH_BUILD/bench/simd/bench_simd" "$REPEATS" | tee "$BENCH_OUT/simd.txt"
# Mcells/s (band cells for ours, full matrix for parasail) per pair length.
awk '/ bp pairs / { panel = $1 " bp (Mcells/s)" }
     /^  / && NF >= 2 && $(NF - 1) ~ /^[0-9.]+$/ {
       name = $1
       if (name ~ /^parasail_/) { sub(/^parasail_nw_trace_/, "parasail ", name); name = name " (peer)" }
       printf "%s\t%s\t%s\n", panel, name, $(NF - 1) }' "$BENCH_OUT/simd.txt" >>"$BENCH_OUT/simd.tsv"
