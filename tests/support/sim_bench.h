#pragma once
// The simulated controller on a pseudo-terminal with the tool's port and
// motor object on the other end, as most line-level tests need them.
// Tests that include this link kfu_sim and kfu_motor.

#include <cstdint>
#include <utility>

#include "motor/motor_com.h"
#include "serial/serial.h"
#include "sim/sim.h"
#include "support/recorder.h"

struct SimBench {
    explicit SimBench(SimConfig config = {}, std::uint32_t timeout_ms = 100)
        : sim(std::move(config)), port(out, sim.path(), timeout_ms), motor(port) {}
    SimController sim;
    Recorder out;
    serial port;
    motor_com motor;
};

// Replies carry the motor number as "1" rather than "001".
inline SimConfig plain_ids() {
    SimConfig c;
    c.padded_ids = false;
    return c;
}
