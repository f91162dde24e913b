#!/usr/bin/env bash
# Figures of the USB monitor daemon, measured on the program itself under the
# emulated RT-50 with four printers and a private scheduler:
#   - CPU of the idle daemon with four registered printers nobody watches,
#   - time from creating a watch file to the first status file,
#   - status file refresh interval with all four printers watched,
#   - time from unplugging a printer to its offline status file (watched and not).
#   usbmon-figures.sh DAEMON EMULATOR PRIVATE_CUPSD [--benchmark_filter=REGEX ...]
# tools/run-benchmarks.sh runs it as build-release/bench/usbmon/bench_usbmon_figures.
# The exchange folder is a private one holding 100 other files, as a busy /tmp would.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
  daemon=$1 emulator=$2 cupsd=$3
  shift 3
  for arg in "$@"; do
    case $arg in
      --benchmark_filter=*) echo UsbmonFigures | grep -Eq -- "${arg#*=}" || exit 0 ;;
    esac
  done
  export TMPDIR=/tmp
  exec "$cupsd" -- "$emulator" --printers 4 -- "$0" --inside "$daemon" "$emulator"
fi
daemon=$2 emulator=$3
dir=$(mktemp -d /tmp/usbmonfig.XXXXXX)
for i in $(seq 100); do : > "$dir/other-file-$i"; done
"$daemon" --exchange-dir "$dir" 2> "$dir/stderr" &
pid=$!
trap 'kill $pid 2>/dev/null; rm -rf "$dir"' EXIT

now() { date +%s%N; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
send() { "$emulator" --send "$1" > /dev/null; }
serials="RT50EMU0001 RT50EMU0002 RT50EMU0003 RT50EMU0004"
status_is() { [ "$(sed -n 's/^PRINTER_STATUS="\(.*\)"$/\1/p' "$dir/RT-50_$1.log" 2>/dev/null)" = "$2" ]; }
# wait_until SECONDS COMMAND...
wait_until() {
  local end=$(( $(now) + $1 * 1000000000 )); shift
  until "$@"; do
    [ "$(now)" -lt "$end" ] || { echo "timed out: $*" >&2; cat "$dir/stderr" >&2; exit 1; }
    sleep 0.005
  done
}
# CPU time of all the daemon's threads, in nanoseconds.
cpu_ns() { cat /proc/"$pid"/task/*/schedstat | awk '{ sum += $1 } END { print sum }'; }
# "min median max" of the numbers on standard input, in seconds.
spread() { sort -n | awk '{ v[NR] = $1 } END { printf "min %.3f s  median %.3f s  max %.3f s (%d runs)", v[1] / 1e9, v[int((NR + 1) / 2)] / 1e9, v[NR] / 1e9, NR }'; }

four_queues() { [ "$(lpstat -v 2>/dev/null | grep -c vantora-zpxbackend)" = 4 ]; }
wait_until 30 four_queues
sleep 3

window=30
before=$(cpu_ns)
sleep "$window"
after=$(cpu_ns)
awk -v ns=$((after - before)) -v s=$window 'BEGIN { printf "UsbmonIdleCpu/4registered/unwatched    %.4f %% of one core (%d s)\n", ns / (s * 1e7), s }'

runs=7
for run in $(seq $runs); do
  rm -f "$dir/RT-50_RT50EMU0001.log"
  start=$(now)
  : > "$dir/RT-50_RT50EMU0001_UTIL"
  wait_until 10 test -e "$dir/RT-50_RT50EMU0001.log"
  echo $(( $(now) - start ))
  rm -f "$dir/RT-50_RT50EMU0001_UTIL"
  sleep 1.$((run * 13 % 10))   # the watch period ends; start at another point of the cycle
done | spread | sed 's/^/UsbmonWatchToFirstStatusFile           /'; echo

for s in $serials; do : > "$dir/RT-50_${s}_UTIL"; done
sleep 3
window=20
end=$(( $(now) + window * 1000000000 ))
while [ "$(now)" -lt "$end" ]; do
  for s in $serials; do printf '%s %s\n' "$s" "$(stat -c %.9Y "$dir/RT-50_$s.log" 2>/dev/null)"; done
  sleep 0.01
done | awk '
  $2 != last[$1] { if (last[$1] != "") { sum += $2 - last[$1]; n++ } last[$1] = $2 }
  END { printf "UsbmonRefreshInterval/4watched         mean %.3f s over %d rewrites\n", sum / n, n }'

for mode in watched unwatched; do
  [ $mode = unwatched ] && rm -f "$dir/RT-50_RT50EMU0002_UTIL" && sleep 2
  for run in $(seq 5); do
    sleep 0.$((run * 37 % 10))
    start=$(now)
    send 'unplug RT50EMU0002'
    wait_until 20 status_is RT50EMU0002 99999
    echo $(( $(now) - start ))
    send 'plug RT50EMU0002'
    if [ $mode = watched ]; then
      wait_until 20 status_is RT50EMU0002 00000
    else
      sleep 2
    fi
  done | spread | sed "s/^/UsbmonUnplugToOfflineFile\/$mode$( [ $mode = watched ] && echo '  ' )   /"; echo
done
