#!/usr/bin/env bash
# Configures and builds into build/ (or build-<sanitizer>/ with --sanitize address|thread).
# Prints the build folder as its last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

sanitize=""
if [[ "${1:-}" == "--sanitize" ]]; then
    sanitize="${2:?--sanitize needs address or thread}"
fi

if [[ -z "$sanitize" ]]; then
    dir="$root/build"
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
else
    dir="$root/build-$sanitize"
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DDOORLOCK_SANITIZE="$sanitize" >&2
fi
cmake --build "$dir" >&2
echo "$dir"
