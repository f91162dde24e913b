#!/usr/bin/env bash
# Installs what the package needs, builds it and runs every test: the unit and
# integration tests in a normal build (warnings are errors), again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the daemon's threaded tests
# under ThreadSanitizer, then the fuzzers.
#   --quick      only the normal build and its tests
#   FUZZ_SECONDS how long each fuzzer runs (default: 20 for the reply
#                fuzzer, 15 for the others; two run at a time)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

quick=0
[ "${1:-}" = "--quick" ] && quick=1
jobs=$(nproc)
failed=0

"$top/tools/setup.sh"

started=$SECONDS
section() { printf '\n==== %s (at %d s) ====\n' "$*" $((SECONDS - started)); }

run_ctest() {
  local dir=$1
  # ctest prints its own summary ("N% tests passed, M tests failed out of T").
  # No test needs more than about 20 s; a hung one is ended after 120 s.
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 120 || failed=1
}

section "normal build"
cmake -S . -B build -DVANTORA_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
run_ctest build

if [ $quick -eq 0 ]; then
  section "AddressSanitizer + UndefinedBehaviorSanitizer build"
  cmake -S . -B build-asan -DVANTORA_WERROR=ON -DVANTORA_SANITIZE=ON -DVANTORA_BENCHMARKS=OFF >/dev/null
  cmake --build build-asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build-asan

  section "ThreadSanitizer build (the USB monitor daemon's tests)"
  cmake -S . -B build-tsan -DVANTORA_WERROR=ON -DVANTORA_TSAN=ON -DVANTORA_BENCHMARKS=OFF >/dev/null
  cmake --build build-tsan -j"$jobs" --target test_usbmon_files test_usbmon_daemon vantora_rt50_usbmon \
    private-cupsd rt50-emulator
  TSAN_OPTIONS="suppressions=$top/tools/tsan.supp" ctest --test-dir build-tsan -L usbmon --output-on-failure \
    -j"$jobs" --timeout 120 || failed=1

  section "fuzzers"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVANTORA_FUZZERS=ON >/dev/null
  cmake --build build-fuzz -j"$jobs"
  # Every fuzzer of tests/fuzz/CMakeLists.txt, with its seeds in
  # tests/fuzz/corpus/<name without fuzz_>/, two at a time (one per core).
  run_fuzzer() {
    local name=$1 fuzzer=build-fuzz/tests/fuzz/$1 corpus seconds
    if [ ! -x "$fuzzer" ]; then
      echo "$name: not built"
      return 1
    fi
    corpus=$(mktemp -d)
    cp tests/fuzz/corpus/"${name#fuzz_}"/* "$corpus"/ 2>/dev/null || true  # a scratch copy: the seeds stay as they are
    seconds=${FUZZ_SECONDS:-15}
    [ "$name" = fuzz_reply ] && seconds=${FUZZ_SECONDS:-20}
    local rc=0
    "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$corpus" > "build-fuzz/$name.log" 2>&1 || rc=1
    rm -rf "$corpus"
    if [ $rc -ne 0 ]; then
      echo "$name: FAILED after at most $seconds s"
      tail -n 40 "build-fuzz/$name.log"
      return 1
    fi
    echo "$name: $seconds s, $(grep -E -o 'number_of_executed_units: *[0-9]+' "build-fuzz/$name.log" | grep -E -o '[0-9]+$') inputs"
  }
  set -- fuzz_reply fuzz_packet_stream fuzz_device_id fuzz_ppd_default fuzz_command_stream fuzz_status_file fuzz_sheet_stream fuzz_job_record
  while [ $# -gt 0 ]; do
    pids=()
    for name in "$1" "${2:-}"; do
      [ -n "$name" ] || continue
      run_fuzzer "$name" &
      pids+=($!)
    done
    for pid in "${pids[@]}"; do
      wait "$pid" || failed=1
    done
    shift $(( $# >= 2 ? 2 : 1 ))
  done
fi

section "result"
if [ $failed -ne 0 ]; then
  echo "FAILED"
  exit 1
fi
echo "all test stages passed"
