#include "motor/link_test.h"

#include <cstring>

#include "common/reporter.h"
#include "motor/console.h"
#include "motor/motor_com.h"
#include "serial/serial.h"

std::string test_connection(serial& port, Reporter& out, const std::string& motor_text) {
    const std::string command = "#" + motor_text + " ";
    out.message("-> " + command);
    const std::string bytes = command + '\r';
    port.write(bytes.data(), bytes.size());
    unsigned char reply[10] = {};
    port.read(reply, sizeof reply);
    std::string shown = bytes_to_text(reply, sizeof reply);
    out.message("<- " + shown);
    return shown;
}

PollCycle poll_cycle(serial& port, Reporter& out, const std::string& motor_text) {
    discard_input(port, nullptr);
    const std::string command = "#" + motor_text + "@S\r";
    port.write(command.data(), command.size());
    out.message("-> " + command);
    unsigned char reply[10] = {};
    const int received = port.read(reply, 6);
    out.message("<- " + bytes_to_text(reply, sizeof reply));
    PollCycle cycle;
    cycle.detected = detects_device(reply, received > 0 ? static_cast<std::size_t>(received) : 0);
    if (received < 0) cycle.pause_ms = port.read_wait_ms(6);
    return cycle;
}

bool detects_device(const unsigned char* reply, std::size_t received) {
    return received >= 6 && std::memcmp(reply + 3, "@OK", 3) == 0;
}
