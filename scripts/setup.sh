#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing), then
# configures and builds into build/. One line per stage; the full output of
# every stage goes to build/setup.log, which is printed when a stage fails.
set -euo pipefail
cd "$(dirname "$0")/.."

# fonts-liberation2 stands in for Arial with the same widths (the date and time
# read-out); xdotool and python3 serve scripts/screenshot.sh; locales lets a test
# compile a locale with a decimal comma; clang-format checks the formatting;
# libsqlite3-dev serves the store's one direct SQLite call.
# poppler-utils' pdftotext reads a printed PDF back in the history tests.
# libqt6sql6-psql lets the historian reach PostgreSQL, and postgresql gives the
# historian tests and benchmark a throw-away server of their own; libpq-dev
# reads a historian address with libpq's own parser and lets a stop end a
# statement that hangs on the server.
# qt6-translations-l10n holds Qt's own Chinese (qtbase_zh_CN), so that the print
# and file dialogs and the standard buttons speak Chinese like the tool.
# dpkg-dev (dpkg-shlibdeps) and file let CPack find the package's Depends;
# desktop-file-utils and systemd check its desktop entry and unit in the tests.
# qt6-httpserver-dev and qt6-websockets-dev serve the web view (HTTP, and the
# pushes to its pages); chromium opens its page headless in the tests, the
# screenshots and the benchmark.
# lintian checks the package as Debian would; strace and curl let a test run the
# recorder under its unit's confinement and list the system calls it makes.
packages=(g++ cmake pkg-config qt6-base-dev libqt6sql6-sqlite libsqlite3-dev libmodbus-dev
          libxcb1-dev xvfb xauth fonts-wqy-microhei fonts-liberation2 xdotool python3 locales
          clang-format poppler-utils libqt6sql6-psql postgresql libpq-dev qt6-translations-l10n
          dpkg-dev file desktop-file-utils systemd qt6-httpserver-dev qt6-websockets-dev
          chromium lintian strace curl)

mkdir -p build
log=build/setup.log
: > "$log"

# Runs one stage quietly: its name on one line, its output into the log.
stage() {
    local name=$1
    shift
    printf 'setup: %s ... ' "$name"
    if "$@" >> "$log" 2>&1; then
        echo ok
    else
        echo FAILED
        echo "---- $log ----"
        tail -n 200 "$log"
        exit 1
    fi
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    install_missing() {
        "${sudo_cmd[@]}" apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
    }
    stage "installing ${missing[*]}" install_missing
fi

stage configuring cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage building cmake --build build -j"$(nproc)"
