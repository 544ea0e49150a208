#!/usr/bin/env bash
# Sound alignments of `bioeng map` against minimap2 in the same run (short
# reads also with -x sr, the preset minimap2 -x sr is compared with):
# base-level quality against the simulation's truth (alignment_quality.py),
# mapping accuracy (eval_paf.py), samtools stats error rate of short reads,
# and speed with 2 threads (median of REPEATS runs, wall and CPU seconds).
#
#   bench/map/realign.sh [BUILD_DIR] [REPEATS]
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${1:-build}
REPEATS=${2:-3}
DATA=${BENCH_DATA:-bench/data}
BIOENG=$BUILD/tools/bioeng
REF=$DATA/P/ref.fa
HERE=bench/map
[[ -x $BIOENG ]] || { echo "build $BIOENG first" >&2; exit 1; }
OUT=$(mktemp -d /tmp/bench-realign.XXXX)
trap 'rm -rf "$OUT"' EXIT

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# label output-file command...: REPEATS runs, interleaved by the caller;
# appends "wall cpu" to $OUT/label.times
run() {
  local label=$1 out=$2
  shift 2
  /usr/bin/time -o "$OUT/time" -f "%e %U %S" "$@" > "$out" 2> "$OUT/stderr" ||
    { cat "$OUT/stderr" >&2; exit 1; }
  awk '{print $1, $2 + $3}' "$OUT/time" >> "$OUT/$label.times"
}

report_speed() {
  local label=$1 n=$2
  local wall cpu
  wall=$(cut -d' ' -f1 "$OUT/$label.times" | median)
  cpu=$(cut -d' ' -f2 "$OUT/$label.times" | median)
  echo "| $label | $wall | $cpu | $(awk -v n="$n" -v w="$wall" 'BEGIN {printf "%.0f", n / w}') |"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for set in long short; do
  reads=$DATA/P/$set.fq
  n=$(awk 'END {print NR / 4}' "$reads")
  sr=(); [[ $set == short ]] && sr=(-x sr)
  for ((r = 0; r < REPEATS; r++)); do
    run "bioeng-$set" "$OUT/bioeng-$set.paf" "$BIOENG" map -t 2 "$REF" "$reads"
    run "bioeng-raw-$set" "$OUT/raw-$set.paf" "$BIOENG" map -t 2 --raw-hits "$REF" "$reads"
    if [[ $set == short ]]; then
      run "bioeng-sr-$set" "$OUT/bioeng-sr-$set.paf" "$BIOENG" map -x sr -t 2 "$REF" "$reads"
      run "bioeng-sr-raw-$set" "$OUT/sr-raw-$set.paf" "$BIOENG" map -x sr -t 2 --raw-hits "$REF" "$reads"
    fi
    run "minimap2-$set" "$OUT/mm2-$set.paf" minimap2 -c -t 2 -k 15 -w 10 "$REF" "$reads"
    [[ $set == short ]] &&
      run "minimap2-sr-$set" "$OUT/mm2sr-$set.paf" minimap2 -x sr -c -t 2 "$REF" "$reads"
  done
  echo "## $set reads ($n), -t 2, median of $REPEATS"
  echo "| tool | wall s | CPU s | reads/s |"
  echo "|---|---|---|---|"
  for label in bioeng-$set bioeng-raw-$set bioeng-sr-$set bioeng-sr-raw-$set minimap2-$set minimap2-sr-$set; do
    [[ -s $OUT/$label.times ]] && report_speed "$label" "$n"
  done
  for f in bioeng-$set raw-$set bioeng-sr-$set mm2-$set mm2sr-$set; do
    [[ -s $OUT/$f.paf ]] || continue
    python3 $HERE/alignment_quality.py "$DATA/P/$set.truth.tsv" "$OUT/$f.paf" --label "$f"
    python3 bench/eval_paf.py "$DATA/P/$set.truth.tsv" "$OUT/$f.paf" | tail -1
  done
done

# samtools stats error rate (mismatches and indels per aligned base) of the
# short reads.
"$BIOENG" map -a -t 2 "$REF" "$DATA/P/short.fq" > "$OUT/bioeng.sam"
minimap2 -a -x sr -t 2 "$REF" "$DATA/P/short.fq" > "$OUT/mm2sr.sam" 2> /dev/null
for f in bioeng mm2sr; do
  echo "$f samtools stats: $(samtools stats "$OUT/$f.sam" | grep -E '^SN\s+error rate' | cut -f3)"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
