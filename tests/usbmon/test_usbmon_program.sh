#!/bin/sh
# The daemon program as a service runs it, under the emulated RT-50 with two
# printers and a private scheduler (started around this script by
# private-cupsd and rt50-emulator): it creates both queues by itself, a watch
# file brings an online status file, unplugging leaves the offline form, and
# a printer reporting a serial number with shell text gets no queue and runs
# nothing, and SIGTERM leaves the offline form. Quiet until then; that
# printer is reported once.
#   test_usbmon_program.sh DAEMON EMULATOR
set -u
daemon=$1
emulator=$2
dir=$(mktemp -d /tmp/usbmonprog.XXXXXX)
mkdir "$dir/bin"
# lpadmin through a stand-in that logs each run.
printf '#!/bin/sh\necho "$*" >> %s/lpadmin.log\nexec /usr/sbin/lpadmin "$@"\n' "$dir" > "$dir/bin/lpadmin"
chmod 755 "$dir/bin/lpadmin"
: > "$dir/lpadmin.log"

# Under AddressSanitizer the programs the daemon starts inherit its runtime;
# their leaks are not ours (and the daemon itself ends by SIGTERM).
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" PATH="$dir/bin:$PATH" VANTORA_RT50_FAILOVER="$dir/failover" "$daemon" --exchange-dir "$dir" 2> "$dir/stderr" &
pid=$!

fail() {
    echo "FAIL: $*"
    echo "--- queues"; lpstat -v 2>&1
    echo "--- daemon's standard error"; cat "$dir/stderr"
    kill "$pid" 2>/dev/null
    rm -rf "$dir"
    exit 1
}
# wait_for SECONDS COMMAND...: true once COMMAND succeeds.
wait_for() {
    tenths=$(($1 * 10)); shift
    while [ "$tenths" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tenths=$((tenths - 1))
    done
    "$@"
}
send() { "$emulator" --send "$1" > /dev/null || fail "emulator refused: $1"; }
value() { sed -n "s/^$2=\"\(.*\)\"\$/\1/p" "$dir/RT-50_$1.log" 2>/dev/null; }
has_value() { [ "$(value "$1" "$2")" = "$3" ]; }
own_lines() { grep -c '^vantora_rt50_usbmon:' "$dir/stderr"; }

uri='vantora-zpxbackend://VANTORA/RT-50?serial='
queues() { lpstat -v 2>/dev/null | grep -F "$uri" | sort; }
both_queues() {
    [ "$(queues)" = "device for VANTORA-RT-50-2: ${uri}RT50EMU0002
device for VANTORA-RT-50: ${uri}RT50EMU0001" ] ||
    [ "$(queues)" = "device for VANTORA-RT-50-2: ${uri}RT50EMU0001
device for VANTORA-RT-50: ${uri}RT50EMU0002" ]
}
wait_for 20 both_queues || fail "no queues VANTORA-RT-50 and VANTORA-RT-50-2 for both printers"

send 'set RT50EMU0001 remain 123'
: > "$dir/RT-50_RT50EMU0001_UTIL"
wait_for 10 has_value RT50EMU0001 MEDIA_REMAIN 123 || fail "a watch file brought no fresh status file"
has_value RT50EMU0001 PRINTER_SERIAL_NO RT50EMU0001 || fail "online status file without serial number"

send 'unplug RT50EMU0001'
wait_for 10 has_value RT50EMU0001 PRINTER_STATUS 99999 || fail "no offline status file after unplugging"
# The whole offline form is checked byte for byte by test_usbmon_daemon.
has_value RT50EMU0001 PRINTER_MESSAGE 00006 && has_value RT50EMU0001 PRINTER_SERIAL_NO '' &&
    [ "$(wc -l < "$dir/RT-50_RT50EMU0001.log")" = 16 ] || fail "offline status file is not the offline form"
[ "$(own_lines)" = 0 ] || fail "the daemon was not quiet in normal running"

# The second printer comes back reporting a serial number with shell text.
send 'unplug RT50EMU0002'
send "set RT50EMU0002 serialno x;touch $dir/pwned;\$(touch $dir/pwned)"
send 'plug RT50EMU0002'
wait_for 10 sh -c "[ \$(grep -c '^vantora_rt50_usbmon:' $dir/stderr) -ge 1 ]" ||
    fail "the printer with a bad serial number was not reported"
sleep 3
[ "$(own_lines)" = 1 ] || fail "the bad serial number was reported more than once"
grep -q 'serial number "x;touch' "$dir/stderr" || fail "the report does not name the serial number"
[ ! -e "$dir/pwned" ] || fail "the serial number's shell text was run"
[ "$(wc -l < "$dir/lpadmin.log")" = 2 ] || fail "lpadmin ran for the bad serial number"
[ -z "$(find "$dir" -maxdepth 1 -name 'RT-50_x*')" ] || fail "a status file was named by the bad serial number"

# Stopped by SIGTERM, the daemon leaves no printer shown as ready.
send 'plug RT50EMU0001'
wait_for 10 has_value RT50EMU0001 PRINTER_STATUS 00000 || fail "no online status file after plugging in again"
kill "$pid"
wait "$pid"
status=$?
[ "$status" = 0 ] || fail "the daemon ended with status $status after SIGTERM"
has_value RT50EMU0001 PRINTER_STATUS 99999 && [ "$(wc -l < "$dir/RT-50_RT50EMU0001.log")" = 16 ] ||
    fail "no offline status file after SIGTERM"
! grep -q 'Sanitizer\|runtime error' "$dir/stderr" || fail "a sanitizer reported"
rm -rf "$dir"
echo "PASS"
