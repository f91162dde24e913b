# Pieces the print path's soak (soak.sh) and kiosk run (kiosk.sh) share;
# sourced by them, not run.

# Writes WORK/bin/vantora-zpxbackend: the backend of BUILD on the emulated
# bus, with hot-plug events of its own and the jobs' records, the printers'
# counts and the failover marks in WORK.
testbed_backend() {
  local build=$1 work=$2
  printf '#!/bin/sh\nLD_PRELOAD=%s\nVANTORA_RT50_JOB_RECORDS=%s\nVANTORA_RT50_COUNTS=%s\nVANTORA_RT50_FAILOVER=%s\nexport LD_PRELOAD VANTORA_RT50_JOB_RECORDS VANTORA_RT50_COUNTS VANTORA_RT50_FAILOVER\nexec %s "$@"\n' \
    "$build/tools/rt50-emulator/librt50_emulator_events.so:libumockdev-preload.so.0" "$work/records" "$work/counts" \
    "$work/failover" "$build/backend/vantora-zpxbackend" > "$work/bin/vantora-zpxbackend"
  chmod 0700 "$work/bin/vantora-zpxbackend"
}

# Prints a line "serial key" for each sheet the emulated printers recorded in
# WORK/sheets; key is the sheet's settings, which name its job.
testbed_recorded() {
  local f
  for f in "$1/sheets"/*-sheet-*.txt; do
    [ -e "$f" ] || continue
    awk -F= '/^SERIAL=/ {s=$2} /^CUTTER=/ {c=$2} /^OVERCOAT=/ {o=$2} /^BUFFCNTRL=/ {b=$2} /^PRINTSPEED=/ {p=$2}
             /^DECURL=/ {d=$2} /^MULTICUT=/ {m=$2}
             END {print s, c "|" o "|" b "|" p "|" d "|" m}' "$f"
  done
}

# Prints the ids of the jobs the scheduler's log FILE shows completed as the
# last of what happened to them: a scheduler that stops may log a job
# completed that it runs again after its start, or aborts for want of its
# files.
testbed_completed() {
  awk 'match($0, /\[Job [0-9]+\] /) {
         id = substr($0, RSTART + 5, RLENGTH - 7); text = substr($0, RSTART + RLENGTH)
         if (text ~ /^Job completed\./) last[id] = "completed"
         else if (text ~ /^Started backend/) last[id] = "running"
         else if ($1 ~ /^[IE]$/ && text ~ /[Aa]bort|[Cc]ancel|Job held|Job stopped/) last[id] = "ended"
       }
       END { for (id in last) if (last[id] == "completed") print id }' "$1" | sort -n
}
