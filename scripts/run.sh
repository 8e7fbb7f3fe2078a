#!/usr/bin/env bash
# Builds the program and its bundled finance service and runs the program in the working
# folder work/ of the checkout (made with dat/ and the sample KabuList.dat on first run). The
# program starts the service itself when none answers, and stops it when it exits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "orvanta: no display found (DISPLAY is not set); run it from a desktop session or under xvfb-run." >&2
    exit 1
fi

"$root/scripts/install-deps.sh"
BUILD_TARGETS="orvanta orvanta-service" "$root/scripts/build.sh"
build=${BUILD_DIR:-$root/build}

# The program looks for orvanta-service beside itself, then on PATH.
PATH="$build/service:$PATH" exec "$build/src/app/orvanta" --workdir "$root/work" "$@"
