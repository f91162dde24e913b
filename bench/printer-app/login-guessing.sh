#!/usr/bin/env bash
# Figures of the printer application (not a test; prints numbers): how many
# password guesses from one address PAM checks while 4 clients guess as
# fast as they can for $SECONDS_GUESSING seconds (default 90), how many
# were answered unchecked, and how long the administrator's login from
# another address takes meanwhile. In a network namespace of its own, with
# an emulated RT-50. Run from the top folder after building build/ (or
# BUILD=...); APP=... measures another build of the application.
#   bench/printer-app/login-guessing.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$top/build}
app=${APP:-$build/printer-app/vantora-rt50-printer-app}
if [ -z "${RT50_EMULATOR_SOCKET:-}" ]; then
  exec unshare -n -- "$build/tools/rt50-emulator/rt50-emulator" --printers 1 --print-ms 50 -- "$0" "$@"
fi
ip link set lo up
work=$(mktemp -d /tmp/rt50guess.XXXXXX)
mkdir -p "$work/pam" "$work/state" "$work/spool"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
cat >"$work/pam/check.sh" <<'EOF'
#!/bin/sh
pw=$(tr -d '\000\n')
[ "$PAM_USER:$pw" = "daemon:admin-secret" ]
EOF
chmod 755 "$work/pam/check.sh"
printf 'auth required pam_exec.so quiet expose_authtok %s\naccount required pam_permit.so\n' \
  "$work/pam/check.sh" >"$work/pam/vantora-rt50-printer-app"
port=8631
printer=VANTORA-RT-50_RT50EMU0001
SNAP_COMMON=$work/state VANTORA_RT50_PAM_CONFDIR=$work/pam VANTORA_RT50_POLL_MS=1000 \
  "$app" server -o server-port=$port -o admin-group=daemon \
  -o log-file="$work/log" -o log-level=info -o spool-directory="$work/spool" &
pids+=($!)
for i in $(seq 1 300); do
  ipptool -T 2 "ipp://localhost:$port/ipp/print/$printer" get-printer-attributes.test >/dev/null 2>&1 && break
  sleep 0.2
done
seconds=${SECONDS_GUESSING:-90}
guess() {
  local n=0 end=$((SECONDS + seconds))
  while [ $SECONDS -lt $end ]; do
    curl -s -o /dev/null -u "daemon:guess$1-$n" "http://127.0.0.1:$port/$printer/config" || true
    n=$((n + 1))
  done
  echo $n >"$work/sent-$1"
}
for g in 1 2 3 4; do guess $g & pids+=($!); done
sleep $((seconds / 2))
# The administrator from another address (127.0.0.2), in the middle of it.
start=$(date +%s.%N)
code=$(curl -s -o /dev/null -w '%{http_code}' --interface 127.0.0.2 -u daemon:admin-secret \
  "http://127.0.0.1:$port/$printer/config" || true)
admin=$(echo "$(date +%s.%N) - $start" | bc)
wait "${pids[@]:1}" 2>/dev/null || true
sent=$(cat "$work"/sent-* | paste -sd+ | bc)
checked=$(grep -c 'Login of "daemon" refused[.;]' "$work/log" || true)
unchecked=$(grep -c 'refused unchecked' "$work/log" || true)
echo "guesses from 127.0.0.1 in ${seconds} s: $sent sent, $checked checked by PAM ($(echo "scale=2; $checked / $seconds" | bc) per second), $unchecked refused unchecked"
echo "administrator's login from 127.0.0.2 meanwhile: HTTP $code in ${admin} s"
