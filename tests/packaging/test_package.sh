#!/bin/sh
# The Debian package: built with cpack in the build tree, checked by lintian
# (no errors or warnings allowed), installed, its manual pages read with
# man, and then a scheduler with the installed backend lists an emulated
# RT-50 with lpinfo -v.
#
#   test_package.sh BUILD_DIR RT50_EMULATOR PRIVATE_CUPSD [--apt]
#
# By default the package is unpacked into a temporary root (dpkg-deb -x) and
# nothing is installed; with --apt it is installed with apt-get (and purged
# again). The scheduler is a private one either way: CUPS passes no LD_*
# variable to a root backend, so the installed backend is run through a
# wrapper that puts it on the emulated USB bus.
set -eu
build=$1 emulator=$2 cupsd=$3 mode=${4:-staged}
work=$(mktemp -d /tmp/vpkg.XXXXXX)
installed=0
cleanup() {
  if [ $installed -eq 1 ]; then apt-get purge -y -qq vantora-rt50 >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
chmod 0755 "$work"

(cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/vantora-rt50_*_*.deb)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
dpkg-deb -f "$deb" Depends

# No error, and no warning either: what stays is overridden in
# packaging/debian/lintian-overrides, with the reason.
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || lintian_failed=1
grep -v 'running with root privileges' "$work/lintian.log" || true
[ "${lintian_failed:-0}" = 0 ] || { echo "lintian reports errors or warnings"; exit 1; }

if [ "$mode" = --apt ]; then
  apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
  installed=1
  root=""
else
  dpkg-deb -x "$deb" "$work/root"
  root="$work/root"
fi
backend="$root/usr/lib/cups/backend/vantora-zpxbackend"
[ "$(stat -c %a "$backend")" = 700 ] || { echo "backend mode is not 0700"; exit 1; }
for file in /lib/systemd/system/vantora-rt50-usbmon.service /lib/systemd/system/vantora-rt50-printer-app.service \
            /lib/systemd/system/vantora-rt50-printers.target /lib/udev/rules.d/60-vantora-rt50.rules \
            /usr/lib/cups/filter/vantora_rt50_filter /usr/lib/cups/filter/vantora_rt50_photo \
            /usr/share/cups/mime/vantora-rt50.types /usr/share/cups/mime/vantora-rt50.convs \
            /usr/share/cups/model/VANTORA_RT-50.ppd; do
  [ -f "$root$file" ] || { echo "missing: $file"; exit 1; }
done

# A manual page for every program on a path, and for the filters and the
# backend in section 8; each one renders without a warning and is found by
# name (once installed, `man vantora_rt50_usbmon` shows it).
for page in man1/vantora_stream_preview.1 man1/vantora_rt50_status.1 man8/vantora_rt50_usbmon.8 \
            man8/vantora-rt50-printer-app.8 man8/vantora-zpxbackend.8 man8/vantora_rt50_filter.8 \
            man8/vantora_rt50_photo.8; do
  file="$root/usr/share/man/$page.gz"
  [ -f "$file" ] || { echo "missing manual page: $page"; exit 1; }
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "manual page $page: $warnings"; exit 1; }
done
found=$(MANPATH="$root/usr/share/man" man -w vantora_rt50_usbmon)
[ "$found" = "$root/usr/share/man/man8/vantora_rt50_usbmon.8.gz" ] || { echo "man finds no vantora_rt50_usbmon: $found"; exit 1; }
MANPATH="$root/usr/share/man" MANWIDTH=80 man vantora_rt50_usbmon 2>/dev/null | grep -q 'USB monitor' ||
  { echo "man vantora_rt50_usbmon shows nothing"; exit 1; }

mkdir -m 0755 "$work/bin"
# The backend on the emulated bus with hot-plug events of its own, as the
# emulator preloads its other clients (RT50_EMULATOR_PRELOAD).
printf '#!/bin/sh\nLD_PRELOAD=$RT50_EMULATOR_PRELOAD\nASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0\nexport LD_PRELOAD ASAN_OPTIONS\nexec %s "$@"\n' \
  "$backend" > "$work/bin/vantora-zpxbackend"
chmod 0700 "$work/bin/vantora-zpxbackend"
serial=PKG$$
"$emulator" --serial "$serial" --print-ms 50 -- sh -c \
  'exec "$0" --files-conf "SetEnv UMOCKDEV_DIR $UMOCKDEV_DIR" --files-conf "SetEnv RT50_EMULATOR_PRELOAD $RT50_EMULATOR_PRELOAD" --backend "$1" -- lpinfo --include-schemes vantora-zpxbackend -v' \
  "$cupsd" "$work/bin/vantora-zpxbackend" > "$work/lpinfo.txt"
cat "$work/lpinfo.txt"
grep -q "^direct vantora-zpxbackend://VANTORA/RT-50?serial=$serial\$" "$work/lpinfo.txt" ||
  { echo "lpinfo -v does not list the emulated printer"; exit 1; }
echo "package test passed ($mode)"
