#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan, the core instrumented too) and
# runs each one on a working copy of its seed corpus for FUZZ_SECONDS, FUZZ_JOBS targets at
# a time. Fails when any target finds a crash, a leak, a time-out or runs out of memory;
# the input that did it is kept in the build folder's fuzz-artifacts/.
#
#   tools/fuzz.sh [BUILD_DIR] [TARGET...]     (defaults: build/fuzz, every target)
#   FUZZ_SECONDS=60 FUZZ_JOBS=2
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build/fuzz}")
shift || true
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPICTOPORT_FUZZ=ON -DPICTOPORT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzzers

mkdir -p "$build/fuzz-corpus" "$build/fuzz-artifacts" "$build/fuzz-logs"
# Leaks are errors here too; only those inside system libraries are suppressed.
export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$root/tools/ubsan.supp"
export QT_QPA_PLATFORM=offscreen

# One target: its seeds copied into a working corpus that keeps what earlier runs found.
run_one() {
  local name=$1 program=$2 seeds=$3 maxlen=$4
  local corpus=$build/fuzz-corpus/$name log=$build/fuzz-logs/$name.log
  mkdir -p "$corpus"
  cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  if "$program" "$corpus" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len="$maxlen" \
      -timeout=30 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
      >"$log" 2>&1; then
    local runs rate
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    printf '%-28s ok      %12s runs  %8s exec/s  %ss\n' "$name" "$runs" "$rate" "$seconds"
  else
    printf '%-28s FAILED  (see %s)\n' "$name" "$log"
    grep -m 3 -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" || tail -n 20 "$log"
    return 1
  fi
}
export -f run_one
export build seconds

selected=("$@")
list=$build/fuzz-targets.txt
failed=0
while read -r name program seeds maxlen; do
  if [ ${#selected[@]} -gt 0 ] && [[ ! " ${selected[*]} " == *" $name "* ]]; then
    continue
  fi
  printf '%s\0%s\0%s\0%s\0' "$name" "$program" "$seeds" "$maxlen"
done <"$list" | xargs -0 -r -n 4 -P "$jobs" bash -c 'run_one "$@"' _ || failed=1

if [ "$failed" -ne 0 ]; then
  echo "fuzz: a target failed" >&2
  exit 1
fi
