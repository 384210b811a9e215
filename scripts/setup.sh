#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing), then
# configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

# fonts-liberation2 stands in for Arial with the same widths (the date and time
# read-out); xdotool and python3 serve scripts/screenshot.sh; locales lets a test
# compile a locale with a decimal comma.
packages=(g++ cmake pkg-config qt6-base-dev libqt6sql6-sqlite libmodbus-dev
          xvfb xauth fonts-wqy-microhei fonts-liberation2 xdotool python3 locales)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$(nproc)"
