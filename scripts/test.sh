#!/usr/bin/env bash
# Builds everything with warnings as errors and runs all tests, builds the
# Debian package from that build and checks it (scripts/package.sh), fuzzes
# every parser of outside input for a short while (scripts/fuzz.sh), then
# builds again with the address and undefined-behaviour sanitizers and runs
# the tests once more; then runs kfu on a real UART driver in a virtual machine
# (scripts/test-uart.sh); last, cross-builds the Windows programs and tests
# them under Wine (scripts/test-windows.sh). Installs its own build dependencies
# when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

run_suite() {
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFU_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    # Many tests time real exchanges over pseudo-terminals; a test that fails
    # once on a loaded machine gets one more try (the first failure stays
    # visible in the output).
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --repeat until-pass:2
}

echo "== Build and test (warnings are errors)"
run_suite build/ci
echo "== Debian package from that build"
bash scripts/package.sh build/ci
echo "== Fuzz every parser of outside input (${KFU_FUZZ_SECONDS:=20} s per target)"
bash scripts/fuzz.sh "$KFU_FUZZ_SECONDS"
echo "== Build and test under address and undefined-behaviour sanitizers"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite build/sanitize -DKFU_SANITIZE=ON -DKFU_BENCH=OFF
bash scripts/test-uart.sh
echo "== Windows build, tested under Wine"
KFU_LINUX_BUILD=build/ci bash scripts/test-windows.sh
