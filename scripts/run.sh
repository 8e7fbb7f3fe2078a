#!/usr/bin/env bash
# Builds the program, prepares the working folder work/ (the dat/ cache and KabuList.dat),
# starts the bundled finance service on loopback and runs the program there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "orvanta: no display found (DISPLAY is not set); run it from a desktop session or under xvfb-run." >&2
    exit 1
fi

"$root/scripts/install-deps.sh"
targets="orvanta"
grep -q 'orvanta-service' "$root/service/CMakeLists.txt" && targets="$targets orvanta-service"
BUILD_TARGETS="$targets" "$root/scripts/build.sh"
build=${BUILD_DIR:-$root/build}

work="$root/work"
mkdir -p "$work/dat"
[ -f "$work/KabuList.dat" ] || cp "$root/service/data/KabuList.dat" "$work/KabuList.dat" 2>/dev/null || true

service_pid=""
if [ -x "$build/service/orvanta-service" ]; then
    if "$build/service/orvanta-service" --check 2>/dev/null; then
        echo "orvanta-service is already running."
    else
        "$build/service/orvanta-service" --data "$root/service/data" &
        service_pid=$!
    fi
fi
trap '[ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true' EXIT

cd "$work"
"$build/src/app/orvanta"
