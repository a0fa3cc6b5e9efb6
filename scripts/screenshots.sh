#!/usr/bin/env bash
# Renders the main window at work (a HEX file halfway through AutoFlash to the
# simulated controller) and the port dialog offscreen into
# docs/main_window.png and docs/port_dialog.png.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh

build=build/screenshots
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFU_TESTS=OFF -DKFU_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kfu-screenshots

mkdir -p docs
QT_QPA_PLATFORM=offscreen "$build/app/kfu-screenshots" docs/main_window.png docs/port_dialog.png
echo "Wrote docs/main_window.png and docs/port_dialog.png"
