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
# Pairs per second (whole jobs: the banded aligners compute fewer cells) per
# pair size; parasail and edlib are the peers.
awk '/ pairs, / { panel = substr($0, 1, index($0, ":") - 1) " (pairs/s)" }
     NF >= 5 && $(NF - 2) ~ /^[0-9.]+$/ {
       name = substr($0, 1, 28); sub(/ +$/, "", name)
       if (name ~ /^parasail_/) { sub(/^parasail_nw_trace_/, "parasail ", name); name = name " (peer)" }
       if (name ~ /^edlib/) name = "edlib (peer)"
       printf "%s\t%s\t%s\n", panel, name, $(NF - 1) }' "$BENCH_OUT/align.txt" >>"$BENCH_OUT/align.tsv"
