#!/usr/bin/env bash
# The measurements behind the presets of `bioeng map -x` (bench/map/PRESETS.md):
# a grid of k, w, minimum chain score and hits per read on the long (pbsim CLR,
# standing in for map-pb and map-ont) and short (ART 150 bp, sr) reads of
# bench/make-data.sh set P, with accuracy from eval_paf.py and CPU
# seconds (user + system) from /usr/bin/time, one thread.
#
#   bench/map/presets.sh [BUILD_DIR] [long|noisy|noisier12|short|all]
#
# Each configuration runs REPEATS times (default 3); the line shows the least
# CPU time of the runs (the machine is shared: the least is the one other
# jobs disturbed least), the peak memory, then eval_paf.py's fractions
# (mapped, correct, q10, q10 precision) and the PAF lines per read.
# "noisy" and "noisier12" are the first 1000 long reads with 6 % and 12 %
# extra errors (bench/map/add_errors.py), stand-ins for noisier nanopore
# reads.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${1:-build}
WHICH=${2:-all}
REPEATS=${REPEATS:-3}
DATA=${BENCH_DATA:-bench/data}
BIOENG=$BUILD/tools/bioeng
EVAL=bench/eval_paf.py
REF=$DATA/P/ref.fa
OUT=$(mktemp -d /tmp/bench-presets.XXXX)
trap 'rm -rf "$OUT"' EXIT

# The noisy stand-ins: the first 1000 long reads with 6 % and 12 % more errors.
head -4000 "$DATA/P/long.fq" | python3 bench/map/add_errors.py 0.06 17 > "$OUT/noisy.fq"
head -4000 "$DATA/P/long.fq" | python3 bench/map/add_errors.py 0.12 17 > "$OUT/noisier12.fq"

reads_file() { [[ $1 == noisy* ]] && echo "$OUT/$1.fq" || echo "$DATA/P/$1.fq"; }
truth_file() { [[ $1 == noisy* ]] && echo "$DATA/P/long.truth.tsv" || echo "$DATA/P/$1.truth.tsv"; }

run() { # reads options...
  local reads=$1
  shift
  : > "$OUT/times"
  for ((r = 0; r < REPEATS; r++)); do
    /usr/bin/time -o "$OUT/time" -f "%M %U %S" "$BIOENG" map -t 1 "$@" "$REF" "$(reads_file "$reads")" \
      > "$OUT/out.paf" 2> "$OUT/err" || { cat "$OUT/err" >&2; exit 1; }
    cat "$OUT/time" >> "$OUT/times"
  done
  local acc lines n
  acc=$(python3 "$EVAL" "$(truth_file "$reads")" "$OUT/out.paf" --tsv | cut -f3-6 | tr '\t' ' ')
  lines=$(wc -l < "$OUT/out.paf")
  n=$(awk 'END {print NR / 4}' "$(reads_file "$reads")")
  sort -k2,2g "$OUT/times" | awk '{print $1, $2 + $3}' | sort -k2,2g | head -1 |
    awk -v r="$reads" -v o="$*" -v a="$acc" -v l="$lines" -v n="$n" \
    '{printf "%-6s %-34s %7.2f %6.0f  %s %.2f\n", r, o, $2, $1 / 1024, a, l / n}'
}

echo "# $(date -u +%FT%TZ) $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg); bioeng $(git rev-parse --short HEAD)"
echo "# reads  options  cpu_s  peak_MB  mapped correct q10 q10_prec  lines/read"
for set in long noisy; do
  [[ $WHICH == "$set" || $WHICH == all ]] || continue
  for kw in "13 10" "15 10" "15 15" "17 10" "17 15" "19 10" "19 15"; do
    set -- $kw
    run $set -k "$1" -w "$2"
  done
  for s in 20 80 200; do run $set -k 15 -w 10 --min-score "$s"; done
  run $set -k 17 -w 10 --max-occ 200
  run $set -k 17 -w 10 --secondary-ratio 0.5
done
if [[ $WHICH == noisier12 || $WHICH == all ]]; then
  for kw in "13 10" "15 10" "15 15" "17 10" "17 15" "19 15"; do
    set -- $kw
    run noisier12 -k "$1" -w "$2"
  done
fi
if [[ $WHICH == short || $WHICH == all ]]; then
  for kw in "15 10" "17 10" "19 10" "21 11" "19 6" "17 6" "15 5"; do
    set -- $kw
    run short -k "$1" -w "$2"
  done
  for s in 20 30 60; do run short -k 19 -w 10 --min-score "$s"; done
  run short -k 19 -w 10 --max-occ 200
  run short -k 19 -w 10 --secondary-ratio 0.5
  run short -k 19 -w 10 --secondary-ratio 0.95
fi
