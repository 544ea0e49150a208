#!/usr/bin/env bash
# Runs one fuzz target, or all of them one after another, for a chosen time
# from the committed seed corpora, then reports the speed and the longest
# input in the grown corpus. The grown corpora stay in $FUZZ_WORK
# (default build-fuzz/corpus) for later runs; crashes land in the current
# directory as crash-*.
# Usage: fuzz-run.sh TARGET|all SECONDS [libFuzzer args...]
set -euo pipefail
source "$(dirname "$0")/fuzz-common.sh"
[ $# -ge 2 ] || { echo "usage: $0 TARGET|all SECONDS [libFuzzer args...]" >&2; exit 2; }
which=$1 seconds=$2
shift 2
[ -n "${FUZZ_NO_BUILD:-}" ] || fuzz_build  # set when runs go on side by side
targets=$(fuzz_targets)
[ "$which" = all ] || targets=$which
WORK=${FUZZ_WORK:-$FUZZ_BUILD/corpus}
for name in $targets; do
  mkdir -p "$WORK/$name"
  log=$WORK/$name.log
  echo "--- fuzz_$name (${seconds}s), log $log"
  status=0
  # CPU time beside wall time: on a shared machine execs per CPU second is
  # the figure that compares across runs.
  TIMEFORMAT="%R %U %S"
  { time fuzz_run "$name" "$seconds" "$WORK/$name" "$@" >"$log" 2>&1; } 2>"$WORK/$name.time" || status=$?
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
  awk -v runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")" \
    '{ printf "wall %.0f s, cpu %.0f s, execs per cpu second %.0f\n", $1, $2 + $3, runs / ($2 + $3 + 1e-9) }' \
    "$WORK/$name.time"
  longest=$(find "$WORK/$name" -type f -printf '%s\n' | sort -n | tail -1)
  echo "longest input in corpus: ${longest:-0} bytes"
  if [ "$status" -ne 0 ]; then tail -40 "$log"; exit "$status"; fi
done
