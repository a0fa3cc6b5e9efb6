#!/usr/bin/env bash
# The real-UART tier: the statically linked kfu runs in a virtual machine
# (QEMU, TCG, Debian's kernel, a busybox initramfs) on /dev/ttyS1, a 16550A
# driven by the kernel's 8250 driver. QEMU offers that port as a unix socket,
# which kfu-sim serves. One boot runs every scenario of tests/uart/scenarios.sh;
# the same list runs on a pseudo-terminal here for comparison. QEMU logs the
# port's registers, and scripts/uart/check_rts.py checks how RTS frames each
# write, and that it catches a program that drops RTS too early. What this
# proves and what not: docs/serial.md. Installs what it needs when missing.
#   KFU_BUILD: the build folder (default build/ci)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$SECONDS

bash scripts/setup-deps.sh qemu-system-x86 busybox-static cpio
build=${KFU_BUILD:-$root/build/ci}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFU_WERROR=ON >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target kfu kfu-static kfu-sim >/dev/null

cache=$root/build/uart
out=$cache/run
rm -rf "$out"
mkdir -p "$out/guest" "$out/pty/work" "$out/root/bin" "$out/root/work"

# Debian's kernel, taken out of its package rather than installed.
kernel=$(ls "$cache"/vmlinuz-* 2>/dev/null | head -n 1 || true)
if [ -z "$kernel" ]; then
    image() { apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: //p' | head -n 1; }
    package=$(image)
    [ -n "$package" ] || { apt-get update -qq && package=$(image); }
    (cd "$cache" && apt-get download -o APT::Sandbox::User=root -qq "$package")
    deb=$(ls "$cache/${package}"_*.deb)
    dpkg -x "$deb" "$cache/package"
    mv "$cache"/package/boot/vmlinuz-* "$cache/"
    rm -rf "$cache/package" "$deb"
    kernel=$(ls "$cache"/vmlinuz-* | head -n 1)
fi

# The initramfs: busybox, the real kfu, the program with the early RTS drop.
r=$out/root
cp "$(command -v busybox)" "$r/bin/busybox"
cp "$build/cli/kfu-static" "$r/bin/kfu"
cc -static -O2 -o "$r/bin/early_rts" scripts/uart/early_rts.c
cp scripts/uart/guest-init "$r/init"
cp tests/uart/scenarios.sh tests/uart/firmware.hex "$r/work/"
(cd "$r" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initrd.gz"

sim_pid=
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill -CONT "$sim_pid" 2>/dev/null || true
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=
}
# start_sim DIR NAME [OPTION]...: kfu-sim for phase NAME, once it is reachable.
start_sim() {
    local dir=$1 name=$2
    shift 2
    "$build/sim/kfu-sim" --received "$dir/$name.bin" "$@" >"$dir/$name.sim" &
    sim_pid=$!
    for _ in $(seq 200); do
        [ -s "$dir/$name.sim" ] && return 0
        sleep 0.05
    done
    echo "kfu-sim for $name did not come up" >&2
    return 1
}
cleanup() {
    stop_sim
    if [ -n "${vm_pid:-}" ]; then kill "$vm_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

echo "== The scenarios in a virtual machine, on the 8250 driver"
socket=$out/line.sock
coproc VM {
    exec timeout 150 qemu-system-x86_64 -M pc -accel tcg -m 256 -nodefaults -display none \
        -no-reboot -kernel "$kernel" -initrd "$out/initrd.gz" \
        -append "console=ttyS0 quiet panic=-1" \
        -serial stdio -serial "unix:$socket,server=on,wait=off" \
        -trace 'memory_region_ops_*' -D "$out/trace.log" 2>&1
}
vm_pid=$VM_PID
exec {to_vm}>&"${VM[1]}"
current=/dev/null
done_seen=
while IFS= read -r -u "${VM[0]}" line; do
    line=${line%$'\r'}
    case $line in
    "@@phase "*)
        read -r -a phase <<<"${line#@@phase }"
        stop_sim
        start_sim "$out/guest" "${phase[@]:0:1}" --connect "$socket" "${phase[@]:1}"
        # The host stops reading: QEMU's transmitter stalls with the socket full.
        if [ "${phase[0]}" = stall ] || [ "${phase[0]}" = early-rts ]; then
            kill -STOP "$sim_pid"
            (sleep 1.5 && kill -CONT "$sim_pid") &
        fi
        echo go >&"$to_vm"
        ;;
    "@@run "*) current=$out/guest/${line#@@run }.out && : >"$current" ;;
    "@@end "*) echo "exit ${line#@@end }" >>"$current" && current=/dev/null ;;
    "@@done") done_seen=1 ;;
    *) printf '%s\n' "$line" >>"$current" ;;
    esac
done
wait "$vm_pid" || true
stop_sim
[ -n "$done_seen" ] || { echo "the virtual machine did not finish its scenarios" >&2; exit 1; }
echo "virtual machine done after $((SECONDS - started)) s"

echo "== The same scenarios on a pseudo-terminal"
(
    cd "$out/pty/work"
    cp "$root/tests/uart/firmware.hex" .
    export PATH="$build/cli:$PATH" PORT=$out/pty/line
    phase() {
        stop_sim
        start_sim "$out/pty" "$1" --link "$PORT" "${@:2}"
    }
    both() {
        local name=$1
        shift
        set +e
        "$@" >"$out/pty/$name.out" 2>&1
        printf '\nexit %s\n' $? >>"$out/pty/$name.out"
        set -e
    }
    uart() { printf '%s\t%s\n' "$1" "$2" >>"$out/wanted"; }
    # shellcheck source=tests/uart/scenarios.sh
    . "$root/tests/uart/scenarios.sh"
    stop_sim
)

echo "== Results"
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
for file in "$out"/pty/*.out; do
    name=$(basename "$file" .out)
    diff -u "$file" "$out/guest/$name.out" >"$out/$name.diff" && echo "$name: as on a pty" ||
        fail "$name differs from the pty run: $(cat "$out/$name.diff")"
done
# Phases with scenarios on the UART only have nothing to compare with.
for file in "$out"/pty/*.bin; do
    name=$(basename "$file" .bin)
    [ -s "$file" ] || continue
    cmp -s "$file" "$out/guest/$name.bin" &&
        echo "$name: the simulator received the same bytes" ||
        fail "$name: the simulator received other bytes than on a pty"
done
while IFS=$'\t' read -r name wanted; do
    grep -qF -- "$wanted" "$out/guest/$name.out" &&
        echo "$name: ok" || fail "$name: no \"$wanted\" in: $(cat "$out/guest/$name.out")"
done <"$out/wanted"
grep -a 'addr 0x2f[89a-f]\|addr 0x3f[89a-f]' "$out/trace.log" >"$out/uart.log" || true
python3 scripts/uart/check_rts.py "$out/uart.log" "$out/guest" --expect-fault early-rts ||
    fail "the register check"
echo "UART tier: $((SECONDS - started)) s"
exit $failed
