#!/usr/bin/env bash
# Makes the README's two pictures again, from the program itself and headless:
#   docs/window.png   the window after looking up a stock, grabbed offscreen
#   docs/report.png   the top of a screening report, drawn by headless Chromium
# Usage: docs/make-pictures.sh [BUILD_DIR]   (default build/; needs the package chromium)
# Everything runs on 127.0.0.1: a service of its own on a free port serves the sample market,
# and Chromium opens only the local report file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
code=7203
sector=輸送用機器

command -v chromium >/dev/null || { echo "make-pictures: needs chromium (apt-get install chromium)" >&2; exit 1; }
cmake --build "$build" --target window_shot orvanta orvanta-service >/dev/null

work=$(mktemp -d)
service_pid=
cleanup() {
    [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/home"
# A fresh home: no one's own imported prices, the sample market only.
export HOME=$work/home
unset XDG_DATA_HOME XDG_CONFIG_HOME ORVANTA_SERVICE_URL

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$build/service/orvanta-service" --port "$port" >"$work/service.log" 2>&1 &
service_pid=$!
for _ in $(seq 50); do
    "$build/service/orvanta-service" --check --port "$port" && break
    sleep 0.1
done
url=http://127.0.0.1:$port

export QT_QPA_PLATFORM="offscreen:configfile=$root/tests/offscreen.json"
"$build/docs/window_shot" "$root/docs/window.png" "$code" --workdir "$work/work" --service "$url"

"$build/src/app/orvanta" --workdir "$work/work" --service "$url" --screen "$sector" --out "$work/report" 2>/dev/null
chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$work/chromium" \
    --host-resolver-rules="MAP * ~NOTFOUND" --proxy-server="http://127.0.0.1:9" \
    --hide-scrollbars --window-size=1400,900 --screenshot="$root/docs/report.png" \
    "file://$work/report/report.html" 2>/dev/null
"$build/docs/window_shot" --shrink "$root/docs/report.png"
echo "docs/window.png: $(stat -c %s "$root/docs/window.png") bytes; docs/report.png: $(stat -c %s "$root/docs/report.png") bytes"
