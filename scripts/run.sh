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

# The bundled finance service on 127.0.0.1:18650: reuse one that already answers, otherwise
# start it (its request log goes to work/service.log) and stop it when the program exits.
service="$build/service/orvanta-service"
service_pid=""
if "$service" --check 2>/dev/null; then
    echo "orvanta-service is already running."
else
    "$service" --data "$root/service/data" 2>>"$work/service.log" &
    service_pid=$!
    trap 'kill "$service_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do
        "$service" --check 2>/dev/null && break
        if ! kill -0 "$service_pid" 2>/dev/null; then
            echo "orvanta: the finance service did not start; see $work/service.log" >&2
            break
        fi
        sleep 0.2
    done
fi

cd "$work"
"$build/src/app/orvanta"
