#!/usr/bin/env bash
# Figures of the USB monitor daemon, measured on the program itself under the
# emulated RT-50 with four printers and a private scheduler:
#   - CPU of the idle daemon with four registered printers nobody watches,
#     beside 100 other files in the exchange folder and beside 100,000,
#   - time from creating a watch file to the first status file,
#   - status file refresh interval with all four printers watched,
#   - time from unplugging a printer to its offline status file (watched and not),
#   - the worst age of the three healthy watched printers' status files while
#     the fourth stays silent (the daemon's own 10 s transfer time-out).
#   usbmon-figures.sh DAEMON EMULATOR PRIVATE_CUPSD [--benchmark_filter=REGEX ...]
# tools/run-benchmarks.sh runs it as build-release/bench/usbmon/bench_usbmon_figures.
# The exchange folder is a private one holding 100 other files, as a busy /tmp would.
# It takes about three minutes.
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
  # Two runs, each with its own scheduler, printers and daemon (a run may
  # last two minutes at most): the figures of normal running, then those
  # with a silent printer.
  for part in normal silent; do
    "$cupsd" -- "$emulator" --printers 4 -- "$0" --inside "$daemon" "$emulator" $part
  done
  exit
fi
daemon=$2 emulator=$3 part=$4
dir=$(mktemp -d /tmp/usbmonfig.XXXXXX)
for i in $(seq 100); do : > "$dir/other-file-$i"; done
VANTORA_RT50_FAILOVER="$dir/failover" "$daemon" --exchange-dir "$dir" 2> "$dir/stderr" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$dir"' EXIT

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

if [ "$part" = silent ]; then
  # One printer of four falls silent (answers no query) while all are
  # watched: the others' status files must not wait for its time-outs.
  for s in $serials; do : > "$dir/RT-50_${s}_UTIL"; done
  sleep 3
  send 'fault RT50EMU0004 noanswer 0'
  sleep 12   # well inside its first silent cycle
  window=45
  end=$(( $(now) + window * 1000000000 ))
  while [ "$(now)" -lt "$end" ]; do
    t=$(now)
    for s in RT50EMU0001 RT50EMU0002 RT50EMU0003; do
      echo "$(( t - $(stat -c %.9Y "$dir/RT-50_$s.log" | tr -d .) ))"
    done
    sleep 0.05
  done | awk -v s=$window '
    { if ($1 > worst) worst = $1; sum += $1; n++ }
    END { printf "UsbmonHealthyStatusAge/1of4silent      worst %.3f s  mean %.3f s (3 watched printers, %d s)\n", worst / 1e9, sum / n / 1e9, s }'
  # The daemon stops within one transfer time-out, leaving offline files.
  start=$(now)
  kill "$pid"
  wait "$pid" || true
  awk -v ns=$(( $(now) - start )) 'BEGIN { printf "UsbmonStopWith1of4silent               %.3f s to the offline files\n", ns / 1e9 }'
  for s in $serials; do status_is "$s" 99999 || { echo "no offline file for $s" >&2; exit 1; }; done
  exit 0
fi

# idle_cpu NAME SECONDS: the daemon's CPU over that time, as a share of one core.
idle_cpu() {
  local before after
  before=$(cpu_ns)
  sleep "$2"
  after=$(cpu_ns)
  awk -v ns=$((after - before)) -v s="$2" -v name="$1" 'BEGIN { printf "%-39s %.4f %% of one core (%d s)\n", name, ns / (s * 1e7), s }'
}
idle_cpu UsbmonIdleCpu/4registered/unwatched 15
# A crowded /tmp: the daemon looks only at the names of each printer's files.
seq -f "$dir/bulk-%g" 100000 | xargs touch
sleep 2
idle_cpu UsbmonIdleCpu/4registered/100000files 15
find "$dir" -maxdepth 1 -name 'bulk-*' -delete

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

