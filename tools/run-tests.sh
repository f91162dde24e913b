#!/usr/bin/env bash
# Installs what the package needs, builds it and runs every test: the unit and
# integration tests in a normal build (warnings are errors), again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the daemon's threaded tests
# under ThreadSanitizer, then the fuzzers.
#   --quick      only the normal build and its tests
#   FUZZ_SECONDS how long each fuzzer runs (default: 15 for the reply
#                fuzzer, 12 for the others; two run at a time)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

quick=0
[ "${1:-}" = "--quick" ] && quick=1
jobs=$(nproc)
# Most tests wait on printers, schedulers and sockets rather than compute:
# twice as many run at once as there are cores.
test_jobs=$((jobs * 2))
failed=0

"$top/tools/setup.sh"

started=$SECONDS
section() { printf '\n==== %s (at %d s) ====\n' "$*" $((SECONDS - started)); }

run_ctest() {
  local dir=$1
  shift
  # ctest prints its own summary ("N% tests passed, M tests failed out of T").
  # No test needs more than about 20 s, the soak and the conformance suite
  # excepted (they have limits of their own); a hung one is ended after 120 s.
  ctest --test-dir "$dir" --output-on-failure -j"$test_jobs" --timeout 120 "$@" || failed=1
}

# The trees tests run in need no debugger: the normal tree is built without
# debug information, the sanitizer trees with line tables only (enough for
# their reports) and -O1. That halves the compile time.
normal_flags=(-DVANTORA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG")
sanitizer_flags=(-DVANTORA_WERROR=ON -DVANTORA_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")

# Builds a tree into <tree>/build.log; on failure shows the errors. Result 0
# built, 1 failed.
build_tree() {
  local tree=$1
  shift
  mkdir -p "$tree"
  if ! cmake --build "$tree" -j"$jobs" "$@" > "$tree/build.log" 2>&1; then
    echo "$tree: build FAILED"
    grep -E -A8 'error|Error' "$tree/build.log" | head -n 60
    return 1
  fi
  touch "$tree/built"
}

# Runs one fuzzer with a scratch copy of its seeds from
# tests/fuzz/corpus/<name without fuzz_>/ and prints one line. Result 0 or 1.
run_fuzzer() {
  local name=$1 fuzzer=build-fuzz/tests/fuzz/$1 corpus seconds rc=0
  if [ ! -x "$fuzzer" ]; then
    echo "$name: not built"
    return 1
  fi
  corpus=$(mktemp -d)
  cp tests/fuzz/corpus/"${name#fuzz_}"/* "$corpus"/ 2>/dev/null || true
  seconds=${FUZZ_SECONDS:-12}
  [ "$name" = fuzz_reply ] && seconds=${FUZZ_SECONDS:-15}
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$corpus" > "build-fuzz/$name.log" 2>&1 || rc=1
  rm -rf "$corpus"
  if [ $rc -ne 0 ]; then
    echo "$name: FAILED after at most $seconds s"
    tail -n 40 "build-fuzz/$name.log"
    return 1
  fi
  echo "$name: $seconds s, $(grep -E -o 'number_of_executed_units: *[0-9]+' "build-fuzz/$name.log" | grep -E -o '[0-9]+$') inputs"
}

# Every fuzzer of tests/fuzz/CMakeLists.txt, two at a time (one per core).
# Result 0 when all passed.
run_fuzzers() {
  local result=0 pids name pid
  # shellcheck disable=SC2046  # one word per fuzzer
  set -- $(grep -E -o '^vantora_fuzzer\(fuzz_[a-z_]+' tests/fuzz/CMakeLists.txt | cut -d'(' -f2)
  while [ $# -gt 0 ]; do
    pids=()
    for name in "$1" "${2:-}"; do
      [ -n "$name" ] || continue
      run_fuzzer "$name" &
      pids+=($!)
    done
    for pid in "${pids[@]}"; do
      wait "$pid" || result=1
    done
    shift $(( $# >= 2 ? 2 : 1 ))
  done
  return $result
}

# The sanitizer and fuzz trees, built one after the other, then the
# fuzzers run; each tree says it is ready with <tree>/built.
build_others_and_fuzz() {
  rm -f build-asan/built build-tsan/built build-fuzz/built
  cmake -S . -B build-asan "${sanitizer_flags[@]}" -DVANTORA_SANITIZE=ON >/dev/null
  build_tree build-asan || return 1
  cmake -S . -B build-tsan "${sanitizer_flags[@]}" -DVANTORA_TSAN=ON >/dev/null
  build_tree build-tsan --target test_usbmon_files test_usbmon_classes test_usbmon_daemon vantora_rt50_usbmon \
    private-cupsd rt50-emulator || return 1
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVANTORA_FUZZERS=ON >/dev/null
  build_tree build-fuzz || return 1
  run_fuzzers > build-fuzz/results.txt
}

# Waits until the background job made <tree>/built; false when it ended
# without.
wait_for_tree() {
  while [ ! -e "$1/built" ]; do
    kill -0 "$background" 2>/dev/null || [ -e "$1/built" ] || return 1
    sleep 2
  done
}

section "normal build"
cmake -S . -B build "${normal_flags[@]}" >/dev/null
cmake --build build -j"$jobs"

if [ $quick -eq 1 ]; then
  run_ctest build
else
  # Everything else is built, and the fuzzers run, at the lowest priority
  # while the tests run: most tests wait on printers and schedulers and
  # leave the cores idle.
  ( renice -n 19 "$BASHPID" >/dev/null; build_others_and_fuzz ) &
  background=$!

  section "normal tests (the other trees building meanwhile)"
  run_ctest build

  section "AddressSanitizer + UndefinedBehaviorSanitizer tests"
  if wait_for_tree build-asan; then
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build-asan
  else
    failed=1
  fi

  section "ThreadSanitizer tests (the USB monitor daemon's)"
  if wait_for_tree build-tsan; then
    TSAN_OPTIONS="suppressions=$top/tools/tsan.supp" run_ctest build-tsan -L usbmon
  else
    failed=1
  fi

  section "fuzzers"
  wait "$background" || failed=1
  cat build-fuzz/results.txt 2>/dev/null || true
fi

section "result"
if [ $failed -ne 0 ]; then
  echo "FAILED"
  exit 1
fi
echo "all test stages passed"
