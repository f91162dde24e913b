#!/usr/bin/env bash
# Figures of the photo front end, whole processes measured with GNU time in
# one run (CPU is user + system time of the process and its threads; peak
# is the largest resident size):
#
#   bench/photo/photo-figures.sh PHOTO_PAGE VANTORA_RT50_PHOTO PPD
#   (or build-release/bench/photo/bench_photo_figures, which passes them)
#     RUNS   runs of each program per photo; the median is printed (default 5)
#
# 1. a 12-megapixel JPEG (4000 x 3000) turned into the raster filter's input,
#    the 4x6 page at 300 dpi filled: photo_page (the front end alone),
#    vipsthumbnail doing the same fill, and imagetoraster with the PPD, the
#    way the photo filter ran it before; two photos: a real photograph
#    (mate-backgrounds' Wood.jpg, a camera's, enlarged) and the print path
#    benchmark's drawn one;
# 2. the whole vantora_rt50_photo on them (the raster filter's page
#    processing included), without the job start file's one-second pause;
# 3. larger photos: a 90-megapixel PNG and a 12-megapixel HEIC, their CPU
#    and peak memory, and how long decoding takes to stop after a cancel;
# 4. the caged decoder's cost: one rendering of the 12-megapixel photos in
#    process and by the caged decoder service (started once, as in the
#    printer application), median time of REPEAT renderings each; and the
#    decoder's own CPU;
# 5. hostile photos (tests/photo/make_hostile_photos.py) through
#    vantora_rt50_photo, their type declared as CUPS does: time, CPU, peak
#    memory of the largest process, and the reason.
set -euo pipefail
photo_page=$1
photo_filter=$2
ppd=$3
runs=${RUNS:-5}
work=$(mktemp -d /tmp/vphoto.XXXXXX)
trap 'rm -rf "$work"; rm -f "/tmp/Print_$job.log"' EXIT
job=$((900000 + $$ % 90000))

# The median of `runs` runs of a command: "CPU_S PEAK_MB".
measure() {
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" > /dev/null 2> "$work/stderr" ||
      { cat "$work/stderr" >&2; return 1; }
    awk '{ printf "%.3f %.1f\n", $1 + $2, $3 / 1024 }' "$work/time"
  done | sort -n | awk -v n="$runs" 'NR == int((n + 1) / 2)'
}
row() { printf '  %-46s %6.3f s CPU %7.1f MB peak\n' "$1" $2; }

echo "== making the photos"
(cd "$work" && apt-get download mate-backgrounds > /dev/null 2>&1) &&
  dpkg-deb -x "$work"/mate-backgrounds_*.deb "$work/mb" &&
  vips resize "$work/mb/usr/share/backgrounds/mate/nature/Wood.jpg" "$work/real.jpg[Q=92]" 1.5625 ||
  echo "(mate-backgrounds could not be fetched: the drawn photo only)"
"$(dirname "$0")/../drawn-photo.sh" "$work/drawn.jpg"

: > "/tmp/Print_$job.log"
for name in real drawn; do
  photo=$work/$name.jpg
  [ -f "$photo" ] || continue
  echo "== $name.jpg: $(vipsheader "$photo" | cut -d: -f2 | cut -d, -f1), $(stat -c %s "$photo") bytes, to the 1266 x 1836 page"
  ours=$(measure "$photo_page" "$photo")
  thumb=$(measure vipsthumbnail "$photo" --smartcrop=centre -s 1266x1836 -o "$work/thumb.v")
  old=$(measure env PPD="$ppd" /usr/lib/cups/filter/imagetoraster "$job" user photo 1 print-scaling=fill "$photo")
  whole=$(measure env PPD="$ppd" "$photo_filter" "$job" user photo 1 "" "$photo")
  row "photo front end (photo_page)" "$ours"
  row "vipsthumbnail --smartcrop=centre" "$thumb"
  row "imagetoraster (the way before)" "$old"
  row "vantora_rt50_photo, whole job (page processed)" "$whole"
  awk -v a="${ours% *}" -v b="${thumb% *}" -v c="${old% *}" \
    'BEGIN { printf "  front end: %.2fx vipsthumbnail'"'"'s CPU, %.1fx less than imagetoraster'"'"'s\n", a / b, c / a }'
done

echo "== larger photos: CPU, peak memory, and decoding stopped by a cancel"
vips black "$work/big.v" 9500 9500 --bands 3
vips draw_circle "$work/big.v" "200 120 40" 4750 4750 3000 --fill
vips copy "$work/big.v" "$work/big.png[compression=1]"
rm -f "$work/big.v"
row "90-megapixel PNG (9500 x 9500)" "$(measure "$photo_page" "$work/big.png")"
if vips resize "${work}/drawn.jpg" "$work/phone.heic[Q=60]" 1 2> /dev/null; then
  row "12-megapixel HEIC" "$(measure "$photo_page" "$work/phone.heic")"
fi
for photo in "$work/big.png" "$work/drawn.jpg" "$work/phone.heic"; do
  [ -f "$photo" ] || continue
  printf '  %-22s cancelled 150 ms in: %s\n' "$(basename "$photo")" \
    "$(CANCEL_AFTER_MS=150 "$photo_page" "$photo" 2>&1 > /dev/null | tail -n 1)"
done

echo "== the caged decoder: one rendering in process and caged (median of ${REPEAT:-7})"
for photo in "$work/real.jpg" "$work/drawn.jpg" "$work/phone.heic"; do
  [ -f "$photo" ] || continue
  inproc=$(REPEAT=${REPEAT:-7} "$photo_page" "$photo" 2>&1 > /dev/null | tail -n 1)
  caged=$(CAGED=1 REPEAT=${REPEAT:-7} "$photo_page" "$photo" 2>&1 > /dev/null | tail -n 1)
  printf '  %-12s in process: %s\n  %-12s caged:      %s\n' "$(basename "$photo")" "$inproc" "" "$caged"
done
for photo in "$work/drawn.jpg"; do
  row "$(basename "$photo"), photo_page in process" "$(measure "$photo_page" "$photo")"
  row "$(basename "$photo"), photo_page, service forked" "$(CAGED=2 measure "$photo_page" "$photo")"
done
echo "  (GNU time counts a process and the children it waited for; the caged"
echo "  decoders are the service's grandchildren: the in-process figure is the"
echo "  one to compare with the whole job's below.)"

echo "== hostile photos through vantora_rt50_photo"
python3 "$(dirname "$0")/../../tests/photo/make_hostile_photos.py" "$work" > /dev/null
for c in grid-bomb.heic:image/heic wide.webp:image/webp scan-bomb.jpg:image/jpeg mismatch.tif:image/jpeg; do
  file=${c%%:*}
  type=${c#*:}
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" env CONTENT_TYPE="$type" PPD="$ppd" \
    "$photo_filter" "$job" user photo 1 "" "$work/$file" > /dev/null 2> "$work/stderr" || true
  awk -v f="$file" -v r="$(grep '^ERROR' "$work/stderr" | head -n 1)" \
    'END { printf "  %-16s %5.2f s, %.2f s CPU, %6.1f MB peak: %s\n", f, $1, $2 + $3, $4 / 1024, r }' "$work/time"
done
echo "  (the time includes the filter's one-second pause after an ERROR: line)"
