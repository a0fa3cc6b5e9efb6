#!/usr/bin/env bash
# The Windows benchmarks under Wine, against the simulated controller paced at
# 115,200 baud: kfu.exe writes a full image (bench/wine/bench_wine_write.cpp),
# then the Win32 window, worked with X input on a private X server, writes one
# and dumps the EEPROM (bench/wine/bench_wine_window.cpp). Builds the Windows
# programs and the Linux benchmarks first.
#   bash scripts/bench-windows.sh [ROUNDS]
# The benchmark is a Linux program of the ordinary build; set KFU_LINUX_BUILD
# to use another build folder than build/ci.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup-deps.sh wine64 fonts-wine
bash scripts/build-windows.sh >/dev/null

linux_build=${KFU_LINUX_BUILD:-$root/build/ci}
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
    cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFU_WERROR=ON >/dev/null
fi
cmake --build "$linux_build" -j "$(nproc)" --target bench_wine_write bench_wine_window >/dev/null

. scripts/wine-prefix.sh
status=0
KFU_WIN_BUILD=$root/build/win64 "$linux_build/bench/wine/bench_wine_write" "$@" || status=$?
KFU_WIN_BUILD=$root/build/win64 "$linux_build/bench/wine/bench_wine_window" "$@" || status=$?
exit "$status"
