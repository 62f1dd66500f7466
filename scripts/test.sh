#!/usr/bin/env bash
# Builds everything and runs every test through CTest.
#   scripts/test.sh                      normal build in build/, then a short run of each fuzz
#                                        target (clang, ASan+UBSan, build-fuzz/; seconds per
#                                        target from DOORLOCK_FUZZ_SECONDS, default 15)
#   scripts/test.sh --sanitize address   ASan+UBSan build in build-address/
#   scripts/test.sh --sanitize thread    TSan build in build-thread/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/deps.sh" test
dir=$("$root/scripts/build.sh" "$@" | tail -n 1)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
# Debian's Qt is not instrumented: races that only its own allocations and copies show (work it
# hands to its internal thread pools) are ordered by locks TSan cannot see, so accesses made
# inside Qt's libraries are not checked. Every access our code makes still is.
export TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1"

ctest --test-dir "$dir" --output-on-failure -j 2

# The fuzz smoke run needs its own clang build; the sanitizer runs leave it to the normal one.
if [[ $# -eq 0 ]]; then
    "$root/scripts/fuzz.sh" "${DOORLOCK_FUZZ_SECONDS:-15}"
fi
