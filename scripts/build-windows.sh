#!/usr/bin/env bash
# Cross-builds the core libraries, kfu.exe and the Windows tests for 64-bit
# Windows with mingw-w64 into build/win64 (one statically linked .exe per
# program, needing no DLL beyond Windows' own). Installs what it needs when
# missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh g++-mingw-w64-x86-64-posix googletest

build=build/win64
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# -O2 as in the Linux build (at -O3 GCC 12 warns falsely inside std::string,
# and warnings are errors here); the programs are stripped.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE="-s" -DKFU_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"

# The Windows download: kfu.exe with the README and the licence, once the
# command line is part of the sources (a build folder may hold the packaging
# set-up of an earlier tree).
rm -f "$build"/kfu-*-win64.zip
if [ -f cli/CMakeLists.txt ]; then
    (cd "$build" && cpack -G ZIP >/dev/null)
    ls "$build"/kfu-*-win64.zip
fi
