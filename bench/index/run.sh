#!/usr/bin/env bash
# Minimizer extraction and index building, with Debian's minimap2 as the
# peer for index building.
# Usage: bench/index/run.sh [repeats] [reference.fa]
#   repeats      whole-process runs of each builder (default 7; medians)
#   reference.fa default /work/bench-data/P/ref.fa (E. coli K-12, 4.64 Mb)
# Installs minimap2 here only: the library never needs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-index-bench}
repeats=${1:-7}
ref=${2:-/work/bench-data/P/ref.fa}
k=15
w=10

if ! command -v minimap2 >/dev/null 2>&1; then
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo=sudo
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq minimap2
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DENGINE_BUILD_BENCH=ON -DENGINE_BUILD_TESTS=OFF -DENGINE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target bench_index >/dev/null
bench=$build/bench/index/bench_index
echo "# $(date -u +%FT%TZ) $(nproc) cores,$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-)"
echo "# load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# reference: $ref, k=$k w=$w; minimap2 $(minimap2 --version)"

echo "## In-process figures (medians of 5; items = bases)"
BENCH_REF=$ref "$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  2>/dev/null | grep -E '^(Benchmark|BM_.*_median)'

echo "## Whole process: read the FASTA and build the index (alternating runs)"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for ((i = 0; i < repeats; ++i)); do
  /usr/bin/time -f "%e %U %S %M" -a -o "$tmp/engine" "$bench" --build "$ref" $k $w >/dev/null
  /usr/bin/time -f "%e %U %S %M" -a -o "$tmp/mm2" minimap2 -k$k -w$w -d "$tmp/ref.mmi" "$ref" 2>/dev/null
  /usr/bin/time -f "%e %U %S %M" -a -o "$tmp/mm2t1" minimap2 -t1 -k$k -w$w -d "$tmp/ref.mmi" "$ref" 2>/dev/null
done
python3 - "$tmp" <<'PY'
import statistics, sys
def load(name):
    rows = [list(map(float, l.split())) for l in open(f"{sys.argv[1]}/{name}") if l.strip()]
    wall = statistics.median(r[0] for r in rows)
    cpu = statistics.median(r[1] + r[2] for r in rows)
    rss = statistics.median(r[3] for r in rows) / 1024
    return wall, cpu, rss
e = load("engine")
print(f"{'builder':34s} {'wall s':>8s} {'cpu s':>8s} {'peak MB':>8s}")
for label, name in [("engine (bench_index --build)", "engine"),
                    ("minimap2 -d (default threads)", "mm2"),
                    ("minimap2 -t1 -d", "mm2t1")]:
    r = load(name)
    print(f"{label:34s} {r[0]:8.3f} {r[1]:8.3f} {r[2]:8.1f}   "
          f"peer/engine wall {r[0] / e[0]:.2f}x cpu {r[1] / e[1]:.2f}x")
PY
