# Shared by fuzz-smoke.sh and fuzz-run.sh (sourced, not run): building the
# libFuzzer targets and running one of them with its own settings.
#
# Settings per target:
#  - tool_input reads compressed files; -max_len reaches past two BGZF blocks
#    (2 x 65,536 bytes plus headers), where block-boundary faults live.
#  - parse_mem and map open OpenMP regions. The fuzz process has 2 threads
#    by default (OMP_NUM_THREADS overrides) and waits passively, so that
#    idle workers neither spin against the fuzzing loop nor each input
#    waits for many sleeping workers on a small machine.
#  - -len_control=0: inputs may grow at once, reaching several KiB within a
#    minute or two instead of hours (the default grows the limit only every
#    few thousand runs without new coverage, and these targets run at tens
#    to hundreds of inputs a second). The mapping and alignment targets,
#    whose cost grows with the input, stop at 16 KiB.
#  - OpenMP's runtime keeps thread state it never frees; fuzz-lsan.supp
#    silences a leak report naming it (libomp) and nothing else.

FUZZ_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FUZZ_BUILD=${BUILD_DIR:-$FUZZ_ROOT/build-fuzz}

fuzz_build() {
  CC=clang CXX=clang++ cmake -S "$FUZZ_ROOT" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DENGINE_FUZZ=ON -DENGINE_BUILD_TESTS=OFF -DENGINE_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$FUZZ_BUILD"
}

fuzz_targets() {
  local t n
  for t in "$FUZZ_BUILD"/tests/fuzz/fuzz_*; do
    n=$(basename "$t")
    [ -x "$t" ] && echo "${n#fuzz_}"
  done
}

# libFuzzer options of one target.
fuzz_options() {
  case "$1" in
    tool_input) echo "-max_len=140000 -len_control=0" ;;
    map | align) echo "-max_len=16384 -len_control=0" ;;
    *) echo "-max_len=65536 -len_control=0" ;;
  esac
}

# fuzz_run NAME SECONDS CORPUS_DIR [libFuzzer args...]: runs the target on
# CORPUS_DIR (which it grows) after loading the committed seeds.
fuzz_run() {
  local name=$1 seconds=$2 work=$3
  shift 3
  local seeds=$FUZZ_ROOT/tests/fuzz/corpus/$name
  # shellcheck disable=SC2046
  OMP_NUM_THREADS=${OMP_NUM_THREADS:-2} OMP_WAIT_POLICY=passive \
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
    LSAN_OPTIONS=suppressions=$FUZZ_ROOT/scripts/fuzz-lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS} \
    "$FUZZ_BUILD/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -rss_limit_mb=4096 \
    -print_final_stats=1 $(fuzz_options "$name") "$@" "$work" "$seeds"
}
