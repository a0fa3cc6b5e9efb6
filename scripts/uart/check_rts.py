#!/usr/bin/env python3
"""Reads QEMU's register log of the second UART (port 0x2F8) and checks how
RTS frames what was sent, phase by phase:
  - no byte goes to the transmit register while RTS is low;
  - RTS drops only after the frame's last byte and a line-status read that
    found the transmitter empty (TEMT);
  - the bytes sent while RTS was up, window by window, are exactly what the
    simulated controller of that phase received.
Phases are marked by "@@phase NAME" lines that the guest writes to its console
(the first UART, 0x3F8), which the same log records in order.

  check_rts.py LOG DIR [--expect-fault PHASE]
DIR holds NAME.bin, the bytes the simulator of phase NAME received. Prints one
line per phase; the exit status is 0 when every phase passes, except the one
named by --expect-fault, which must fail.
"""
import re
import sys

LINE = re.compile(r"memory_region_ops_(read|write) .* addr 0x([0-9a-f]+) value 0x([0-9a-f]+)")
LINE_BASE, CONSOLE_BASE = 0x2F8, 0x3F8
THR, LCR, MCR, LSR = 0, 3, 4, 5
DLAB, RTS, TEMT = 0x80, 0x02, 0x40


class Phase:
    def __init__(self, name):
        self.name = name
        self.faults = []
        self.windows = []  # bytes sent under each RTS window that carried any


def read_phases(log):
    phases, phase = [], None
    lcr = {LINE_BASE: 0, CONSOLE_BASE: 0}
    rts, window, temt_after_last = False, bytearray(), True
    console = bytearray()
    for text in log:
        m = LINE.search(text)
        if not m:
            continue
        op, addr, value = m.group(1), int(m.group(2), 16), int(m.group(3), 16)
        base = addr & ~7
        if base not in lcr:
            continue
        reg = addr - base
        if op == "write" and reg == LCR:
            lcr[base] = value
            continue
        if base == CONSOLE_BASE:
            if op == "write" and reg == THR and not lcr[base] & DLAB:
                if value == 0x0A:
                    line = console.decode("latin-1").strip()
                    if line.startswith("@@phase "):
                        phase = Phase(line.split()[1])
                        phases.append(phase)
                    console.clear()
                else:
                    console.append(value)
            continue
        if phase is None:  # the driver's probe at boot
            if op == "write" and reg == MCR:
                rts = bool(value & RTS)
            continue
        if op == "write" and reg == THR and not lcr[base] & DLAB:
            if rts:
                window.append(value)
            else:
                phase.faults.append("byte 0x%02X written while RTS is low" % value)
            temt_after_last = False
        elif op == "read" and reg == LSR and value & TEMT:
            temt_after_last = True
        elif op == "write" and reg == MCR:
            if rts and not value & RTS and window:
                if not temt_after_last:
                    phase.faults.append(
                        "RTS dropped before the transmitter was seen empty, after %d bytes"
                        % len(window))
                phase.windows.append(bytes(window))
                window.clear()
            rts = bool(value & RTS)
    if window and phase is not None:
        phase.faults.append("RTS still up at the end of the log")
        phase.windows.append(bytes(window))
    return phases


def main():
    args = sys.argv[1:]
    expect_fault = None
    if "--expect-fault" in args:
        i = args.index("--expect-fault")
        expect_fault = args[i + 1]
        del args[i:i + 2]
    log_path, received_dir = args
    with open(log_path, errors="replace") as log:
        phases = read_phases(log)
    ok = bool(phases)
    for phase in phases:
        sent = b"".join(phase.windows)
        try:
            with open("%s/%s.bin" % (received_dir, phase.name), "rb") as f:
                received = f.read()
        except OSError:
            received = None
        if received != sent:
            phase.faults.append(
                "sent under RTS: %d bytes, the simulator received: %s"
                % (len(sent), "nothing kept" if received is None else "%d bytes" % len(received)))
        verdict = "FAULT: " + "; ".join(phase.faults[:3]) if phase.faults else "ok"
        print("%s: %d frames, %d bytes: %s" % (phase.name, len(phase.windows), len(sent), verdict))
        if bool(phase.faults) != (phase.name == expect_fault):
            ok = False
    if expect_fault and expect_fault not in [p.name for p in phases]:
        print("%s: no such phase in the log" % expect_fault)
        ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
