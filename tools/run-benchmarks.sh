#!/usr/bin/env bash
# Builds the Release tree (build-release) with the benchmarks and runs every
# bench_* program of bench/, one after another, pinned to one core. Arguments
# are passed to every program (Google Benchmark flags), e.g.
#   tools/run-benchmarks.sh --benchmark_filter=PagePath --benchmark_repetitions=5
# Figures are per call; compare CPU time on a loaded machine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVANTORA_BENCHMARKS=ON >/dev/null
cmake --build build-release -j"${JOBS:-2}"

found=0
while IFS= read -r bench; do
  found=1
  printf '\n==== %s ====\n' "${bench#build-release/}"
  # One core: the figures are single-threaded by design.
  if command -v taskset >/dev/null; then
    taskset -c 0 "$bench" "$@"
  else
    "$bench" "$@"
  fi
done < <(find build-release/bench -type f -name 'bench_*' -perm -u+x -not -path '*/CMakeFiles/*' | sort)

if [ $found -eq 0 ]; then
  echo "no bench_* programs were built" >&2
  exit 1
fi
