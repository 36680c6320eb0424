#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs one target or all of them in turn.
# Usage: scripts/fuzz.sh [TARGET|all] [SECONDS]     (default: all, 60 seconds each)
#   FUZZ_BUILD_DIR  build directory (default: build-fuzz)
#   FUZZ_OUT        where each target's new corpus entries, crash inputs and
#                   log go (default: $FUZZ_BUILD_DIR/fuzz-out/<target>/)
# Seeds come from tests/fuzz/corpus/<target>/ and tests/fuzz/regressions/<target>/;
# they are only read. A crash input worth keeping goes to regressions/<target>/,
# where the test run replays it.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-"$root/build-fuzz"}
out=${FUZZ_OUT:-"$build/fuzz-out"}
target=${1:-all}
seconds=${2:-60}
fuzzdir="$root/tests/fuzz"

targets=()
for dir in "$fuzzdir"/corpus/*/; do
    targets+=("$(basename "$dir")")
done
if [ "$target" != all ]; then
    if [ ! -d "$fuzzdir/corpus/$target" ]; then
        echo "fuzz: no target '$target'; targets: ${targets[*]}" >&2
        exit 2
    fi
    targets=("$target")
fi

"$root/scripts/setup.sh" clang-14 libfuzzer-14-dev

launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCORVANE_FUZZ=ON -DCORVANE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

# The targets write their scratch files often; memory is faster than disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0}

status=0
summary="$out/summary.txt"
mkdir -p "$out"
for name in "${targets[@]}"; do
    dir="$out/$name"
    mkdir -p "$dir/corpus" "$dir/crashes"
    dict=()
    if [ -f "$fuzzdir/$name.dict" ]; then
        dict=(-dict="$fuzzdir/$name.dict")
    fi
    seeds=("$fuzzdir/corpus/$name")
    if [ -d "$fuzzdir/regressions/$name" ]; then
        seeds+=("$fuzzdir/regressions/$name")
    fi
    touch "$dir/started"
    echo "fuzz: $name for ${seconds}s; new inputs in $dir/corpus, crashes in $dir/crashes"
    # The first corpus directory receives what the run finds; the seeds are only read.
    if ! "$build/tests/fuzz/fuzz_$name" "${dict[@]}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -max_len=8192 -print_final_stats=1 -artifact_prefix="$dir/crashes/" \
        "$dir/corpus" "${seeds[@]}" >"$dir/log.txt" 2>&1; then
        status=1
        echo "fuzz: $name stopped early: a fault found or the run failed; see $dir/log.txt and $dir/crashes/" >&2
    fi
    # Executions, their rate, the corpus and the edges covered, from libFuzzer's own figures.
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log.txt" | tail -1)
    edges=$(grep -o 'cov: [0-9]*' "$dir/log.txt" | tail -1 | cut -d' ' -f2)
    corpus=$(grep -o 'corp: [0-9]*/[0-9]*[a-zA-Z]*' "$dir/log.txt" | tail -1 | cut -d' ' -f2)
    entries=$(find "$dir/corpus" -type f | wc -l)
    crashes=$(find "$dir/crashes" -type f -newer "$dir/started" | wc -l)
    line="$name: ${seconds}s, ${runs:-?} executions, ${rate:-?}/s, edges ${edges:-?}, corpus ${corpus:-?} (inputs/bytes), kept in $dir/corpus: $entries, new crash inputs $crashes"
    echo "fuzz: $line"
    echo "$(date -u +%FT%TZ) $line" >>"$summary"
done
echo "fuzz: summary in $summary"
exit $status
