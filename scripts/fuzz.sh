#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz/ and runs each for a bounded
# time, starting from the seed corpus in fuzz/corpus/<target>/. Fails when a target finds a
# crash, a leak, undefined behaviour or a hang; the input that did it is kept in
# build-fuzz/artifacts/ (replay: build-fuzz/fuzz/<target> <file>).
#   scripts/fuzz.sh [seconds-per-target] [target...]    default: 20 seconds, every target
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

seconds=${1:-20}
if [[ ! "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds-per-target] [target...]" >&2
    exit 2
fi
shift || true

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    for source in "$root"/fuzz/fuzz-*.cpp; do
        name=$(basename "$source" .cpp)
        targets+=("$name")
    done
fi

"$root/scripts/deps.sh" test

dir="$root/build-fuzz"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DDOORLOCK_SANITIZE=address -DDOORLOCK_FUZZ=ON -DBUILD_TESTING=OFF \
    -DDOORLOCK_BUILD_BENCH=OFF >&2
cmake --build "$dir" -j 2 --target "${targets[@]}" >&2

export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"

mkdir -p "$dir/artifacts"
failed=()
for target in "${targets[@]}"; do
    # New inputs go to build-fuzz/corpus; the seeds in the repository are only read.
    work="$dir/corpus/$target"
    seeds="$root/fuzz/corpus/$target"
    mkdir -p "$work"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$dir/artifacts/$target-")
    [[ -f "$root/fuzz/dict/$target.dict" ]] && options+=(-dict="$root/fuzz/dict/$target.dict")
    case "$target" in
    fuzz-request-document | fuzz-request-decoder) options+=(-max_len=17000) ;;
    fuzz-date-time) options+=(-max_len=256) ;;
    *) options+=(-max_len=4096) ;;
    esac
    corpora=("$work")
    [[ -d "$seeds" ]] && corpora+=("$seeds")

    log="$dir/$target.log"
    echo "== $target: ${seconds} s" >&2
    if "$dir/fuzz/$target" "${options[@]}" "${corpora[@]}" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
        echo "   ${runs:-?} inputs run, nothing found" >&2
    else
        failed+=("$target")
        echo "   FAILED; the end of $log:" >&2
        tail -n 40 "$log" >&2
    fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
    echo "fuzzing found faults in: ${failed[*]} (inputs in $dir/artifacts/)" >&2
    exit 1
fi
echo "fuzzing: ${#targets[@]} targets, ${seconds} s each, nothing found" >&2
