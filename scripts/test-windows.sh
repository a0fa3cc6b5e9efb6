#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and tests them under
# Wine: first the core tests as Windows programs, then the Windows programs
# end to end against the simulated controller, whose pseudo-terminals the
# tests lead to COM5 and COM6 of a Wine prefix made for this run. No display
# is needed; the prefix and its wineserver are gone when the script ends.
#
# The end-to-end tests are Linux programs of the ordinary build; set
# KFU_LINUX_BUILD to use another build folder than build/ci.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup-deps.sh wine64
bash scripts/build-windows.sh
win_build=$root/build/win64

linux_build=${KFU_LINUX_BUILD:-$root/build/ci}
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
    cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFU_WERROR=ON >/dev/null
fi
cmake --build "$linux_build" -j "$(nproc)" --target test_wine

find_tool() {
    local name
    for name in "$@"; do
        if command -v "$name" >/dev/null; then command -v "$name"; return 0; fi
        if [ -x "/usr/lib/wine/$name" ]; then echo "/usr/lib/wine/$name"; return 0; fi
    done
    echo "Wine is not installed (no $*)." >&2
    return 1
}
wine=$(find_tool wine64 wine)
wineserver=$(find_tool wineserver64 wineserver)

work=$(mktemp -d)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=d"
export DISPLAY=
unset WAYLAND_DISPLAY
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "== Wine prefix in $WINEPREFIX"
mkdir -p "$work/ports"
(
    # Run from an empty folder: Wine would start a program of the same name
    # found in the current one instead of its own "reg".
    cd "$work"
    "$wine" wineboot --init >/dev/null 2>&1
    for n in 5 6; do
        "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$work/ports/com$n" /f >/dev/null
    done
)
# The port map is read when the wineserver starts; one server then stays up
# for all tests, which spares each Windows program its start-up.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
# Wine opens a mapped port without O_NOCTTY, so the server takes each
# simulator's pty as its terminal and, on the pty's hang-up, writes a
# debugging dump of its objects: that goes to a log of its own.
"$wineserver" -p >"$work/wineserver.log" 2>&1
# Wine's own services start with the first program and stay with the server;
# started here, they hold no test's output pipe open.
(cd "$work" && "$wine" wineboot </dev/null >/dev/null 2>&1)

echo "== Core tests as Windows programs"
ctest --test-dir "$win_build" --output-on-failure -j "$(nproc)"

echo "== Windows programs against the simulated controller"
KFU_WINE=$wine KFU_WIN_BUILD=$win_build KFU_WINE_PORTS=$work/ports \
    "$linux_build/tests/wine/test_wine"
