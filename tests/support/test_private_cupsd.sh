#!/bin/sh
# The private-cupsd command gives a shell command its own scheduler.
set -eu
tool=$1
out=$("$tool" -- sh -c '
  lpstat -r &&
  lpadmin -p Shell-Test -E -v file:///dev/null -m VANTORA_RT-50.ppd &&
  lpstat -v Shell-Test &&
  echo "root=$PRIVATE_CUPSD_ROOT"')
echo "$out"
echo "$out" | grep -q "scheduler is running"
echo "$out" | grep -q "device for Shell-Test: .*dev/null"
root=$(echo "$out" | sed -n 's/^root=//p')
[ -n "$root" ] && [ ! -e "$root" ] || { echo "root $root left behind"; exit 1; }

# A scheduler that cannot start is reported with status 125.
if "$tool" --ppd /nonexistent.ppd -- true 2>/dev/null; then
  echo "a missing PPD must keep the scheduler from starting"; exit 1
fi
echo "private-cupsd shell test passed"
