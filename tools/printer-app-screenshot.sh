#!/usr/bin/env bash
# Takes screenshots of the printer application's web pages with headless
# Chromium: the application runs with an emulated RT-50 (built tree in
# build/), one photo is printed, and the printer's page, the RT-50 page and
# the supplies page are saved as PNGs in out/printer-app/ (or $1).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/out/printer-app}
build=${BUILD:-$top/build}
mkdir -p "$out"
if [ -z "${RT50_EMULATOR_SOCKET:-}" ]; then
  "$top/tools/setup.sh" screenshots
  sheets=$(mktemp -d /tmp/rt50shot.XXXXXX)
  TMPDIR=/tmp exec "$build/tools/rt50-emulator/rt50-emulator" --printers 1 --print-ms 500 --output "$sheets" -- "$0" "$out"
fi
emu="$build/tools/rt50-emulator/rt50-emulator"
work=$(mktemp -d /tmp/rt50web.XXXXXX)
port=$(( 30000 + $$ % 20000 ))
SNAP_COMMON=$work VANTORA_RT50_POLL_MS=300 \
  "$build/printer-app/vantora-rt50-printer-app" server -o server-port=$port -o server-options=no-tls \
  -o log-file="$work/log" -o log-level=info -o spool-directory="$work" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$work"' EXIT
printer=VANTORA-RT-50_RT50EMU0001
for i in $(seq 1 50); do
  ipptool -T 2 "ipp://localhost:$port/ipp/print/$printer" get-printer-attributes.test >/dev/null 2>&1 && break
  sleep 0.2
done
# A printed photo, fewer prints left and an open door make the state visible.
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=jpeg -r72 -sOutputFile="$work/photo.jpg" \
  -c '<< /PageSize [640 480] >> setpagedevice 0 0.5 1 setrgbcolor 0 0 640 480 rectfill showpage' >/dev/null
ipptool -f "$work/photo.jpg" -d filetype=image/jpeg "ipp://localhost:$port/ipp/print/$printer" print-job.test >/dev/null
sleep 3
"$emu" --send "set RT50EMU0001 remain 42" >/dev/null
"$emu" --send "set RT50EMU0001 status 1000" >/dev/null
sleep 1.5
shot() {
  chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$work/chromium-$1" --window-size=1280,900 \
    --screenshot="$out/$1.png" "http://localhost:$port$2" >"$work/chromium-$1.log" 2>&1 || cat "$work/chromium-$1.log"
}
shot printer "/$printer/"
sleep 1
shot rt50 "/rt50"
shot supplies "/$printer/supplies"
ls -l "$out"/*.png
