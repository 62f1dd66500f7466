#!/usr/bin/env bash
# Builds the program and starts it from build/bin (its installation folder).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/deps.sh"
dir=$("$root/scripts/build.sh" | tail -n 1)
bin="$dir/bin"

if [[ ! -x "$bin/VeltraKandorDoorlock" ]]; then
    echo "Built $bin; the program itself is not part of this version yet."
    exit 0
fi
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "No display found: starting with the offscreen platform (stop it with Ctrl-C)."
    export QT_QPA_PLATFORM=offscreen
fi
cd "$bin"
exec ./VeltraKandorDoorlock
