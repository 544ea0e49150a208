#!/usr/bin/env bash
# Plain vs compressed input for the bioeng tool, and the decompressor choice.
#   bench/tools/run.sh        (folders: bench/common.sh; REPEATS, default 3)
# Builds bioeng and the decompression micro-benchmark, makes gzip and BGZF
# copies of the big FASTQ and the short reads once (in $BENCH_DATA/tools),
# and prints median wall and CPU seconds (of REPEATS runs) and peak RSS.
# Peers measured in the same run: gzip -dc (zlib's own tool) and seqkit stats.
set -euo pipefail
. "$(dirname "$0")/../common.sh"
cd "$BENCH_ROOT"
DATA=$BENCH_DATA
REPEATS=${REPEATS:-3}
W=$DATA/tools
mkdir -p "$W"

bench_prepare
build_bench bioeng bench_tools_decompress
figures_reset tools
BIOENG=$BENCH_BUILD/tools/bioeng
DEC=$BENCH_BUILD/bench/tools/bench_tools_decompress

compress_copies() { # $1 = plain file
  local f=$1 base
  base=$W/$(basename "$1")
  [ -s "$base.gz" ] || { gzip -1 -c "$f" >"$base.gz.tmp" && mv "$base.gz.tmp" "$base.gz"; }
  [ -s "$base.bgz" ] || /usr/bin/python3 -c "import sys; sys.path.insert(0, 'tests/tools'); import tool_checks as t; t.write_bgzf(open(sys.argv[1], 'rb').read(), sys.argv[2])" "$f" "$base.bgz"
}
compress_copies "$DATA/parse/big.fastq"
compress_copies "$DATA/P/short.fq"

# Median wall seconds, median CPU seconds (user + system; steadier than wall
# time on a shared machine) and peak RSS (MB) of a command, output discarded.
measure() {
  local label=$1; shift
  local walls=() cpus=() rss=0
  for _ in $(seq "$REPEATS"); do
    /usr/bin/time -f "%e %U %S %M" -o /tmp/bench-tools-time "$@" >/dev/null
    read -r t u s m </tmp/bench-tools-time
    walls+=("$t"); cpus+=("$(echo "$u + $s" | bc)"); rss=$m
  done
  median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
  printf '%-42s wall %7.2f s  cpu %7.2f s  rss %6d MB\n' "$label" "$(median "${walls[@]}")" \
    "$(median "${cpus[@]}")" "$((rss / 1024))"
  [ -z "$PANEL" ] || figure tools "$PANEL" "${label/ plain/}" "$(median "${cpus[@]}")"
}

machine_line
PANEL=""
echo "== decompression of big.fastq.gz ($(du -h "$W/big.fastq.gz" | cut -f1)) into memory"
"$DEC" "$W/big.fastq.gz" zlib "$REPEATS"
"$DEC" "$W/big.fastq.gz" libdeflate "$REPEATS"
measure "gzip -dc (peer)" gzip -dc "$W/big.fastq.gz"
echo "== decompression of big.fastq.bgz ($(du -h "$W/big.fastq.bgz" | cut -f1)), block by block"
"$DEC" "$W/big.fastq.bgz" bgzf-zlib "$REPEATS"
"$DEC" "$W/big.fastq.bgz" bgzf-libdeflate "$REPEATS"

echo "== stats on big.fastq (1 GB), 2 threads"
PANEL="stats, 1 GB FASTQ (CPU s)"
measure "bioeng stats plain" "$BIOENG" stats -t 2 "$DATA/parse/big.fastq"
measure "bioeng stats gzip (zlib stream)" "$BIOENG" stats -t 2 "$W/big.fastq.gz"
measure "bioeng stats bgzf (libdeflate blocks)" "$BIOENG" stats -t 2 "$W/big.fastq.bgz"
measure "seqkit stats plain (peer)" seqkit stats -j 2 "$DATA/parse/big.fastq"
measure "seqkit stats gzip (peer)" seqkit stats -j 2 "$W/big.fastq.gz"

echo "== map short reads to the E. coli reference, 2 threads"
PANEL="map short reads (CPU s)"
measure "bioeng map plain" "$BIOENG" map -t 2 "$DATA/P/ref.fa" "$DATA/P/short.fq"
measure "bioeng map gzip" "$BIOENG" map -t 2 "$DATA/P/ref.fa" "$W/short.fq.gz"
measure "bioeng map bgzf" "$BIOENG" map -t 2 "$DATA/P/ref.fa" "$W/short.fq.bgz"
cmp <("$BIOENG" map -t 2 "$DATA/P/ref.fa" "$DATA/P/short.fq") \
    <("$BIOENG" map -t 2 "$DATA/P/ref.fa" "$W/short.fq.gz") && echo "map output identical for plain and gzip"
