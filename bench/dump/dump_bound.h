#pragma once
// The least time a dump of `range` can take on a line at `baud`: ten bits for
// every byte of every command and every reply ("001" + "+" + value + CR), with
// the values the simulator holds.

#include <cstdint>
#include <string>

#include "dump/dump.h"
#include "motor/motor_com.h"
#include "sim/sim.h"

inline double DumpBoundSeconds(const SimController& sim, const motor_com& motor, DumpRange range,
                               std::uint32_t baud) {
    std::size_t wire_bytes = 0;
    for (int a = range.first; a <= range.last; ++a) {
        wire_bytes += motor.frame("(E" + std::to_string(a)).size();
        wire_bytes += 3 + 1 + std::to_string(sim.eeprom(a)).size() + 1;
    }
    return wire_bytes * 10.0 / baud;
}
