#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) with any extra CMake arguments given;
# $BUILD_TARGETS limits the build to those targets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
targets=()
for target in ${BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
