#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, and
# only those that are missing. Quiet when nothing is missing.
#   bash scripts/setup-deps.sh [PACKAGE]...
# Further packages named on the command line (scripts/package.sh's checkers,
# the Windows cross-build's) are installed the same way. With --fuzz, only
# what the fuzz build (scripts/fuzz.sh) needs.
set -euo pipefail

fuzz_packages=(cmake make clang-14 libclang-rt-14-dev)
if [ "${1:-}" = --fuzz ]; then
    packages=("${fuzz_packages[@]}")
else
    packages=(
        build-essential cmake pkg-config
        qt6-base-dev libqt6test6 qt6-qpa-plugins
        libgtest-dev libgmock-dev
        libcli11-dev nlohmann-json3-dev
        srecord xvfb xauth
        scdoc librsvg2-bin
        # the real-window tests: X input events, a session bus, accessibility
        xdotool dbus-daemon at-spi2-core python3-pyatspi
        # the record tests read the CSV files back with Python's csv module
        python3
        "${fuzz_packages[@]}"
        "$@"
    )
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
# Other installs on the same machine may hold the package lock for a while.
"${sudo_cmd[@]}" apt-get install -o DPkg::Lock::Timeout=600 -y -qq --no-install-recommends "${missing[@]}" >/dev/null
