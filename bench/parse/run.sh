#!/usr/bin/env bash
# Throughput of bio_parse_mem_parallel at 1 and 2 threads against the
# streaming batch reader and a kseq.h peer reading the same bytes, in one run.
# Usage: bench/parse/run.sh [repeats]    (folders: see bench/common.sh)
# Data: $BENCH_DATA/parse/big.fastq and big.fasta (bench/make-data.sh).
set -euo pipefail
. "$(dirname "$0")/../common.sh"
REPEATS=${1:-5}

bench_prepare
build_bench parse_bench
figures_reset parse
machine_line
for fmt in fastq fasta; do
  "$BENCH_BUILD/bench/parse/parse_bench" "$BENCH_DATA/parse/big.$fmt" "$fmt" "$REPEATS" | tee "$BENCH_OUT/parse.$fmt.txt"
  # MB per second of wall time and per second of CPU time (all threads) of
  # each contender, the peer marked as such.
  awk -v fmt="$fmt" 'NR > 2 && NF >= 4 && $(NF - 3) ~ /^[0-9.]+$/ {
      name = substr($0, 1, 24); sub(/ +$/, "", name); sub(/^kseq.*/, "kseq.h (peer)", name)
      wall[++n] = sprintf("big.%s (MB/s)\t%s\t%s", fmt, name, $(NF - 2))
      cpu[n] = sprintf("big.%s (MB per CPU second)\t%s\t%.0f", fmt, name, $(NF - 2) * $(NF - 3) / $NF) }
    END { for (i = 1; i <= n; ++i) print wall[i]; for (i = 1; i <= n; ++i) print cpu[i] }' \
    "$BENCH_OUT/parse.$fmt.txt" >>"$BENCH_OUT/parse.tsv"
done
