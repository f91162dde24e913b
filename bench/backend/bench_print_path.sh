#!/usr/bin/env bash
# Figures of the print path, measured against the emulated RT-50 with a
# private CUPS scheduler, the built filter, PPD and backend:
#
#   bench/backend/bench_print_path.sh [BUILD_DIR]
#     PRINT_MS   the emulated printer's printing time per sheet (default 2000;
#                the RT-50's own sheets take 2 to 4 s, so run it with 4000 too)
#     PHOTOS     jobs in the queue for the throughput figure (default 10)
#
# 1. one 12-megapixel JPEG: time from lp to the sheet the printer records,
#    split into the scheduler's start, the filter chain (the photo decoded
#    during the filter's wait for the backend's job start file and its
#    one-second pause), the USB transfer and the printing itself;
# 2. the backend's USB throughput against the printer's link rate, and its
#    CPU time per job;
# 3. PHOTOS jobs queued at once: sheets per minute against the printer's own
#    rate, and how long the printer waited for the host between sheets.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
print_ms=${PRINT_MS:-2000}
photos=${PHOTOS:-10}
serial=BENCH$$
work=$(mktemp -d /tmp/vbench.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
mkdir -m 0755 "$work/bin" "$work/sheets"

# A 12-megapixel JPEG (4000 x 3000) with gradients and fine detail.
"$top/bench/drawn-photo.sh" "$work/photo.jpg"
echo "photo: 4000 x 3000 JPEG, $(stat -c %s "$work/photo.jpg") bytes; printing time per sheet: $print_ms ms"

# The filter chain alone (cupsfilter, job start file already there: its
# fixed one-second pause included, the photo decoded meanwhile).
mkdir -m 0755 "$work/serverbin" "$work/serverbin/filter"
for f in /usr/lib/cups/filter/*; do
  case "$(basename "$f")" in vantora_*) ;; *) ln -s "$f" "$work/serverbin/filter/" ;; esac
done
ln -s "$build/filter/vantora_rt50_filter" "$build/photo/vantora_rt50_photo" "$work/serverbin/filter/"
printf 'ServerBin %s\nDataDir /usr/share/cups\nServerRoot /etc/cups\n' "$work/serverbin" > "$work/cups-files.conf"
made_start=0
[ -e /tmp/Print_1.log ] || { : > /tmp/Print_1.log; made_start=1; }
chain_start=$(date +%s.%N)
cupsfilter -c "$work/cups-files.conf" -p "$build/ppd/VANTORA_RT-50.ppd" -m printer/cupsfilter -e \
  "$work/photo.jpg" > "$work/chain.zpx" 2>/dev/null
chain_end=$(date +%s.%N)
[ $made_start -eq 0 ] || rm -f /tmp/Print_1.log
chain=$(echo "$chain_end - $chain_start" | bc -l)
printf 'filter chain alone: %.2f s with the job start file already there (its one-second pause, the photo decoded during it), %d bytes for the printer\n' \
  "$chain" "$(stat -c %s "$work/chain.zpx")"

# The backend behind a wrapper that puts it on the emulated USB bus.
printf '#!/bin/sh\nLD_PRELOAD=%s\nexport LD_PRELOAD\nexec %s "$@"\n' \
  "$build/tools/rt50-emulator/librt50_emulator_events.so:libumockdev-preload.so.0" \
  "$build/backend/vantora-zpxbackend" > "$work/bin/vantora-zpxbackend"
chmod 0700 "$work/bin/vantora-zpxbackend"

cat > "$work/inner.sh" <<INNER
set -eu
lpadmin -p BENCH -E -v "vantora-zpxbackend://VANTORA/RT-50?serial=$serial" -m VANTORA_RT-50.ppd
log=\$PRIVATE_CUPSD_ROOT/log/error_log
wait_sheets() { while [ "\$(ls "$work/sheets" | grep -c 'txt\$')" -lt "\$1" ]; do sleep 0.05; done; }
# 1. one photo
date +%s.%N > "$work/lp-single"
lp -d BENCH "$work/photo.jpg" >/dev/null
wait_sheets 1
while lpstat -o BENCH | grep -q .; do sleep 0.05; done
cp "\$log" "$work/single.log"
sleep $(echo "$print_ms / 1000 + 0.5" | bc -l)
# 3. a queue of photos
date +%s.%N > "$work/lp-queue"
for i in \$(seq $photos); do lp -d BENCH "$work/photo.jpg" >/dev/null; done
wait_sheets \$((1 + $photos))
while lpstat -o BENCH | grep -q .; do sleep 0.1; done
cp "\$log" "$work/queue.log"
INNER
"$build/tools/rt50-emulator/rt50-emulator" --serial "$serial" --print-ms "$print_ms" --output "$work/sheets" -- \
  sh -c 'exec "$0" --ppd "$1/ppd/VANTORA_RT-50.ppd" --filter "$1/filter/vantora_rt50_filter" \
           --filter "$1/photo/vantora_rt50_photo" --backend "$2/bin/vantora-zpxbackend" \
           --files-conf "SetEnv UMOCKDEV_DIR $UMOCKDEV_DIR" --cupsd-conf "LogTimeFormat usecs" \
           --cupsd-conf "LogLevel debug" -- sh "$2/inner.sh"' \
  "$build/tests/support/private-cupsd" "$build" "$work"

mtime() { stat -c %.3Y "$1"; }
# Timestamps of the scheduler's log ("[09/Dec/2026:00:44:01.123456 +0000]") as seconds.
logtime() { sed -E 's/^[A-Z] \[([0-9]+)\/([A-Za-z]+)\/([0-9]+):([0-9:.]+) .*/\2 \1 \3 \4/' | head -n 1 |
            { read -r m d y t; date -d "$d $m $y $t UTC" +%s.%N; }; }

lp_at=$(cat "$work/lp-single")
sheet_at=$(mtime "$work/sheets/$serial-sheet-0001.txt")
started=$(grep -m1 'Started filter' "$work/single.log" | logtime)
backend_started=$(grep -m1 'Started backend' "$work/single.log" | logtime)
figures=$(grep -m1 'Job figures' "$work/single.log" | sed 's/.*Job figures: //')
first=$(echo "$figures" | sed -E 's/.*first data after ([0-9.]+) s.*/\1/')
bytes=$(echo "$figures" | sed -E 's/.* ([0-9]+) bytes in.*/\1/')
send=$(echo "$figures" | sed -E 's/.*bytes in ([0-9.]+) s of transfers.*/\1/')
echo
echo "== one 12-megapixel JPEG"
printf 'lp to recorded sheet:        %6.2f s\n' "$(echo "$sheet_at - $lp_at" | bc -l)"
printf '  scheduler start:           %6.2f s (lp to the first filter)\n' "$(echo "$started - $lp_at" | bc -l)"
until_data=$(echo "$backend_started + $first - $started" | bc -l)
printf '  filter chain until data:   %6.2f s (of it 1 s the job start file'"'"'s pause, the photo decoded meanwhile, and up to 1 s more when the file appears just after a poll)\n' \
  "$until_data"
printf '  USB transfer (backend):    %6.2f s for %d bytes: %.1f MB/s against a link of 40 MB/s\n' \
  "$send" "$bytes" "$(echo "$bytes / $send / 1000000" | bc -l)"
printf '  printing:                  %6.2f s (the printer'"'"'s own time; the sheet is recorded when it is taken)\n' \
  "$(echo "$print_ms / 1000" | bc -l)"
printf '  host time per photo:       %6.2f s before the printer prints (scheduler, filter chain, transfer)\n' \
  "$(echo "$started - $lp_at + $until_data + $send" | bc -l)"
echo "  backend: $figures"

echo
echo "== $photos photos queued at once"
cpu=$(grep 'Job figures' "$work/queue.log" | tail -n "$photos" |
      sed -E 's/.*CPU ([0-9.]+) s user ([0-9.]+) s system.*/\1 \2/' | awk '{u+=$1; s+=$2} END {printf "%.3f s user, %.3f s system", u/NR, s/NR}')
echo "backend CPU per job: $cpu"
# When the printer takes a sheet it starts it at once, or when the sheet
# before it is done; it waits when a sheet comes after the previous one ended.
ls "$work/sheets/"*.txt | sort | tail -n "$photos" | while read -r f; do mtime "$f"; done > "$work/taken"
awk -v p="$print_ms" -v n="$photos" -v lp="$(cat "$work/lp-queue")" '
  { t = $1; if (NR == 1) { begin = t; end = t + p / 1000; first = t }
    else { if (t > end) { idle += t - end; if (t - end > worst) worst = t - end; end = t + p / 1000 } else end += p / 1000 } }
  END { total = end - begin; ideal = n * p / 1000;
        printf "first sheet taken %.2f s after the first lp; last sheet done %.2f s after the first was taken\n", first - lp, total;
        printf "sheets per minute: %.2f against the printer'"'"'s own %.2f (%.1f %%)\n", n * 60 / total, 60000 / p, 100 * ideal / total;
        printf "printer waited for the host between sheets: %.2f s in all, %.2f s at most\n", idle, worst }' "$work/taken"
