#!/usr/bin/env bash
# Soak of the CUPS print path as a kiosk uses it: emulated RT-50s, their
# queues made by the USB monitor daemon in a private CUPS scheduler, the
# real filter and backend, and jobs submitted in bursts while faults are
# injected at random: unplugs (some in the middle of a transfer), paper
# ends, door openings (some just after a START), one scheduler restart and
# one media change.
#
#   bench/backend/soak.sh [BUILD_DIR]
#     JOBS       jobs submitted (default 300)
#     PRINTERS   emulated printers (default 4)
#     PRINT_MS   printing time of one sheet (default 400)
#     SEED       of the random choices (default 1)
#     LIMIT_S    the longest the jobs are waited for (default 900)
#     KEEP       set: the work folder (logs, sheets) is kept
#     RESTART    0: no scheduler restart (default 1)
#     LOG_LEVEL  the scheduler's LogLevel (default debug)
#
# Each job has options of its own (page size, surface finish, cutting,
# speed, decurl, retry), which the printer records with each sheet, so the
# sheets tell which job they belong to. Prints: jobs submitted, completed
# and not completed; sheets asked, recorded and counted per printer
# (the backend's printer counts), the sheets page_log counts; doubled and lost
# sheets; the daemon's memory before and after; files left in /tmp. Exits 1
# when a sheet was doubled or lost or a job did not complete.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/bench/backend/testbed.sh"
build=$(cd "${1:-$top/build}" && pwd)
jobs=${JOBS:-300}
printers=${PRINTERS:-4}
print_ms=${PRINT_MS:-400}
seed=${SEED:-1}
limit_s=${LIMIT_S:-900}
restart=${RESTART:-1}
work=$(mktemp -d /tmp/vsoak.XXXXXX)
[ -n "${KEEP:-}" ] && echo "work folder: $work" || trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
mkdir -m 0755 "$work/bin" "$work/sheets"
mkdir -m 0700 "$work/records"

serials=()
for i in $(seq "$printers"); do serials+=("SOAK$$P$i"); done
touch "$work/started"

testbed_backend "$build" "$work"

# The jobs: each a distinct set of options; the last printer starts with
# 4x6in media and gets only the sizes that media prints, but for one job.
awk -v n="$jobs" -v p="$printers" -v seed="$seed" '
  BEGIN {
    srand(seed)
    split("102x102mm 102x153mm 102x204mm 115x115mm 115x153mm 115x204mm", size, " ")
    split("47 48 49 50 51 52", multicut, " ")
    split("Glossy Matte FineMatte Luster", finish, " "); split("0 1 21 22", finishCode, " ")
    split("Auto Enable Disable", decurl, " "); split("2 1 0", decurlCode, " ")
    media_job = int(n * 0.6)
    for (j = 1; j <= n; j++) {
      q = j == media_job ? p : (j - 1) % p + 1
      small = (q == p && j != media_job)
      do {
        s = small ? 1 + int(rand() * 2) : (j == media_job ? 4 : 1 + int(rand() * 6))
        f = 1 + int(rand() * 4); d = 1 + int(rand() * 3)
        r = int(rand() * 2); v = int(rand() * 2); c = (s == 4) ? 0 : int(rand() * 2)
        key = sprintf("%08d|%08d|%08d|%08d|%02d0000000000|%08d", c ? 120 : 0, finishCode[f], r ? 0 : 1, v ? 20 : 0, decurlCode[d], multicut[s])
      } while ((key in used) && tries++ < 50)
      used[key] = 1; tries = 0
      copies = 1 + (rand() < 0.3) + (rand() < 0.1)
      border = rand() < 0.3 ? "Enable" : "Disable"
      printf "%d %d %d %s PageSize=%s,ZpxOvercoatFinish=%s,ZpxDecurl=%s,ZpxPrintRetry=%s,ZpxPrintSpeed=%s,Zpx2InchCut=%s,ZpxBorder=%s %s\n",
        j, q, copies, key, size[s], finish[f], decurl[d], r ? "Disable" : "Enable", v ? "Enable" : "Disable",
        c ? "Enable" : "Disable", border, (j == media_job ? "media" : "-")
    }
  }' > "$work/plan"

cat > "$work/inner.sh" <<'INNER'
set -u
work=$1; jobs=$2; printers=$3; seed=$4; limit_s=$5; usbmon=$6; emulator=$7; photo=$8; shift 8
serials=("$@")
RANDOM=$seed
send() { "$emulator" --send "$*" > /dev/null 2>&1 || true; }
shown() { "$emulator" --send "show $1" 2>/dev/null | sed -n "s/^$2=//p"; }
# Notes a fault, with its time.
fault() { echo "$* $(date +%T.%N | cut -c1-12)" >> "$work/faults"; }
root=$PRIVATE_CUPSD_ROOT

send "set ${serials[$((printers - 1))]} media 150"
for s in "${serials[@]:0:$((printers - 1))}"; do send "set $s media 161"; done

VANTORA_RT50_FAILOVER="$work/failover" "$usbmon" > "$work/usbmon.log" 2>&1 &
usbmon_pid=$!
queue_of() { lpstat -v 2>/dev/null | grep "serial=$1\$" | sed -E 's/^device for ([^:]+):.*/\1/'; }
for s in "${serials[@]}"; do
  for _ in $(seq 200); do [ -n "$(queue_of "$s")" ] && break; sleep 0.1; done
  echo "$s $(queue_of "$s")" >> "$work/queues"
done
sleep 1
grep VmRSS /proc/$usbmon_pid/status | awk '{print $2}' > "$work/rss-before"
mapfile -t queues < <(awk '{print $2}' "$work/queues")

faults() {
  # Random faults on random printers until the jobs are done.
  while [ ! -e "$work/stop-faults" ]; do
    sleep "$((1 + RANDOM % 3)).$((RANDOM % 9))"
    # An unplug in the middle of a transfer may come late: the cable goes back in.
    for s in "${serials[@]}"; do [ "$(shown "$s" plugged)" = 0 ] && send "plug $s"; done
    s=${serials[$((RANDOM % printers))]}
    case $((RANDOM % 6)) in
      0) send "unplug $s"; fault "unplug $s"; sleep "$((RANDOM % 2)).$((RANDOM % 9))"; send "plug $s" ;;
      1) send "fault $s unplugafter $((RANDOM * 40))"; fault "unplug-mid-transfer $s"
         sleep 3; send "fault $s clear"
         [ "$(shown "$s" plugged)" = 0 ] && { sleep 0.5; send "plug $s"; } ;;
      2) send "set $s status 1100"; fault "paper-end $s"; sleep "1.$((RANDOM % 9))"; send "set $s status 0" ;;
      3) send "set $s status 1000"; fault "door $s"; sleep "0.$((RANDOM % 9 + 1))"; send "set $s status 0" ;;
      4) send "fault $s afterstart 1000"; fault "door-after-start $s"
         sleep "1.$((RANDOM % 9))"; send "fault $s clear"; send "set $s status 0" ;;
      5) ;;
    esac
  done
}
faults &
faults_pid=$!

restart_cupsd() {
  local pid
  pid=$(pgrep -f -x "cupsd -f -c $root/etc/cupsd.conf -s $root/etc/cups-files.conf" | head -n 1)
  [ -n "$pid" ] || return
  kill -TERM "$pid"
  # Gone, or a zombie of private-cupsd's.
  while [ -e "/proc/$pid" ] && ! awk '{exit $3 == "Z" ? 0 : 1}' "/proc/$pid/stat" 2>/dev/null; do sleep 0.1; done
  env -u LD_PRELOAD cupsd -f -c "$root/etc/cupsd.conf" -s "$root/etc/cups-files.conf" >> "$root/log/cupsd.out" 2>&1 &
  echo $! > "$work/cupsd-pid"
  # lpstat -r exits 0 either way: its words tell.
  for _ in $(seq 100); do [ "$(LC_ALL=C lpstat -r 2>/dev/null)" = "scheduler is running" ] && break; sleep 0.1; done
  fault "scheduler restarted"
}

submitted=0
while read -r j q copies key options media; do
  queue=${queues[$((q - 1))]}
  id=$(lp -d "$queue" -n "$copies" -o "${options//,/ }" "$photo" 2>"$work/lp.error" | sed -E 's/.*-([0-9]+) .*/\1/')
  [ -s "$work/lp.error" ] && echo "job $j to $queue at $(date +%T.%N | cut -c1-12): $(cat "$work/lp.error")" >> "$work/lp.errors"
  echo "$j $q $copies $key ${id:-0}" >> "$work/submitted"
  submitted=$((submitted + 1))
  if [ "$media" = media ]; then
    # The wrong media waits with media-needed until the media is changed.
    s=${serials[$((q - 1))]}
    for _ in $(seq 600); do lpstat -l -p "$queue" 2>/dev/null | grep -q media-needed && break; sleep 0.1; done
    lpstat -l -p "$queue" 2>/dev/null | grep -q media-needed && fault "media-needed seen on $queue"
    send "set $s media 161"; fault "media change $s"
  fi
  [ "$RESTART" = 1 ] && [ $submitted -eq $((jobs * 2 / 5)) ] && restart_cupsd
  # Bursts: a few jobs at once, then a pause.
  [ $((submitted % (5 + RANDOM % 8))) -eq 0 ] && sleep "$((RANDOM % 2)).$((RANDOM % 9))"
done < "$work/plan"

deadline=$(( $(date +%s) + limit_s ))
while [ "$(date +%s)" -lt "$deadline" ]; do
  [ -z "$(lpstat -o 2>/dev/null)" ] && break
  sleep 1
done
touch "$work/stop-faults"
wait $faults_pid
for s in "${serials[@]}"; do send "set $s status 0"; send "fault $s clear"; [ "$(shown "$s" plugged)" = 1 ] || send "plug $s"; done
# Jobs still waiting (a printer left in an error by the last fault) get
# their chance once every printer is back.
while [ "$(date +%s)" -lt $((deadline + 60)) ] && [ -n "$(lpstat -o 2>/dev/null)" ]; do sleep 1; done
sleep 2
grep VmRSS /proc/$usbmon_pid/status | awk '{print $2}' > "$work/rss-after"
lpstat -o 2>/dev/null > "$work/not-completed"
lpstat -l -p 2>/dev/null > "$work/queue-states"
kill -TERM $usbmon_pid; wait $usbmon_pid 2>/dev/null
for s in "${serials[@]}"; do echo "$s $(shown "$s" errors)" >> "$work/framing"; done
cat "$root/log/error_log.O" "$root/log/error_log" > "$work/error_log" 2>/dev/null
cat "$root/log/page_log.O" "$root/log/page_log" > "$work/page_log" 2>/dev/null
if [ -s "$work/cupsd-pid" ]; then
  kill -TERM "$(cat "$work/cupsd-pid")"; wait "$(cat "$work/cupsd-pid")" 2>/dev/null
fi
exit 0
INNER

begin=$(date +%s)
# UMOCKDEV_DIR is known only inside the emulator. The scheduler takes as
# many jobs (500) and keeps its jobs' history and files as CUPS does by
# default (bursts queue more than 100 jobs at once): when it stops while
# several jobs print, CUPS 2.4 completes one of them with its backend still
# running, and only its saved files let it run again after the start.
export RESTART=$restart LOG_LEVEL=${LOG_LEVEL:-debug}
"$build/tools/rt50-emulator/rt50-emulator" $(printf -- '--serial %s ' "${serials[@]}") --print-ms "$print_ms" \
  --output "$work/sheets" -- \
  bash -c 'cupsd=$1; build=$2; work=$3; shift 3
    exec "$cupsd" --ppd "$build/ppd/VANTORA_RT-50.ppd" --filter "$build/filter/vantora_rt50_filter" \
      --filter "$build/photo/vantora_rt50_photo" --backend "$work/bin/vantora-zpxbackend" \
      --files-conf "SetEnv UMOCKDEV_DIR $UMOCKDEV_DIR" --cupsd-conf "JobRetryInterval 2" \
      --cupsd-conf "JobRetryLimit 50" --cupsd-conf "MaxJobTime 0" --cupsd-conf "MaxJobs 500" --cupsd-conf "PreserveJobHistory Yes" --cupsd-conf "LogLevel ${LOG_LEVEL:-debug}" --cupsd-conf "MaxLogSize 0" --run-limit 100000 \
      -- bash "$work/inner.sh" "$work" "$@" 2> "$work/inner.log"' \
  soak "$build/tests/support/private-cupsd" "$build" "$work" "$jobs" "$printers" "$seed" "$limit_s" \
  "$build/usbmon/vantora_rt50_usbmon" "$build/tools/rt50-emulator/rt50-emulator" "$top/tests/e2e/data/coffee.jpg" \
  "${serials[@]}" || true
elapsed=$(( $(date +%s) - begin ))

testbed_recorded "$work" > "$work/recorded"

echo "soak: $jobs jobs on $printers printers, $print_ms ms a sheet, seed $seed, $elapsed s"
echo "faults injected: $(wc -l < "$work/faults" 2>/dev/null || echo 0) ($(sort "$work/faults" 2>/dev/null | awk '{print $1}' | uniq -c | awk '{printf "%s %s, ", $1, $2}' | sed 's/, $//'))"
submitted=$(awk '$5 != 0' "$work/submitted" 2>/dev/null | wc -l)
refused=$(awk '$5 == 0' "$work/submitted" 2>/dev/null | wc -l)
# A job is completed when that is the last of what happened to it: a
# scheduler that stops may log a job completed that it runs again after its
# start, or aborts for want of its files.
testbed_completed "$work/error_log" 2>/dev/null > "$work/completed"
completed=$(awk 'NR==FNR {done[$1]=1; next} ($5 in done) {n++} END {print n+0}' "$work/completed" "$work/submitted" 2>/dev/null || echo 0)
echo "jobs: $submitted submitted, $completed completed, $((submitted - completed)) held or not completed$([ "$refused" = 0 ] || echo ", $refused refused by the scheduler")"
awk -v serials="${serials[*]}" -v mismatched="$work/mismatched" -v counts="$work/counts" '
  BEGIN { n = split(serials, s, " "); for (i = 1; i <= n; i++) idx[s[i]] = i; countsDir = counts }
  NR == FNR { k = $2 "|" $4; if ($5 != 0) { asked[k] += $3; perAsked[$2] += $3; before = (k in id) ? id[k] "," : ""; id[k] = before $5 }; next }
  { q = idx[$1]; got[q "|" $2]++; perGot[q]++ }
  END {
    for (k in asked) {
      d = got[k] - asked[k]; if (d > 0) doubled += d; if (d < 0) lost -= d
      if (d != 0) printf "%s %d %d\n", id[k], asked[k], got[k] > mismatched
    }
    for (k in got) if (!(k in asked)) { doubled += got[k]; stray += got[k] }
    for (i = 1; i <= n; i++) {
      counted = "?"
      file = countsDir "/" s[i]
      while ((getline line < file) > 0) if (line ~ /^total=/) counted = substr(line, 7)
      printf "printer %s: %d sheets asked, %d recorded, %s counted\n", s[i], perAsked[i], perGot[i], counted
    }
    printf "doubled sheets: %d, lost sheets: %d%s\n", doubled, lost, stray ? " (" stray " recorded sheets of no job)" : ""
    exit (doubled > 0 || lost > 0) ? 1 : 0
  }' "$work/submitted" "$work/recorded" && clean=1 || clean=0
# page_log: a job's last line carries its count (a job run more than once
# has a line per run).
awk '{ for (i = 4; i < NF; i++) if ($i == "total") { last[$3] = $(i + 1); break } }
     END { for (j in last) sum += last[j]; printf "page_log: %d jobs, %d sheets\n", length(last), sum }' \
  "$work/page_log" 2>/dev/null || true
echo "daemon memory (VmRSS): $(cat "$work/rss-before" 2>/dev/null || echo ?) kB before, $(cat "$work/rss-after" 2>/dev/null || echo ?) kB after"
# Files of /tmp matching `find` tests; other tests come and go there meanwhile.
count_in_tmp() { { find /tmp -maxdepth 1 "$@" 2>/dev/null || true; } | wc -l; }
left_pause=0; left_status=0
for s in "${serials[@]}"; do
  left_pause=$((left_pause + $(count_in_tmp -name "Pause_*serial=$s")))
  left_status=$((left_status + $(count_in_tmp -name "RT-50_$s.log")))
done
left_start=$(count_in_tmp -name 'Print_*.log' -newer "$work/started")
left_records=$(find "$work/records" -type f | wc -l)
echo "files left in /tmp: $left_pause pause files, $left_start job start files (any program's, made during the soak), $left_status status files (the daemon's offline files, kept by design); job records kept: $left_records (one per ended job, by design)"
echo "framing errors at the printers: $(awk '{s += $2} END {print s+0}' "$work/framing" 2>/dev/null)"
if [ "$clean" = 1 ] && [ "$completed" = "$submitted" ] && [ "$submitted" = "$jobs" ]; then
  exit 0
fi
# The report of a failure: a grep that finds nothing must not end it.
set +e
[ -s "$work/lp.errors" ] && head -n 5 "$work/lp.errors"
[ -s "$work/not-completed" ] && head -n 5 "$work/not-completed"
# Why: the queues' states at the end, the scheduler's errors, the first
# stuck job's own log lines and the daemon's last words.
echo "--- queues at the end"
cat "$work/queue-states" 2>/dev/null
echo "--- the faults, in order"
cat "$work/faults" 2>/dev/null
echo "--- the scheduler's errors (first 20)"
grep '^E ' "$work/error_log" 2>/dev/null | head -n 20
first=$(head -n 1 "$work/not-completed" 2>/dev/null | awk '{print $1}' | sed -E 's/.*-([0-9]+)$/\1/')
if [ -n "$first" ]; then
  echo "--- job $first (its first 40 and last 20 lines)"
  grep "\[Job $first\]" "$work/error_log" 2>/dev/null | grep -v '^d ' | head -n 40
  echo "..."
  grep "\[Job $first\]" "$work/error_log" 2>/dev/null | grep -v '^d ' | tail -n 20
fi
# Jobs printed more or fewer times than asked: what their backends said.
while read -r ids asked got; do
  for job in ${ids//,/ }; do
    echo "--- job $job: $asked sheets asked, $got recorded for its settings (its first 150 lines but the scheduler's set-up)"
    grep "\[Job $job\]" "$work/error_log" 2>/dev/null | grep -v '^d ' |
      grep -v -E '\] (envp|argv)\[|\] (ATTR:|Set job-printer-state-message|Wrote |Loading |Adding |Discarding |Sending |Applying )' |
      head -n 150
  done
done < <(cat "$work/mismatched" 2>/dev/null)
echo "--- the daemon's log (last 15 lines)"
tail -n 15 "$work/usbmon.log" 2>/dev/null
exit 1
