#!/usr/bin/env bash
# Figures of the printer application (not a test; prints numbers):
#  - time from submitting a 12-megapixel JPEG (4032 x 3024, as a phone
#    takes it) to the recorded sheet, over IPP to the printer application,
#    against the CUPS queue path for the same photo (the queue's photo
#    filter chain, vantora_rt50_photo, and the command stream sent to the
#    printer by the same USB layer's rate); the same photo as a HEIC;
#  - memory (VmHWM, VmRSS) of the running application with two printers.
# Run from the top folder after building build/ (or BUILD=...):
#   bench/printer-app/photo_to_sheet.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$top/build}
if [ -z "${RT50_EMULATOR_SOCKET:-}" ]; then
  sheets=$(mktemp -d /tmp/rt50bench.XXXXXX)
  TMPDIR=/tmp exec "$build/tools/rt50-emulator/rt50-emulator" --printers 2 --print-ms 100 --output "$sheets" \
    -- "$0" "$sheets"
fi
sheets=$1
work=$(mktemp -d /tmp/rt50fig.XXXXXX)
port=$(( 30000 + $$ % 20000 ))
ppd=$build/ppd/VANTORA_RT-50.ppd
now() { date +%s.%N; }

# A 12-megapixel photo-like JPEG.
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=jpeg -r72 -dJPEGQ=90 -sOutputFile="$work/phone.jpg" -c \
  '<< /PageSize [4032 3024] >> setpagedevice 0 1 99 { /i exch def i 100 div 0.5 1 i 100 div sub setrgbcolor i 40.32 mul 0 41 3024 rectfill } for showpage' >/dev/null
echo "photo: $(stat -c %s "$work/phone.jpg") bytes, 4032 x 3024"

SNAP_COMMON=$work VANTORA_RT50_POLL_MS=1000 \
  "$build/printer-app/vantora-rt50-printer-app" server -o server-port=$port -o server-options=no-tls \
  -o log-file="$work/log" -o log-level=warn -o spool-directory="$work" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$work" "$sheets"' EXIT
uri=ipp://localhost:$port/ipp/print/VANTORA-RT-50_RT50EMU0001
for i in $(seq 1 100); do
  ipptool -T 2 "ipp://localhost:$port/ipp/print/VANTORA-RT-50_RT50EMU0002" get-printer-attributes.test >/dev/null 2>&1 \
    && ipptool -T 2 "$uri" get-printer-attributes.test >/dev/null 2>&1 && break
  sleep 0.2
done
grep -E 'VmRSS|VmHWM' /proc/$server/status | sed 's/^/idle, two printers: /'

for run in 1 2 3; do
  before=$(ls "$sheets" | grep -c png || true)
  start=$(now)
  ipptool -f "$work/phone.jpg" -d filetype=image/jpeg "$uri" print-job.test >/dev/null
  while [ "$(ls "$sheets" | grep -c png || true)" -le "$before" ]; do sleep 0.02; done
  echo "printer application, run $run: $(echo "$(now) - $start" | bc) s from Print-Job to the recorded sheet"
done
grep -E 'VmRSS|VmHWM' /proc/$server/status | sed 's/^/after three photos: /'

# The same photo as a phone's HEIC (decoded whole by libheif).
vips copy "$work/phone.jpg" "$work/phone.heic[Q=80]"
for run in 1 2 3; do
  before=$(ls "$sheets" | grep -c png || true)
  start=$(now)
  ipptool -f "$work/phone.heic" -d filetype=image/heic "$uri" print-job.test >/dev/null
  while [ "$(ls "$sheets" | grep -c png || true)" -le "$before" ]; do sleep 0.02; done
  echo "printer application, HEIC run $run: $(echo "$(now) - $start" | bc) s from Print-Job to the recorded sheet"
done
grep -E 'VmRSS|VmHWM' /proc/$server/status | sed 's/^/after three HEICs: /'

# The CUPS queue path: the queue's filter chain makes the command stream,
# which then goes to the printer at the USB link's rate (40 MB/s here).
for run in 1 2 3; do
  echo > /tmp/Print_bench$run.log
  start=$(now)
  PPD=$ppd "$build/photo/vantora_rt50_photo" bench$run user photo 1 "" "$work/phone.jpg" > "$work/job.zpx" 2>/dev/null
  rm -f /tmp/Print_bench$run.log
  filter=$(echo "$(now) - $start" | bc)
  bytes=$(stat -c %s "$work/job.zpx")
  echo "CUPS queue filter chain, run $run: $filter s for $bytes bytes (+ $(echo "scale=3; $bytes / 40000000" | bc) s at the link rate; the filter waits 1 s for the backend's start file)"
done
