# Shared by the benchmark scripts (source it): folders, set-up, the Release
# build of benchmark targets, the machine line and the figures for the
# pictures. Every folder can be changed through the environment:
#   BENCH_DATA   benchmark data (default bench/data, made by bench/make-data.sh)
#   BENCH_BUILD  build folder (default build-bench)
#   BENCH_OUT    tables and figures of the last run (default bench/out)
BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_DATA=${BENCH_DATA:-$BENCH_ROOT/bench/data}
BENCH_BUILD=${BENCH_BUILD:-$BENCH_ROOT/build-bench}
BENCH_OUT=${BENCH_OUT:-$BENCH_ROOT/bench/out}
export BENCH_DATA BENCH_BUILD BENCH_OUT
# Debian's interpreter, which has Debian's matplotlib (another python3 may
# come first on the PATH).
BENCH_PYTHON=${BENCH_PYTHON:-/usr/bin/python3}

# Peers, simulators and plotting from Debian, then the data (made once).
bench_prepare() {
  "$BENCH_ROOT/scripts/setup.sh" bench
  [ -s "$BENCH_DATA/MANIFEST.tsv" ] || "$BENCH_ROOT/bench/make-data.sh" "$BENCH_DATA"
  mkdir -p "$BENCH_OUT"
}

# build_bench TARGET...: builds the targets in one Release build with the
# benchmarks and the tool, without the tests.
build_bench() {
  cmake -S "$BENCH_ROOT" -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DENGINE_BUILD_BENCH=ON -DENGINE_BUILD_TESTS=OFF -DENGINE_BUILD_TOOLS=ON >/dev/null
  cmake --build "$BENCH_BUILD" --target "$@" >/dev/null
}

machine_line() {
  echo "# $(date -u +%FT%TZ), $(nproc) cores,$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-), load $(cut -d' ' -f1-3 /proc/loadavg)"
}

# figure GROUP PANEL LABEL VALUE: one bar of the group's picture (see
# bench/plot.py); a label ending in "(peer)" is drawn as the peer.
figure() {
  printf '%s\t%s\t%s\n' "$2" "$3" "$4" >>"$BENCH_OUT/$1.tsv"
}
# Starts the group's figures afresh.
figures_reset() { mkdir -p "$BENCH_OUT"; : >"$BENCH_OUT/$1.tsv"; }
