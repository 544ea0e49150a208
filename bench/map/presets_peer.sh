#!/usr/bin/env bash
# Each preset of `bioeng map -x` against the same preset of Debian's
# minimap2 (with base-level alignment, -c), in the same run, on the data
# of bench/make-data.sh set P: map-pb and map-ont on the long
# (pbsim CLR) reads, sr on the short (ART 150 bp) reads. One thread;
# REPEATS runs each (default 3), least CPU time (user + system) shown.
#
#   bench/map/presets_peer.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${1:-build}
REPEATS=${REPEATS:-3}
DATA=${BENCH_DATA:-bench/data}
EVAL=bench/eval_paf.py
REF=$DATA/P/ref.fa
OUT=$(mktemp -d /tmp/bench-presets-peer.XXXX)
trap 'rm -rf "$OUT"' EXIT

run() { # label reads command...
  local label=$1 reads=$2
  shift 2
  : > "$OUT/times"
  for ((r = 0; r < REPEATS; r++)); do
    /usr/bin/time -o "$OUT/time" -f "%M %U %S" "$@" "$REF" "$DATA/P/$reads.fq" \
      > "$OUT/out.paf" 2> "$OUT/err" || { cat "$OUT/err" >&2; exit 1; }
    cat "$OUT/time" >> "$OUT/times"
  done
  local acc
  acc=$(python3 "$EVAL" "$DATA/P/$reads.truth.tsv" "$OUT/out.paf" --tsv | cut -f3-6 | tr '\t' ' ')
  awk '{print $1, $2 + $3}' "$OUT/times" | sort -k2,2g | head -1 |
    awk -v l="$label" -v r="$reads" -v a="$acc" '{printf "%-22s %-6s %7.2f %6.0f  %s\n", l, r, $2, $1 / 1024, a}'
}

echo "# $(date -u +%FT%TZ) $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg); bioeng $(git rev-parse --short HEAD); $(minimap2 --version | sed 's/^/minimap2 /')"
echo "# tool/preset  reads  cpu_s  peak_MB  mapped correct q10 q10_prec"
for preset in map-pb map-ont; do
  run "bioeng -x $preset" long "$BUILD/tools/bioeng" map -t 1 -x $preset
  run "minimap2 -x $preset -c" long minimap2 -t 1 -x $preset -c
done
run "bioeng -x sr" short "$BUILD/tools/bioeng" map -t 1 -x sr
run "minimap2 -x sr -c" short minimap2 -t 1 -x sr -c
