#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "bootloader/bootloader.h"
#include "common/int_text.h"
#include "common/stop.h"
#include "motor/motor_com.h"
#include "serial/serial.h"

namespace {

constexpr int kAttempts = 10;
constexpr auto kPause = std::chrono::milliseconds(500);

std::string ExpectedAck(std::int32_t motor) {
    std::string ack;
    if (motor < 100) ack += '0';
    if (motor < 10) ack += '0';
    return ack + std::to_string(motor) + "~\r";
}

}  // namespace

bool ClearEepromButtonClick(serial& port, Reporter& out, BootloaderContext& window) {
    const std::optional<std::int32_t> motor = read_integer(window.motor_id_text());
    if (!motor) {
        out.message("Error: you must select a motor ID");
        return false;
    }
    // Only one read's bytes are compared with the acknowledgement, so a byte
    // left over from an earlier exchange would make a good clear look failed.
    if (port.is_open()) port.discard_waiting();
    const std::string command = "#" + std::to_string(*motor) + "~\r";
    port.write(command.data(), command.size());
    out.message("Clear EEPROM");

    const std::string expected = ExpectedAck(*motor);
    bool cleared = false;
    for (int attempt = 0; attempt < kAttempts && !cleared; ++attempt) {
        if (stop_here(out, "Clear EEPROM", "its result is unknown")) return false;
        out.pause(kPause);
        char buffer[7];
        const int count = port.read(buffer, sizeof buffer);
        if (count == 0) {
            out.message(".");
        } else {
            const char* end = std::find(buffer, buffer + sizeof buffer, '\0');
            out.message(bytes_to_text(buffer, static_cast<std::size_t>(end - buffer)));
        }
        cleared = count == 5 && std::string(buffer, 5) == expected;
    }
    out.message(cleared ? "OK" : "FAILED");
    return cleared;
}
