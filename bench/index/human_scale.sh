#!/usr/bin/env bash
# Index building and mapping at human scale: a synthetic genome of BASES
# (default 1 Gb: random sequence, 24 chromosomes, ~45% planted repeats with
# copy numbers 2 to 4096, runs of N; fixed seed) and reads sampled from it.
# Records wall time and peak RSS (/usr/bin/time -v) of the library's index
# build (bench_index --build) against `minimap2 -d` with the same k/w at 2
# threads, then maps the reads with `bioeng map -t 2` against minimap2
# (-x sr -c for the short reads, -c for the long ones), and projects the
# figures to 3.1 Gb.
#
#   bench/index/human_scale.sh [BASES] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bases=${1:-1000000000}
work=${2:-/tmp/human-scale}
build=${BUILD_DIR:-$root/build-human-scale}
k=15
w=10
mkdir -p "$work"

# A given build directory keeps its settings; it needs the benchmarks on.
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DENGINE_BUILD_BENCH=ON -DENGINE_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target bench_index make_synthetic_ref bioeng >/dev/null
ref=$work/synthetic.fa
if [[ ! -s $ref ]]; then
  "$build/bench/index/make_synthetic_ref" "$ref" "$bases" "$work/short.fq" 20000 \
    "$work/long.fq" 1000
fi

echo "# $(date -u +%FT%TZ) $(nproc) cores,$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-)"
echo "# $(free -g | awk '/Mem:/ {print $2}') GB memory; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# reference: $ref ($(stat -c %s "$ref") bytes), k=$k w=$w; minimap2 $(minimap2 --version)"

# label command...: wall seconds, CPU seconds and peak RSS in MB from time -v
measure() {
  local label=$1
  shift
  /usr/bin/time -v "$@" > "$work/$label.out" 2> "$work/$label.time"
  awk -v label="$label" -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = (n == 3) ? t[1] * 3600 + t[2] * 60 + t[3] : t[1] * 60 + t[2] }
    /User time/ { cpu += $2 } /System time/ { cpu += $2 }
    /Maximum resident/ { rss = $2 / 1024 }
    END { printf "%-28s wall %8.1f s  cpu %8.1f s  peak RSS %8.0f MB\n", label, wall, cpu, rss }' "$work/$label.time"
}

echo "## Index build"
measure "engine build (bench_index)" "$build/bench/index/bench_index" --build "$ref" $k $w
cat "$work/engine build (bench_index).out"
measure "minimap2 -d -t 2" minimap2 -t 2 -k $k -w $w -d "$work/ref.mmi" "$ref"

echo "## Mapping (index build included)"
measure "bioeng map short" "$build/tools/bioeng" map -t 2 -k $k -w $w "$ref" "$work/short.fq"
measure "minimap2 -x sr -c short" minimap2 -x sr -c -t 2 -k $k -w $w "$ref" "$work/short.fq"
measure "bioeng map long" "$build/tools/bioeng" map -t 2 -k $k -w $w "$ref" "$work/long.fq"
measure "minimap2 -c long" minimap2 -c -t 2 -k $k -w $w "$ref" "$work/long.fq"
