# Shared by the benchmark run scripts (source it): peer installation and the
# Release build of one benchmark target.

# Installs a Debian package unless it is there; peers are installed only by
# the benchmarks, never needed by the build.
ensure_package() {
  dpkg -s "$1" >/dev/null 2>&1 && return
  local sudo=""; [[ $(id -u) -ne 0 ]] && sudo=sudo
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "$1"
}

# build_bench ROOT BUILD_DIR TARGET: configures a benchmark-only Release
# build and builds TARGET in it.
build_bench() {
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DENGINE_BUILD_BENCH=ON -DENGINE_BUILD_TESTS=OFF -DENGINE_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$2" --target "$3"
}
