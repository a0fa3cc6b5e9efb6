#!/usr/bin/env bash
# Builds the tool and the simulated controller, starts the simulator on a
# pseudo-terminal and the tool with that terminal as its first, preselected
# port. Click OK in the port dialog, type a command (for example VER) and
# press Enter: the simulated controller's reply appears in the message area.
# The simulator is stopped when the tool exits.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh

build=build/demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFU_TESTS=OFF -DKFU_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target korvane-util kfu-sim

work=$(mktemp -d)
link="$work/kfu-sim-port"
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

"$build/sim/kfu-sim" --link "$link" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -e "$link" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log" >&2; exit 1; }
    sleep 0.05
done
[ -e "$link" ] || { echo "The simulated controller did not come up." >&2; exit 1; }
echo "Simulated controller on $(readlink "$link") (link: $link)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: run this from a desktop session (or over ssh -X)." >&2
fi

export KFU_EXTRA_PORTS="$link"
status=0
"$build/app/korvane-util" || status=$?
exit "$status"
