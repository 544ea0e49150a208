#!/usr/bin/env bash
# Throughput of bio_parser_next and bio_parser_next_batch against a kseq.h
# peer (Debian libhts-dev), all in one benchmark run.
# Usage: bench/seqio/run.sh [repetitions]   (folders: bench/common.sh)
# Data: $BENCH_DATA/parse/big.fastq and big.fasta (bench/make-data.sh).
set -euo pipefail
. "$(dirname "$0")/../common.sh"
REPS=${1:-7}
B=$BENCH_BUILD
FASTQ=$BENCH_DATA/parse/big.fastq
FASTA=$BENCH_DATA/parse/big.fasta
export READER_BENCH_FASTQ=$FASTQ READER_BENCH_FASTA=$FASTA

bench_prepare
build_bench reader_bench kseq_count
figures_reset seqio
cat "$FASTQ" "$FASTA" >/dev/null  # into the page cache
out=$(mktemp)
"$B"/bench/seqio/reader_bench --benchmark_repetitions="$REPS" --benchmark_min_time=0.01 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json >/dev/null 2>&1
machine_line
python3 - "$out" "$FASTQ" "$FASTA" "$BENCH_OUT/seqio.tsv" <<'PY'
import json, os, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
med = {b["run_name"].replace("/real_time", ""): b for b in runs if b.get("aggregate_name") == "median"}
size = {"fastq": os.path.getsize(sys.argv[2]), "fasta": os.path.getsize(sys.argv[3])}
figures = open(sys.argv[4], "a")
print(f"{'benchmark':<18}{'real ms':>9}{'cpu ms':>9}{'MB/s real':>11}{'MB/s cpu':>10}{'x kseq real':>13}{'x kseq cpu':>12}")
for fmt in ("fastq", "fasta"):
    peer = med.get(f"kseq/{fmt}")
    for kind in ("next", "next-detect", "batch", "kseq"):
        b = med.get(f"{kind}/{fmt}")
        if not b:
            continue
        mb = size[fmt] / 1e6
        real, cpu = b["real_time"], b["cpu_time"]
        ratio = (f"{peer['real_time'] / real:13.2f}{peer['cpu_time'] / cpu:12.2f}" if peer else "")
        print(f"{kind + '/' + fmt:<18}{real:9.0f}{cpu:9.0f}{mb / real * 1e3:11.0f}{mb / cpu * 1e3:10.0f}{ratio}")
        name = "kseq.h (peer)" if kind == "kseq" else kind
        figures.write(f"big.{fmt} (MB/s of CPU time)\t{name}\t{mb / cpu * 1e3:.0f}\n")
PY
rm -f "$out"
