#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and tests them under
# Wine: first the core tests as Windows programs, then the Windows programs
# end to end against the simulated controller, whose pseudo-terminals the
# tests lead to COM5 ... COM9 of a Wine prefix made for this run, and last
# the Win32 window on an X server of its own (Xvfb, started by that test
# program only). The prefix, its wineserver and the X server are gone when
# the script ends.
#
# The end-to-end tests are Linux programs of the ordinary build; set
# KFU_LINUX_BUILD to use another build folder than build/ci.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# fonts-wine: Wine's own fonts (Tahoma, MS Sans Serif, Courier and the
# system font), which Debian ships apart; without them the window's texts
# have no font of the metrics the layout was made for.
bash scripts/setup-deps.sh wine64 fonts-wine
bash scripts/build-windows.sh
win_build=$root/build/win64

linux_build=${KFU_LINUX_BUILD:-$root/build/ci}
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
    cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFU_WERROR=ON >/dev/null
fi
cmake --build "$linux_build" -j "$(nproc)" --target test_wine test_wine_window

# The download must hold what it should, and its programs need no DLL beyond
# Windows' own.
if [ -f cli/CMakeLists.txt ]; then
    echo "== The Windows download"
    zip=$(ls "$win_build"/kfu-*-win64.zip)
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win_build/CMakeCache.txt")
    top=kfu-$version-win64
    listed=$(cmake -E tar tf "$zip" | grep -v '/$' | sort | tr '\n' ' ')
    expected="$top/LICENSE $top/README.md $top/kfu.exe $top/korvane-util.exe "
    [ "$listed" = "$expected" ] || { echo "$zip holds: $listed (expected $expected)" >&2; exit 1; }
    for program in kfu.exe korvane-util.exe; do
        dlls=$(x86_64-w64-mingw32-objdump -p "$win_build/$program" | sed -n 's/^\s*DLL Name: //p' |
            tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
        for dll in $dlls; do
            case $dll in
                kernel32.dll | advapi32.dll | msvcrt.dll | user32.dll | ws2_32.dll | gdi32.dll | \
                    comctl32.dll | comdlg32.dll | version.dll) ;;
                *) echo "$program needs $dll, which Windows does not bring" >&2; exit 1 ;;
            esac
        done
        echo "$program: DLLs: $dlls"
    done
    echo "$zip: $listed"
fi

. scripts/wine-prefix.sh

echo "== Core tests as Windows programs"
ctest --test-dir "$win_build" --output-on-failure -j "$(nproc)"

echo "== Windows programs against the simulated controller"
KFU_WIN_BUILD=$win_build "$linux_build/tests/wine/test_wine"

echo "== The Win32 window under Wine, worked with X input"
KFU_WIN_BUILD=$win_build "$linux_build/tests/wine_window/test_wine_window"
