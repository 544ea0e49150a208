#!/usr/bin/env bash
# Read mapping throughput, peak memory and accuracy of `bioeng map` against
# Debian's minimap2 (same k and w; with and without base-level alignment,
# -c), all in the same run, on the simulated E. coli sets of
# bench/make-data.sh, accuracy from bench/eval_paf.py.
#
#   bench/map/run.sh [REPEATS]      (folders: bench/common.sh)
#
# Every configuration runs REPEATS times; the median wall time and the median
# CPU time (user + system, which is what a loaded shared machine distorts
# least) are reported.
# Reads per second are given over the whole run and over mapping alone (the
# run minus the median time of the same command on a single read, which is
# mostly reading the reference and building the index).
set -euo pipefail
. "$(dirname "$0")/../common.sh"
REPEATS=${1:-3}
DATA=$BENCH_DATA
BIOENG=$BENCH_BUILD/tools/bioeng
EVAL=$BENCH_ROOT/bench/eval_paf.py
REF=$DATA/P/ref.fa
K=15
W=10
bench_prepare
build_bench bioeng
figures_reset map

OUT=$(mktemp -d /tmp/bench-map.XXXX)
trap 'rm -rf "$OUT"' EXIT

# wall seconds, peak resident kB and CPU seconds (user + system) of one
# run; PAF in $OUT/last.paf
measure() {
  /usr/bin/time -o "$OUT/time" -f "%e %M %U %S" "$@" > "$OUT/last.paf" 2> "$OUT/stderr" ||
    { cat "$OUT/stderr" >&2; exit 1; }
  awk '{print $1, $2, $3 + $4}' "$OUT/time"
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# label reads threads command...
bench() {
  local label=$1 reads=$2 threads=$3
  shift 3
  local n one full mem cpu
  n=$(awk 'END {print NR / 4}' "$reads")
  head -4 "$reads" > "$OUT/one.fq"
  one=$(for ((r = 0; r < REPEATS; r++)); do measure "$@" "$REF" "$OUT/one.fq" | cut -d' ' -f1; done | median)
  : > "$OUT/walls"
  : > "$OUT/mems"
  : > "$OUT/cpus"
  for ((r = 0; r < REPEATS; r++)); do
    read -r wall kb cpu < <(measure "$@" "$REF" "$reads")
    echo "$wall" >> "$OUT/walls"
    echo "$kb" >> "$OUT/mems"
    echo "$cpu" >> "$OUT/cpus"
  done
  full=$(median < "$OUT/walls")
  cpu=$(median < "$OUT/cpus")
  mem=$(sort -g "$OUT/mems" | tail -1)
  local acc
  acc=$(python3 "$EVAL" "$DATA/P/$(basename "$reads" .fq).truth.tsv" "$OUT/last.paf" --tsv |
        cut -f3-6 | tr '\t' ' ')
  local set; set=$(basename "$reads" .fq)
  local name=$label; [ "$label" = bioeng ] || name="$label (peer)"
  figure map "$set reads, $threads thread(s): reads/s" "$name" "$(echo "$n / $full" | bc -l)"
  [ "$threads" -gt 1 ] || figure map "$set reads: primary correct" "$name" "$(cut -d' ' -f2 <<<"$acc")"
  printf "%-14s %-6s %2d  %8.2f %8.2f %8.2f %10.0f %10.0f %8.1f  %s\n" "$label" "$set" \
    "$threads" "$full" "$cpu" "$one" "$(echo "$n / $full" | bc -l)" \
    "$(echo "$n / ($full - $one)" | bc -l)" "$(echo "$mem / 1024" | bc -l)" "$acc"
}

machine_line
echo "# $(minimap2 --version | sed 's/^/minimap2 /'); bioeng at $(git -C "$BENCH_ROOT" rev-parse --short HEAD)"
echo "# accuracy: fractions of all reads mapped, primary correct, primary mapq>=10; precision at mapq>=10"
printf "%-14s %-6s %2s  %8s %8s %8s %10s %10s %8s  %s\n" tool reads thr wall_s cpu_s one_s reads/s map_reads/s peak_MB "mapped correct q10 q10_prec"
for reads in "$DATA/P/long.fq" "$DATA/P/short.fq"; do
  for t in 1 2; do
    bench bioeng "$reads" "$t" "$BIOENG" map -t "$t" -k $K -w $W
    bench minimap2-c "$reads" "$t" minimap2 -t "$t" -k $K -w $W -c
    bench minimap2 "$reads" "$t" minimap2 -t "$t" -k $K -w $W
  done
done
