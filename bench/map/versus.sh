#!/usr/bin/env bash
# Two builds of `bioeng map` (before and after a change) against minimap2 in
# one run, interleaved, at 2 threads: short reads against
# `minimap2 -x sr -c`, long reads against `minimap2 -c`. Reports the median
# wall and CPU seconds of REPEATS runs, reads/s ratios to minimap2, and
# whether the two builds wrote the same PAF bytes.
#
#   bench/map/versus.sh BEFORE_BIOENG AFTER_BIOENG [REPEATS]
set -euo pipefail
BEFORE=$1
AFTER=$2
REPEATS=${3:-3}
DATA=${BENCH_DATA:-$(cd "$(dirname "$0")/.." && pwd)/data}
REF=$DATA/P/ref.fa
OUT=$(mktemp -d /tmp/bench-versus.XXXX)
trap 'rm -rf "$OUT"' EXIT

# Appends "wall cpu" of one run to $OUT/<label>.times; PAF to $OUT/<label>.paf
run() {
  local label=$1
  shift
  /usr/bin/time -o "$OUT/t" -f "%e %U %S" "$@" > "$OUT/$label.paf" 2>/dev/null
  awk '{print $1, $2 + $3}' "$OUT/t" >> "$OUT/$label.times"
}
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "# $(date -u +%FT%TZ) $(nproc) cores; load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# $(minimap2 --version | sed 's/^/minimap2 /'); $REPEATS runs each, interleaved, -t 2, k 15 w 10"
printf "%-6s %-8s %8s %8s %12s %12s\n" reads tool wall_s cpu_s "wall vs mm2" "cpu vs mm2"
for reads in short long; do
  fq=$DATA/P/$reads.fq
  preset=()
  [[ $reads == short ]] && preset=(-x sr)
  for ((r = 0; r < REPEATS; r++)); do
    run "$reads-before" "$BEFORE" map -t 2 -k 15 -w 10 "$REF" "$fq"
    run "$reads-after" "$AFTER" map -t 2 -k 15 -w 10 "$REF" "$fq"
    run "$reads-mm2" minimap2 "${preset[@]}" -c -t 2 -k 15 -w 10 "$REF" "$fq"
  done
  mm_wall=$(cut -d' ' -f1 "$OUT/$reads-mm2.times" | median)
  mm_cpu=$(cut -d' ' -f2 "$OUT/$reads-mm2.times" | median)
  for tool in before after mm2; do
    wall=$(cut -d' ' -f1 "$OUT/$reads-$tool.times" | median)
    cpu=$(cut -d' ' -f2 "$OUT/$reads-$tool.times" | median)
    printf "%-6s %-8s %8.2f %8.2f %11.2fx %11.2fx\n" "$reads" "$tool" "$wall" "$cpu" \
      "$(echo "$mm_wall / $wall" | bc -l)" "$(echo "$mm_cpu / $cpu" | bc -l)"
  done
  if cmp -s "$OUT/$reads-before.paf" "$OUT/$reads-after.paf"; then
    echo "# $reads: before and after wrote identical PAF ($(wc -l < "$OUT/$reads-after.paf") lines)"
  else
    echo "# $reads: PAF DIFFERS between before and after"
  fi
done
echo "# load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
