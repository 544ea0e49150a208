#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then builds and runs a
# consumer program against it with CMake (find_package) and with pkg-config,
# and runs the installed tool.
# Usage: install_check.sh <build dir> <consumer source dir> <examples dir>
set -euo pipefail
build=$1 consumer=$2 examples=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/engine.h include/bioeng_host.h bin/bioeng share/man/man1/bioeng.1; do
  [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
lib=$(find "$prefix" -name 'libengine.so.*.*.*' | head -1)
[ -n "$lib" ] || { echo "libengine.so.X.Y.Z not installed"; exit 1; }
libdir=$(dirname "$lib")
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
[ "$soname" = libengine.so.0 ] || { echo "SONAME is '$soname'"; exit 1; }
[ -L "$libdir/libengine.so" ] && [ -L "$libdir/libengine.so.0" ] || { echo "missing symlinks"; exit 1; }
[ -L "$libdir/libbioeng_host.so" ] && [ -e "$libdir/libbioeng_host.so.0" ] || { echo "libbioeng_host.so not installed"; exit 1; }

echo "--- CMake consumer"
# Moving the tree checks that both package files are relocatable.
mv "$prefix" "$work/moved"
prefix=$work/moved
libdir=${libdir/$work\/prefix/$prefix}
cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/cmake-build/consumer"
LD_LIBRARY_PATH=$libdir "$work/cmake-build/host_consumer"

echo "--- pkg-config consumer"
if ! command -v pkg-config >/dev/null; then echo "pkg-config missing"; exit 77; fi
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ -n "$(pkg-config --modversion engine)" ] || { echo "engine.pc has no version"; exit 1; }
cc "$consumer/main.c" $(pkg-config --cflags --libs engine) -o "$work/pc-consumer"
LD_LIBRARY_PATH=$libdir "$work/pc-consumer"
[ -n "$(pkg-config --modversion bioeng_host)" ] || { echo "bioeng_host.pc has no version"; exit 1; }
cc "$consumer/host_main.c" $(pkg-config --cflags --libs bioeng_host) -o "$work/pc-host-consumer"
LD_LIBRARY_PATH=$libdir "$work/pc-host-consumer"

echo "--- installed tool"
"$prefix/bin/bioeng" map "$examples/ref.fa" "$examples/reads.fq" >"$work/out.paf"
grep -q "tp:A:P" "$work/out.paf" || { echo "installed tool printed no PAF"; exit 1; }
echo "install ok"
