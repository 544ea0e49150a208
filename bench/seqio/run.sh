#!/usr/bin/env bash
# Throughput of bio_parser_next and bio_parser_next_batch against a kseq.h
# peer (Debian libhts-dev, installed here only), all in one benchmark run.
# Usage: bench/seqio/run.sh [repetitions]
# Data: $READER_BENCH_FASTQ / $READER_BENCH_FASTA, else the shared bench data
# in /work/bench-data/parse, else ~300 MB files generated under /tmp.
set -euo pipefail
cd "$(dirname "$0")/../.."
REPS=${1:-7}
B=${BUILD_DIR:-build-bench-seqio}

if [ ! -f /usr/include/htslib/kseq.h ]; then
  apt-get install -y libhts-dev >/dev/null || { apt-get update >/dev/null && apt-get install -y libhts-dev >/dev/null; }
fi

FASTQ=${READER_BENCH_FASTQ:-/work/bench-data/parse/big.fastq}
FASTA=${READER_BENCH_FASTA:-/work/bench-data/parse/big.fasta}
if [ ! -s "$FASTQ" ] || [ ! -s "$FASTA" ]; then
  FASTQ=/tmp/reader-bench/big.fastq FASTA=/tmp/reader-bench/big.fasta
  if [ ! -s "$FASTQ" ] || [ ! -s "$FASTA" ]; then
    mkdir -p /tmp/reader-bench
    python3 bench/seqio/make_reader_data.py /tmp/reader-bench 300
  fi
fi
export READER_BENCH_FASTQ=$FASTQ READER_BENCH_FASTA=$FASTA

cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DENGINE_BUILD_BENCH=ON \
  -DENGINE_BUILD_TESTS=OFF -DENGINE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$B" --target reader_bench kseq_count >/dev/null

cat "$FASTQ" "$FASTA" >/dev/null  # into the page cache
out=$(mktemp)
"$B"/bench/seqio/reader_bench --benchmark_repetitions="$REPS" --benchmark_min_time=0.01 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json >/dev/null 2>&1
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$out" "$FASTQ" "$FASTA" <<'PY'
import json, os, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
med = {b["run_name"].replace("/real_time", ""): b for b in runs if b.get("aggregate_name") == "median"}
size = {"fastq": os.path.getsize(sys.argv[2]), "fasta": os.path.getsize(sys.argv[3])}
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
PY
rm -f "$out"
