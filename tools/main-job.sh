#!/usr/bin/env bash
# The package's main job: prints a photo through CUPS on an emulated
# VANTORA RT-50 and shows what was printed and what the printer reports.
#
#   tools/main-job.sh [PHOTO] [-o name=value ...]
#
# 1. installs what the package needs (tools/setup.sh) and builds it;
# 2. takes PHOTO (any JPEG, PNG, TIFF, WebP, HEIC, ... a user names) or, by
#    default, a phone-style portrait photo made from a real photograph with
#    a clear licence from the Debian package python3-skimage (apt-get
#    download, unpacked with dpkg-deb, nothing is installed): NASA's
#    astronaut portrait (public domain), cut to portrait and stored the way
#    phones store it, as landscape pixels with EXIF orientation 6 ("turn 90
#    degrees clockwise to view"), which the sheet must show upright;
# 3. starts an emulated RT-50 (tools/rt50-emulator) on a private USB bus, a
#    private CUPS scheduler (never the system's) with the built filter, PPD
#    and backend, and the USB monitor daemon, which finds the printer and
#    makes its queue VANTORA-RT-50;
# 4. prints the photo with lp, waits until the printer has taken the sheet,
#    and opens the status window on a virtual X display (Xvfb);
# 5. leaves in out/main-job/: sheet-1.png (the sheet as the printer printed
#    it) and sheet-1.txt (its settings), status-file.log (the daemon's status
#    file), status-window.png (the window showing the printer), job.log (what
#    CUPS said about the job) and the photo.
#
# The filter-only preview without a scheduler is tools/preview-job.sh.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out="$top/out/main-job"
photo=""
options=()
while [ $# -gt 0 ]; do
  case "$1" in
    -o) options+=(-o "$2"); shift 2 ;;
    -*) echo "usage: tools/main-job.sh [PHOTO] [-o name=value ...]" >&2; exit 2 ;;
    *) photo=$1; shift ;;
  esac
done
if [ -n "$photo" ]; then
  [ -r "$photo" ] || { echo "main-job: cannot read $photo" >&2; exit 2; }
  photo=$(cd "$(dirname "$photo")" && pwd)/$(basename "$photo")
fi

echo "== installing what the package needs"
"$top/tools/setup.sh"

echo "== building"
cmake -S . -B build -DVANTORA_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)" --target vantora_rt50_filter vantora_rt50_photo vantora_ppd vantora-zpxbackend \
  vantora_rt50_usbmon vantora_rt50_status rt50-emulator private-cupsd vantora_screen_grab

work=$(mktemp -d /tmp/vantora-main-job.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"

if [ -z "$photo" ]; then
  echo "== making a phone-style portrait photo (astronaut.png from python3-skimage, orientation 6)"
  original=$("$top/tools/sample-photo.sh" astronaut "$work")
  vips extract_area "$original" "$work/portrait.v" 86 0 340 512
  vips rot "$work/portrait.v" "$work/stored.v" d270
  vips copy "$work/stored.v" "$work/phone-portrait.jpg[Q=92,strip]"
  exiftool -q -overwrite_original "-Orientation#=6" "$work/phone-portrait.jpg"
  photo=$work/phone-portrait.jpg
fi

rm -rf "$out"
mkdir -p "$out"
cp "$photo" "$out/photo-$(basename "$photo")"
serial=RT50DEMO0001
mkdir -m 0755 "$work/bin" "$work/sheets"
# CUPS passes no LD_* variable to a backend it runs as root: this wrapper
# puts the backend on the emulated printer's USB bus.
printf '#!/bin/sh\nLD_PRELOAD=%s\nexport LD_PRELOAD\nexec %s "$@"\n' \
  "$top/build/tools/rt50-emulator/librt50_emulator_events.so:libumockdev-preload.so.0" \
  "$top/build/backend/vantora-zpxbackend" > "$work/bin/vantora-zpxbackend"
chmod 0700 "$work/bin/vantora-zpxbackend"

# lp's arguments, quoted for the script below.
lp_args=$(printf ' %q' "${options[@]}" "$photo")
# Runs inside the emulator (USB) and the private scheduler (CUPS_SERVER).
cat > "$work/demo.sh" <<DEMO
set -eu
pids=""
stop() { for p in \$pids; do kill "\$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap stop EXIT

echo "== the USB monitor daemon finds the printer and makes its queue"
VANTORA_RT50_FAILOVER="$work/failover" "$top/build/usbmon/vantora_rt50_usbmon" > "$work/usbmon.log" 2>&1 &
pids="\$pids \$!"
queue=""
for i in \$(seq 300); do
  queue=\$(lpstat -v 2>/dev/null | sed -n 's|^device for \(.*\): vantora-zpxbackend://VANTORA/RT-50?serial=$serial\$|\1|p')
  [ -n "\$queue" ] && break
  sleep 0.1
done
[ -n "\$queue" ] || { echo "main-job: the daemon made no queue" >&2; cat "$work/usbmon.log" >&2; exit 1; }
lpinfo --include-schemes vantora-zpxbackend -v
lpstat -v "\$queue"

echo "== printing with lp"
lp -d "\$queue"$lp_args
for i in \$(seq 1200); do
  lpstat -o "\$queue" 2>/dev/null | grep -q . || break
  sleep 0.1
done
lpstat -W completed "\$queue" > "$work/jobs.txt" 2>&1 || true
grep -h -E '\[Job [0-9]+\] (Queued|Started|Job |Sheet|Connected|Printing|Printer|Waiting|The printer|ATTR|STATE|End of)' \
  "\$PRIVATE_CUPSD_ROOT/log/error_log" > "$work/cups.txt" 2>/dev/null || true
[ -f "$work/sheets/$serial-sheet-0001.png" ] || { echo "main-job: the printer recorded no sheet" >&2; exit 1; }

echo "== the status window on a virtual display"
exec 3> "$work/display"
env -u LD_PRELOAD Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids="\$pids \$!"
exec 3>&-
for i in \$(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=:\$(cat "$work/display")
env -u LD_PRELOAD DISPLAY="\$display" QT_QPA_PLATFORM=xcb "$top/build/status/vantora_rt50_status" \
  > "$work/window.log" 2>&1 &
window=\$!
pids="\$window \$pids"
# The window asks the daemon to watch the printer; the daemon writes the
# status file every second, and the window reads it twice a second. The
# picture is taken once the sheet is printed and counted.
for i in \$(seq 300); do
  grep -q 'PRINTER_STATUS="00000"' "/tmp/RT-50_$serial.log" 2>/dev/null &&
    grep -q 'TOTAL_COUNT="[1-9]' "/tmp/RT-50_$serial.log" && break
  sleep 0.1
done
sleep 2
env -u LD_PRELOAD DISPLAY="\$display" "$top/build/tools/screen-grab/vantora_screen_grab" "$out/status-window.png"
cp "/tmp/RT-50_$serial.log" "$out/status-file.log"
kill "\$window"; wait "\$window" 2>/dev/null || true
rm -f "/tmp/RT-50_$serial.log"
DEMO

echo "== starting the emulated printer and a private CUPS scheduler"
"$top/build/tools/rt50-emulator/rt50-emulator" --serial "$serial" --print-ms 3000 --output "$work/sheets" -- \
  sh -c 'exec "$0" --ppd "$1/build/ppd/VANTORA_RT-50.ppd" --filter "$1/build/filter/vantora_rt50_filter" \
           --filter "$1/build/photo/vantora_rt50_photo" --backend "$2/bin/vantora-zpxbackend" \
           --files-conf "SetEnv UMOCKDEV_DIR $UMOCKDEV_DIR" --cupsd-conf "LogLevel debug" --cupsd-conf "PreserveJobHistory Yes" -- sh "$2/demo.sh"' \
  "$top/build/tests/support/private-cupsd" "$top" "$work"

cp "$work/sheets/$serial-sheet-0001.png" "$out/sheet-1.png"
cp "$work/sheets/$serial-sheet-0001.txt" "$out/sheet-1.txt"
cat "$work/jobs.txt" "$work/cups.txt" > "$out/job.log"
echo
echo "main-job: done. The folder $out holds:"
echo "  sheet-1.png         the sheet as the emulated RT-50 printed it"
echo "  sheet-1.txt         the sheet's settings as the printer received them"
echo "  status-file.log     the daemon's status file of the printer"
echo "  status-window.png   the status window showing the printer"
echo "  job.log             the job as CUPS reports it, and the backend's messages"
echo "  photo-$(basename "$photo")"
