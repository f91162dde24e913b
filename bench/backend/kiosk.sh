#!/usr/bin/env bash
# A kiosk's day, shortened: three emulated RT-50s (two with 4x6in media,
# one with 4.5x8in), their queues and media classes made by the USB monitor
# daemon in a private CUPS scheduler, the real filter and backend, and jobs
# of mixed sizes sent to the two classes in bursts while ribbon ends, door
# openings and unplugs come at random and one printer's media is changed
# from 4x6in to 4.5x8in halfway through.
#
#   bench/backend/kiosk.sh [BUILD_DIR]
#     JOBS       jobs submitted (default 200)
#     PRINT_MS   printing time of one sheet (default 400)
#     SEED       of the random choices (default 1)
#     LIMIT_S    the longest the jobs are waited for (default 900)
#     KEEP       set: the work folder (logs, sheets, samples) is kept
#
# As in soak.sh, each job has options of its own, which the printer records
# with each sheet, so the sheets tell which job they belong to. Every second
# the printers' and jobs' states are sampled: a class job not printing while
# a member of its class is idle, enabled, and its printer plugged in, ready
# and loaded with media that prints the job's size is a job waiting beside an
# idle able member. Prints jobs completed, sheets per printer, doubled and
# lost sheets, the longest such wait (goal: under 60 s), and the sheets
# page_log and the per-printer counts files count against the sheets the
# printers recorded. Exits 1 when a sheet was doubled or lost or a job did
# not complete.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/bench/backend/testbed.sh"
build=$(cd "${1:-$top/build}" && pwd)
jobs=${JOBS:-200}
print_ms=${PRINT_MS:-400}
seed=${SEED:-1}
limit_s=${LIMIT_S:-900}
work=$(mktemp -d /tmp/vkiosk.XXXXXX)
[ -n "${KEEP:-}" ] && echo "work folder: $work" || trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
mkdir -m 0755 "$work/bin" "$work/sheets"
mkdir -m 0700 "$work/records"
# The first two start with 4x6in media, the last with 4.5x8in; the second
# gets 4.5x8in media halfway through.
serials=("KIOSK$$A" "KIOSK$$B" "KIOSK$$C")

testbed_backend "$build" "$work"

# The jobs: "number class copies key big options". Six in ten are 4x4 or 4x6
# for the 4x6in class; the rest go to the 4.5x8in class, mostly its large
# sizes. big: the size needs 4.5x8in media. key: the settings the printer
# records with each of the job's sheets, distinct for each job where it can.
awk -v n="$jobs" -v seed="$seed" '
  BEGIN {
    srand(seed)
    split("102x102mm 102x153mm 102x204mm 115x115mm 115x153mm 115x204mm", size, " ")
    split("47 48 49 50 51 52", multicut, " ")
    split("Glossy Matte FineMatte Luster", finish, " "); split("0 1 21 22", finishCode, " ")
    split("Auto Enable Disable", decurl, " "); split("2 1 0", decurlCode, " ")
    for (j = 1; j <= n; j++) {
      large = rand() >= 0.6
      do {
        s = large && rand() < 0.85 ? 3 + int(rand() * 4) : 1 + int(rand() * 2)
        f = 1 + int(rand() * 4); d = 1 + int(rand() * 3)
        r = int(rand() * 2); v = int(rand() * 2); c = (s == 4) ? 0 : int(rand() * 2)
        key = sprintf("%08d|%08d|%08d|%08d|%02d0000000000|%08d", c ? 120 : 0, finishCode[f], r ? 0 : 1, v ? 20 : 0, decurlCode[d], multicut[s])
      } while ((key in used) && tries++ < 50)
      used[key] = 1; tries = 0
      copies = 1 + (rand() < 0.3) + (rand() < 0.1)
      printf "%d %s %d %s %d PageSize=%s,ZpxOvercoatFinish=%s,ZpxDecurl=%s,ZpxPrintRetry=%s,ZpxPrintSpeed=%s,Zpx2InchCut=%s\n",
        j, large ? "VANTORA-RT-50-4.5x8in" : "VANTORA-RT-50-4x6in", copies, key, (s >= 3), size[s], finish[f],
        decurl[d], r ? "Disable" : "Enable", v ? "Enable" : "Disable", c ? "Enable" : "Disable"
    }
  }' > "$work/plan"

cat > "$work/inner.sh" <<'INNER'
set -u
work=$1; jobs=$2; seed=$3; limit_s=$4; usbmon=$5; emulator=$6; photo=$7; shift 7
serials=("$@")
RANDOM=$seed
send() { "$emulator" --send "$*" > /dev/null 2>&1 || true; }
shown() { "$emulator" --send "show $1" 2>/dev/null | sed -n "s/^$2=//p"; }
# Notes a fault, with its time.
fault() { echo "$* $(date +%T.%N | cut -c1-12)" >> "$work/faults"; }

send "set ${serials[0]} media 150"; send "set ${serials[1]} media 150"; send "set ${serials[2]} media 161"
VANTORA_RT50_FAILOVER="$work/failover" "$usbmon" > "$work/usbmon.log" 2>&1 &
usbmon_pid=$!
queue_of() { lpstat -v 2>/dev/null | grep "serial=$1\$" | sed -E 's/^device for ([^:]+):.*/\1/'; }
for s in "${serials[@]}"; do
  for _ in $(seq 200); do [ -n "$(queue_of "$s")" ] && break; sleep 0.1; done
  echo "$s $(queue_of "$s")" >> "$work/queues"
done
for class in VANTORA-RT-50-4x6in VANTORA-RT-50-4.5x8in; do
  for _ in $(seq 600); do lpstat -c "$class" > /dev/null 2>&1 && break; sleep 0.1; done
  lpstat -c "$class" > /dev/null 2>&1 || echo "class $class not made" >> "$work/setup.errors"
done

faults() {
  # Random faults on random printers until the jobs are done; each mended
  # as a kiosk's staff would, after a while.
  while [ ! -e "$work/stop-faults" ]; do
    sleep "$((2 + RANDOM % 4)).$((RANDOM % 9))"
    s=${serials[$((RANDOM % 3))]}
    case $((RANDOM % 4)) in
      0) send "unplug $s"; fault "unplug $s"; sleep "$((RANDOM % 3)).$((RANDOM % 9))"; send "plug $s" ;;
      1) send "set $s status 1200"; fault "ribbon-end $s"; sleep "$((3 + RANDOM % 12))"; send "set $s status 0" ;;
      2) send "set $s status 1000"; fault "door $s"; sleep "$((1 + RANDOM % 4)).$((RANDOM % 9))"; send "set $s status 0" ;;
      3) ;;
    esac
  done
}

# Every second, one line per class job not printing: "time job able", able
# 1 when a member of its class could print it now.
sampler() {
  local t p c o q s show name id dest big able m cls
  declare -A serial_of
  while read -r s q; do serial_of[$q]=$s; done < "$work/queues"
  while [ ! -e "$work/stop-sampling" ]; do
    t=$(date +%s.%N)
    p=$(LC_ALL=C lpstat -p 2>/dev/null); c=$(LC_ALL=C lpstat -c 2>/dev/null); o=$(LC_ALL=C lpstat -o 2>/dev/null)
    declare -A small_ok=() big_ok=() big_of=() members=()
    for q in "${!serial_of[@]}"; do
      [[ $p == *"printer $q is idle.  enabled"* ]] || continue
      show=$'\n'$("$emulator" --send "show ${serial_of[$q]}" 2>/dev/null)$'\n'
      [[ $show == *$'\nplugged=1\n'* && $show == *$'\nstatus=0\n'* ]] || continue
      small_ok[$q]=1
      [[ $show == *$'\nmedia=161\n'* ]] && big_ok[$q]=1
    done
    while read -r m; do
      case $m in "members of class "*) cls=${m#members of class }; cls=${cls%:} ;; ?*) members[$cls]+=" $m" ;; esac
    done <<<"$c"
    [ -e "$work/submitted" ] && while read -r _ _ _ _ id big; do big_of[$id]=$big; done < "$work/submitted"
    while read -r name _; do
      [ -n "$name" ] || continue
      id=${name##*-}; dest=${name%-*}
      [[ $p == *"now printing "*"-$id."* ]] && continue
      big=${big_of[$id]:-0}; able=0
      for m in ${members[$dest]:-}; do
        if [ "$big" = 1 ]; then [ -n "${big_ok[$m]:-}" ] && able=1; else [ -n "${small_ok[$m]:-}" ] && able=1; fi
      done
      echo "$t $id $able"
    done <<<"$o" >> "$work/samples"
    echo "$t" >> "$work/sample-times"
    sleep 1
  done
}
faults & faults_pid=$!
sampler & sampler_pid=$!

submitted=0
while read -r j class copies key big options; do
  id=$(lp -d "$class" -n "$copies" -o "${options//,/ }" "$photo" 2>"$work/lp.error" | sed -E 's/.*-([0-9]+) .*/\1/')
  [ -s "$work/lp.error" ] && echo "job $j to $class at $(date +%T.%N | cut -c1-12): $(cat "$work/lp.error")" >> "$work/lp.errors"
  echo "$j $class $copies $key ${id:-0} $big" >> "$work/submitted"
  submitted=$((submitted + 1))
  # The staff load 4.5x8in media into the second printer halfway through.
  [ $submitted -eq $((jobs / 2)) ] && { send "set ${serials[1]} media 161"; fault "media-change ${serials[1]}"; }
  # Bursts: a few jobs at once, then a pause.
  [ $((submitted % (4 + RANDOM % 8))) -eq 0 ] && sleep "$((1 + RANDOM % 3)).$((RANDOM % 9))"
done < "$work/plan"

deadline=$(( $(date +%s) + limit_s ))
while [ "$(date +%s)" -lt "$deadline" ] && [ -n "$(lpstat -o 2>/dev/null)" ]; do sleep 1; done
touch "$work/stop-faults"
wait $faults_pid
for s in "${serials[@]}"; do send "set $s status 0"; [ "$(shown "$s" plugged)" = 1 ] || send "plug $s"; done
while [ "$(date +%s)" -lt $((deadline + 60)) ] && [ -n "$(lpstat -o 2>/dev/null)" ]; do sleep 1; done
touch "$work/stop-sampling"
wait $sampler_pid
sleep 2
lpstat -o 2>/dev/null > "$work/not-completed"
lpstat -l -p 2>/dev/null > "$work/queue-states"
kill -TERM $usbmon_pid; wait $usbmon_pid 2>/dev/null
root=$PRIVATE_CUPSD_ROOT
cat "$root/log/error_log.O" "$root/log/error_log" > "$work/error_log" 2>/dev/null
cat "$root/log/page_log.O" "$root/log/page_log" > "$work/page_log" 2>/dev/null
exit 0
INNER

begin=$(date +%s)
# UMOCKDEV_DIR is known only inside the emulator. The scheduler settings are
# soak.sh's: quick retries, room for bursts, the jobs' history kept.
"$build/tools/rt50-emulator/rt50-emulator" $(printf -- '--serial %s ' "${serials[@]}") --print-ms "$print_ms" \
  --output "$work/sheets" -- \
  bash -c 'cupsd=$1; build=$2; work=$3; shift 3
    exec "$cupsd" --ppd "$build/ppd/VANTORA_RT-50.ppd" --filter "$build/filter/vantora_rt50_filter" \
      --filter "$build/photo/vantora_rt50_photo" --backend "$work/bin/vantora-zpxbackend" \
      --files-conf "SetEnv UMOCKDEV_DIR $UMOCKDEV_DIR" --cupsd-conf "JobRetryInterval 2" \
      --cupsd-conf "JobRetryLimit 50" --cupsd-conf "MaxJobTime 0" --cupsd-conf "MaxJobs 500" --cupsd-conf "PreserveJobHistory Yes" --cupsd-conf "LogLevel debug" --cupsd-conf "MaxLogSize 0" --run-limit 100000 \
      -- bash "$work/inner.sh" "$work" "$@" 2> "$work/inner.log"' \
  kiosk "$build/tests/support/private-cupsd" "$build" "$work" "$jobs" "$seed" "$limit_s" \
  "$build/usbmon/vantora_rt50_usbmon" "$build/tools/rt50-emulator/rt50-emulator" "$top/tests/e2e/data/coffee.jpg" \
  "${serials[@]}" || true
elapsed=$(( $(date +%s) - begin ))

testbed_recorded "$work" > "$work/recorded"

echo "kiosk: $jobs jobs on 3 printers (2 x 4x6in, 1 x 4.5x8in), $print_ms ms a sheet, seed $seed, $elapsed s"
[ -s "$work/setup.errors" ] && cat "$work/setup.errors"
echo "faults injected: $(wc -l < "$work/faults" 2>/dev/null || echo 0) ($(sort "$work/faults" 2>/dev/null | awk '{print $1}' | uniq -c | awk '{printf "%s %s, ", $1, $2}' | sed 's/, $//'))"
submitted=$(awk '$5 != 0' "$work/submitted" 2>/dev/null | wc -l)
# A job is completed when that is the last of what happened to it.
testbed_completed "$work/error_log" 2>/dev/null > "$work/completed"
completed=$(awk 'NR==FNR {done[$1]=1; next} ($5 in done) {n++} END {print n+0}' "$work/completed" "$work/submitted" 2>/dev/null || echo 0)
echo "jobs: $completed completed of $submitted submitted ($jobs planned)"
# Sheets: a class job may print on any member, so its settings alone name it.
recorded_total=$(wc -l < "$work/recorded")
awk -v serials="${serials[*]}" -v mismatched="$work/mismatched" -v counts="$work/counts" '
  BEGIN { n = split(serials, s, " ") }
  NR == FNR { if ($5 != 0) { asked[$4] += $3; before = ($4 in id) ? id[$4] "," : ""; id[$4] = before $5 }; next }
  { got[$2]++; perGot[$1]++ }
  END {
    for (k in asked) {
      d = got[k] - asked[k]; if (d > 0) doubled += d; if (d < 0) lost -= d
      if (d != 0) printf "%s %d %d\n", id[k], asked[k], got[k] > mismatched
    }
    for (k in got) if (!(k in asked)) { doubled += got[k]; stray += got[k] }
    for (i = 1; i <= n; i++) {
      counted = "?"
      file = counts "/" s[i]
      while ((getline line < file) > 0) if (line ~ /^total=/) counted = substr(line, 7)
      printf "printer %s: %d sheets recorded, %s in its counts file\n", s[i], perGot[s[i]], counted
    }
    printf "doubled sheets: %d, lost sheets: %d%s\n", doubled, lost, stray ? " (" stray " recorded sheets of no job)" : ""
    exit (doubled > 0 || lost > 0) ? 1 : 0
  }' "$work/submitted" "$work/recorded" && clean=1 || clean=0
# page_log: a job's last line carries its count (a job run more than once
# has a line per run).
awk -v recorded="$recorded_total" '{ for (i = 4; i < NF; i++) if ($i == "total") { last[$3] = $(i + 1); break } }
     END { for (j in last) sum += last[j]; printf "page_log: %d sheets of %d jobs, against %d sheets the printers recorded\n", sum, length(last), recorded }' \
  "$work/page_log" 2>/dev/null || true
# The waits: for each job, the stretches of consecutive samples in which a
# member could have printed it, measured to the sample that ended them.
awk 'NR > 1 { gap = $1 - prev; if (gap > maxgap) maxgap = gap; sum += gap } { prev = $1 }
     END { if (NR > 1) printf "samples: %d, %.1f s apart on average, at most %.1f s\n", NR, sum / (NR - 1), maxgap }' \
  "$work/sample-times" 2>/dev/null || true
awk '{ t = $1; id = $2; able = $3
       if (pa[id]) { total[id] += t - tp[id]; run = t - rs[id]; if (run > maxrun[id]) maxrun[id] = run }
       if (able && !pa[id]) rs[id] = t
       pa[id] = able; tp[id] = t }
     END { for (id in maxrun) { if (maxrun[id] > worst) { worst = maxrun[id]; wid = id }
                                if (maxrun[id] > 60) over++
                                if (total[id] > worstTotal) worstTotal = total[id] }
           printf "longest wait beside an idle member able to print the job: %.1f s%s (goal: under 60 s); longest such time summed over a job: %.1f s; jobs over 60 s: %d\n",
             worst, wid ? " (job " wid ")" : "", worstTotal, over
           if (over) { print wid > "/dev/stderr" } }' "$work/samples" 2> "$work/worst-wait" || true
# A job that waited over 60 s beside an able member: what the scheduler
# said of it.
if [ -s "$work/worst-wait" ]; then
  job=$(cat "$work/worst-wait")
  echo "--- job $job waited over 60 s beside an able member: its samples and its log (last 40 lines)"
  awk -v id="$job" '$2 == id' "$work/samples" | awk 'NR == 1 || $3 != prev {print; prev = $3}'
  grep "\[Job $job\]" "$work/error_log" 2>/dev/null | grep -v '^d ' | tail -n 40
fi
if [ "$clean" = 1 ] && [ "$completed" = "$submitted" ] && [ "$submitted" = "$jobs" ]; then
  exit 0
fi
# The report of a failure: a grep that finds nothing must not end it.
set +e
[ -s "$work/lp.errors" ] && head -n 5 "$work/lp.errors"
[ -s "$work/not-completed" ] && head -n 5 "$work/not-completed"
echo "--- queues at the end"
cat "$work/queue-states" 2>/dev/null
echo "--- the faults, in order"
cat "$work/faults" 2>/dev/null
echo "--- the scheduler's errors (first 20)"
grep '^E ' "$work/error_log" 2>/dev/null | head -n 20
while read -r ids asked got; do
  for job in ${ids//,/ }; do
    echo "--- job $job: $asked sheets asked, $got recorded for its settings (its first 60 lines)"
    grep "\[Job $job\]" "$work/error_log" 2>/dev/null | grep -v '^d ' | head -n 60
  done
done < <(cat "$work/mismatched" 2>/dev/null)
echo "--- the daemon's log (last 15 lines)"
tail -n 15 "$work/usbmon.log" 2>/dev/null
exit 1
