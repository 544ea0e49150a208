#!/usr/bin/env bash
# Runs benchmark groups, each measuring the library against its peers in the
# same run, and rewrites their sections of bench/RESULTS.md: the table, the
# machine and its load during the run, and a picture (bench/img/GROUP.png).
#   bench/run.sh [group...]   groups: parse seqio align simd index map tools
#                             (default: all of them)
# Installs what is missing (scripts/setup.sh bench), makes the data once
# (bench/make-data.sh) and builds what each group needs. Folders: BENCH_DATA,
# BENCH_BUILD, BENCH_OUT (see bench/common.sh).
set -euo pipefail
. "$(dirname "$0")/common.sh"
ALL=(parse seqio align simd index map tools)
groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=("${ALL[@]}")
for g in "${groups[@]}"; do
  [[ " ${ALL[*]} " == *" $g "* ]] || { echo "unknown group '$g' (${ALL[*]})" >&2; exit 2; }
done

title() {
  case $1 in
    parse) echo "In-memory parser vs streaming reader and kseq.h" ;;
    seqio) echo "Streaming readers vs kseq.h" ;;
    align) echo "Full-matrix and banded aligners vs parasail" ;;
    simd) echo "Vectorised banded kernels vs parasail" ;;
    index) echo "Minimizer index build vs minimap2" ;;
    map) echo "Read mapping vs minimap2" ;;
    tools) echo "bioeng input (plain, gzip, BGZF) vs seqkit" ;;
  esac
}

# Relative names in what goes into the repository: no folder of this machine.
scrub() { sed -e "s|$BENCH_DATA|\$BENCH_DATA|g" -e "s|$BENCH_BUILD|\$BENCH_BUILD|g" -e "s|$BENCH_ROOT/||g"; }

# Mean and peak of the 1-minute load average sampled every 5 s during a run.
load_sampler() { while :; do cut -d' ' -f1 /proc/loadavg; sleep 5; done; }
load_summary() { awk '{s += $1; if ($1 > m) m = $1} END {printf "mean %.1f, peak %.1f", s / NR, m}' "$1"; }

bench_prepare
mkdir -p "$BENCH_ROOT/bench/img"
for g in "${groups[@]}"; do
  echo "=== $g" >&2
  load_sampler >"$BENCH_OUT/$g.load" &
  sampler=$!
  trap 'kill "$sampler" 2>/dev/null' EXIT
  /usr/bin/time -f "%e %U %S" -o "$BENCH_OUT/$g.time" bash "$BENCH_ROOT/bench/$g/run.sh" |
    tee "$BENCH_OUT/$g.report.txt"
  kill "$sampler"
  read -r wall user sys <"$BENCH_OUT/$g.time"
  picture=""
  if [ -s "$BENCH_OUT/$g.tsv" ]; then
    "$BENCH_PYTHON" "$BENCH_ROOT/bench/plot.py" "$BENCH_OUT/$g.tsv" "$BENCH_ROOT/bench/img/$g.png" "$(title "$g")"
    picture="![$g](img/$g.png)"
  fi
  {
    echo "## $g: $(title "$g")"
    echo
    echo "\`bench/run.sh $g\` at commit $(git -C "$BENCH_ROOT" rev-parse --short HEAD)$(git -C "$BENCH_ROOT" diff --quiet HEAD -- src include || echo ' with local changes'), $(date -u '+%F %H:%M') UTC;"
    echo "$(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | xargs)), shared with other work:"
    echo "load average during the run $(load_summary "$BENCH_OUT/$g.load")."
    echo "The whole group (build included) took $wall s wall, $(echo "$user + $sys" | bc) s CPU."
    echo "Peers run in the same process or the same script run; compare ratios, not absolute times."
    echo
    [ -z "$picture" ] || { echo "$picture"; echo; }
    echo '```'
    scrub <"$BENCH_OUT/$g.report.txt"
    echo '```'
    echo
    echo "How to read it and the choices it supports: [$g/RESULTS.md]($g/RESULTS.md)."
  } >"$BENCH_OUT/$g.section.md"
  "$BENCH_PYTHON" "$BENCH_ROOT/bench/results.py" "$BENCH_ROOT/bench/RESULTS.md" "$g" "$BENCH_OUT/$g.section.md"
done
