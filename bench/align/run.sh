#!/usr/bin/env bash
# Cells and pairs per second of the full-matrix and banded aligners on the
# 1/5/10 kb pairs, with parasail's traceback aligners as peers in the same
# process (and edlib's edit-distance alignment). Usage: bench/align/run.sh [repeats]   (folders: bench/common.sh)
set -euo pipefail
. "$(dirname "$0")/../common.sh"
REPEATS=${1:-5}

bench_prepare
build_bench bench_align
figures_reset align
machine_line
"$BENCH_BUILD/bench/align/bench_align" "$BENCH_DATA/pairs" "$REPEATS" | tee "$BENCH_OUT/align.txt"
# Mcells/s per pair size; parasail is the peer.
awk '/ pairs, / { panel = substr($0, 1, index($0, ":") - 1) " (Mcells/s)" }
     $(NF - 2) ~ /^[0-9.]+$/ && NF >= 5 {
       name = substr($0, 1, 28); sub(/ +$/, "", name)
       if (name ~ /^parasail_/) { sub(/^parasail_nw_trace_/, "parasail ", name); name = name " (peer)" }
       if (name ~ /^edlib/) name = "edlib (peer)"
       printf "%s\t%s\t%s\n", panel, name, $(NF - 2) }' "$BENCH_OUT/align.txt" >>"$BENCH_OUT/align.tsv"
