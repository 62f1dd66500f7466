#!/usr/bin/env bash
# Renders the main window and every dialog to docs/screenshots/*.png (for the README and the
# operator's guide). Needs no display: the windows are drawn offscreen. Chinese text needs CJK
# fonts, which this installs when they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/deps.sh"
if ! dpkg-query -W -f='${Status}' fonts-noto-cjk 2>/dev/null | grep -q "install ok installed"; then
    echo "Installing: fonts-noto-cjk"
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends \
        fonts-noto-cjk
fi

dir=$("$root/scripts/build.sh" | tail -n 1)
QT_QPA_PLATFORM=offscreen "$dir/tools/screenshots" "$root/docs/screenshots"
