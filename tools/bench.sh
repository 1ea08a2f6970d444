#!/usr/bin/env bash
# Runs every benchmark of a build; builds nothing. Usage: tools/bench.sh BUILD_DIR
# Each benchmark prints its figures and their ratios to a reference measured in the
# same run. Exits non-zero when a benchmark fails or misses its goal.
set -uo pipefail

build=${1:?usage: tools/bench.sh BUILD_DIR}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
failed=()

# run PATH [ARGS...]: one benchmark program, PATH relative to the build directory.
run() {
    local exe=$build/$1
    shift
    if [ ! -x "$exe" ]; then
        echo "== $exe: not built, skipped"
        return
    fi
    echo "== $exe"
    "$exe" "$@" || failed+=("$exe")
    echo
}

# gbench PATH [ARGS...]: a Google Benchmark program.
gbench() {
    local path=$1
    shift
    run "$path" --benchmark_color=false "$@"
}

# One line per benchmark.
gbench bench/imaging/bench_rotate
gbench bench/imaging/bench_show
gbench bench/imaging/bench_crop
gbench bench/history/bench_history
gbench bench/trend/bench_trend
SCANLUME_LOCAL=$build/localservice/scanlume-local run bench/receive/bench_receive_latency 300
SCANLUME_LOCAL=$build/localservice/scanlume-local run bench/receive/bench_memory 500
run bench/receive/bench_large_text 200
SCANLUME_LOCAL=$build/localservice/scanlume-local PICTOPORT_EXE=$build/src/app/pictoport \
    run bench/receive/bench_quit 10
run bench/recognition/bench_recognition
run bench/recognition/bench_recognition --set held-out --repeat 1 --no-reference

if [ ${#failed[@]} -gt 0 ]; then
    echo "failed or missed a goal: ${failed[*]}"
    exit 1
fi
