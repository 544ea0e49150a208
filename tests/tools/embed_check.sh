#!/usr/bin/env bash
# Includes the source tree in another project with add_subdirectory and
# builds and runs a consumer linked to engine::engine; the including
# project's build type, set or not, must stay as it was.
# Usage: embed_check.sh <source dir> <consumer source dir>
set -euo pipefail
source=$1 consumer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cache_build_type() { sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$1/CMakeCache.txt"; }

echo "--- parent without a build type"
cmake -S "$consumer" -B "$work/none" -DENGINE_SOURCE_DIR="$source" >/dev/null
[ -z "$(cache_build_type "$work/none")" ] || { echo "build type set to '$(cache_build_type "$work/none")'"; exit 1; }

echo "--- parent with build type Debug: build and run"
cmake -S "$consumer" -B "$work/debug" -DENGINE_SOURCE_DIR="$source" -DCMAKE_BUILD_TYPE=Debug >/dev/null
[ "$(cache_build_type "$work/debug")" = Debug ] || { echo "build type changed"; exit 1; }
cmake --build "$work/debug" -j 2 >/dev/null
"$work/debug/consumer"
echo "embed ok"
