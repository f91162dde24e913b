#!/usr/bin/env bash
# The quick preview: runs a real photograph through the filter chain the
# way CUPS would, without a scheduler and without a printer, and leaves what
# the printer would receive in a folder. (tools/main-job.sh prints through
# CUPS to the emulated printer.)
#
#   tools/preview-job.sh [-o name=value ...]
#
# 1. installs what the package needs (tools/setup.sh) and builds it;
# 2. fetches a photograph with a clear licence from the Debian package
#    python3-skimage (apt-get download, unpacked with dpkg-deb, nothing is
#    installed): "coffee.png" by Rachel Michetti, CC0; PHOTO=astronaut picks
#    NASA's astronaut photograph (public domain) instead;
# 3. runs cupsfilter -e with the built PPD: vantora_rt50_photo (which
#    decodes the photo itself, filling the page, and runs the raster
#    filter's job driver), found through a private CUPS filter folder, so
#    nothing is installed into the system's CUPS;
# 4. leaves in out/preview-job/: job.zpx (the command stream), packets.txt (the
#    packet summary with decoded settings), preview-sheet-1.png (the sheet as
#    the printer would print it), the photograph and cupsfilter.log.
#
# cupsfilter gives every job the id 1; the filter waits up to two minutes for
# the backend's job start file /tmp/Print_1.log. No backend runs here, so
# this script creates that file for the run (and removes it afterwards if it
# was not there before).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out="$top/out/preview-job"
photo_name=${PHOTO:-coffee}
case "$photo_name" in
  coffee|astronaut) ;;
  *) echo "preview-job: PHOTO must be coffee or astronaut" >&2; exit 2 ;;
esac
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    -o) extra+=(-o "$2"); shift 2 ;;
    *) echo "usage: tools/preview-job.sh [-o name=value ...]" >&2; exit 2 ;;
  esac
done

echo "== installing what the package needs"
"$top/tools/setup.sh"

echo "== building"
cmake -S . -B build -DVANTORA_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)" --target vantora_rt50_filter vantora_rt50_photo vantora_ppd vantora_stream_preview

work=$(mktemp -d /tmp/vantora-preview.XXXXXX)
created_start_file=0
cleanup() {
  rm -rf "$work"
  if [ $created_start_file -eq 1 ]; then rm -f /tmp/Print_1.log; fi
}
trap cleanup EXIT

echo "== fetching the photograph ($photo_name.png from python3-skimage)"
photo=$("$top/tools/sample-photo.sh" "$photo_name" "$work")

echo "== private CUPS filter folder"
serverbin=$(cups-config --serverbin)
mkdir -p "$work/serverbin/filter"
for f in "$serverbin"/filter/*; do
  case "$(basename "$f")" in vantora_*) continue ;; esac
  ln -s "$f" "$work/serverbin/filter/"
done
ln -s "$top/build/filter/vantora_rt50_filter" "$top/build/photo/vantora_rt50_photo" "$work/serverbin/filter/"
cat > "$work/cups-files.conf" <<CONF
ServerBin $work/serverbin
DataDir $(cups-config --datadir)
ServerRoot /etc/cups
CONF

if [ ! -e /tmp/Print_1.log ]; then
  : > /tmp/Print_1.log
  created_start_file=1
fi

rm -rf "$out"
mkdir -p "$out"
cp "$photo" "$out/photo-$photo_name.png"
echo "== printing through cupsfilter (vantora_rt50_photo)"
cupsfilter -c "$work/cups-files.conf" -p "$top/build/ppd/VANTORA_RT-50.ppd" -m printer/cupsfilter -e \
  "${extra[@]}" "$photo" > "$out/job.zpx" 2> "$out/cupsfilter.log" || {
  grep -E "^(ERROR|INFO)" "$out/cupsfilter.log" >&2 || true
  echo "preview-job: cupsfilter failed (log in $out/cupsfilter.log)" >&2
  exit 1
}
grep -E "^INFO: .*(started|exited)" "$out/cupsfilter.log" || true

echo "== packet summary and preview"
"$top/build/tools/stream-preview/vantora_stream_preview" -p "$out/preview" "$out/job.zpx" | tee "$out/packets.txt"

echo
echo "preview-job: done. The folder $out holds:"
echo "  job.zpx             the command stream the RT-50 would receive ($(stat -c %s "$out/job.zpx") bytes)"
echo "  packets.txt         the packets with their decoded settings"
echo "  preview-sheet-1.png the sheet as the printer would print it"
echo "  photo-$photo_name.png    the photograph that was printed"
echo "  cupsfilter.log      the filter chain's log"
