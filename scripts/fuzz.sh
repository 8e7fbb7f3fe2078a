#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build-fuzz"
CC=clang CXX=clang++ BUILD_DIR="$build" "$root/scripts/build.sh" \
    -DORVANTA_FUZZ=ON -DORVANTA_TESTS=OFF -DORVANTA_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
shopt -s nullglob
for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    seeds=()
    [ -d "$root/fuzz/seeds/$name" ] && seeds=("$root/fuzz/seeds/$name")
    # Targets whose faults are those of large inputs get them; their memory is bounded by design.
    options=(-rss_limit_mb=4096)
    case $name in
        fuzz_listing_parts | fuzz_listing_xls) options=(-max_len=4194304 -rss_limit_mb=1024) ;;
    esac
    echo "== $name for ${seconds}s"
    "$target" -max_total_time="$seconds" "${options[@]}" "$corpus" "${seeds[@]}" 2>&1 | tail -n 3
done
