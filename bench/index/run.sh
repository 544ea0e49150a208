#!/usr/bin/env bash
# Minimizer extraction and index building, with Debian's minimap2 as the
# peer for index building.
# Usage: bench/index/run.sh [repeats] [reference.fa]   (folders: bench/common.sh)
#   repeats      whole-process runs of each builder (default 7; medians)
#   reference.fa default $BENCH_DATA/P/ref.fa (E. coli K-12, 4.64 Mb)
set -euo pipefail
. "$(dirname "$0")/../common.sh"
repeats=${1:-7}
ref=${2:-$BENCH_DATA/P/ref.fa}
k=15
w=10

bench_prepare
build_bench bench_index
figures_reset index
bench=$BENCH_BUILD/bench/index/bench_index
machine_line
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
python3 - "$tmp" "$BENCH_OUT/index.tsv" <<'PY'
import statistics, sys
def load(name):
    rows = [list(map(float, l.split())) for l in open(f"{sys.argv[1]}/{name}") if l.strip()]
    wall = statistics.median(r[0] for r in rows)
    cpu = statistics.median(r[1] + r[2] for r in rows)
    rss = statistics.median(r[3] for r in rows) / 1024
    return wall, cpu, rss
e = load("engine")
figures = open(sys.argv[2], "a")
print(f"{'builder':34s} {'wall s':>8s} {'cpu s':>8s} {'peak MB':>8s}")
for label, name in [("engine (bench_index --build)", "engine"),
                    ("minimap2 -d (default threads)", "mm2"),
                    ("minimap2 -t1 -d", "mm2t1")]:
    r = load(name)
    name = label.split(" (")[0] + ("" if name == "engine" else " (peer)")
    figures.write(f"wall s\t{name}\t{r[0]:.3f}\ncpu s\t{name}\t{r[1]:.3f}\n")
    print(f"{label:34s} {r[0]:8.3f} {r[1]:8.3f} {r[2]:8.1f}   "
          f"peer/engine wall {r[0] / e[0]:.2f}x cpu {r[1] / e[1]:.2f}x")
PY
