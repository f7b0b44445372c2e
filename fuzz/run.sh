#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a fixed time:
#   fuzz/run.sh [seconds-per-target] [build-folder]
# Corpora are kept in the build folder between runs; findings stop the run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
seconds="${1:-60}"
build="${2:-$here/../build-fuzz}"
if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is not installed (Debian: clang libclang-rt-14-dev); nothing run"
    exit 77
fi
CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
export ASAN_OPTIONS="detect_leaks=0:${ASAN_OPTIONS:-}"
export QT_QPA_PLATFORM=offscreen
status=0
for target in fuzz_frames fuzz_hextext fuzz_escaped fuzz_config fuzz_csv; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus" "$build/findings"
    [ -n "$(ls -A "$corpus")" ] || printf '\x40\x02\x40\xe2\x01\x01\x01\x10\x27\x00' > "$corpus/seed"
    # Files that once did harm are always part of the corpus.
    if [ -d "$here/seeds/$target" ]; then cp -f "$here/seeds/$target"/* "$corpus/"; fi
    if "$build/$target" "$corpus" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
            -artifact_prefix="$build/findings/$target-" -print_final_stats=1 > "$build/$target.log" 2>&1; then
        runs=$(grep -E '^stat::number_of_executed_units' "$build/$target.log" | awk '{print $2}')
        echo "fuzz: $target ok, ${runs:-?} executions in ${seconds}s"
    else
        echo "fuzz: $target FOUND A PROBLEM, see $build/$target.log and $build/findings/"
        tail -n 30 "$build/$target.log"
        status=1
    fi
done
exit $status
