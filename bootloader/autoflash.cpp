#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/bootloader_steps.h"
#include "common/int_text.h"
#include "firmware/documents.h"
#include "motor/motor_com.h"
#include "serial/serial.h"

namespace {

constexpr std::uint32_t kBootloaderBaud = 115200;
constexpr int kStartAttempts = 19;
constexpr int kRestartAttempts = 20;
constexpr auto kRestartPause = std::chrono::milliseconds(500);

void ReopenAt(serial& port, std::uint32_t baud) {
    port.close();
    port.set_baud(baud);
    port.open();
}

void SwitchToBootloaderSpeed(serial& port, Reporter& out, const BootloaderContext& window) {
    if (!window.bootloader_baud()) return;
    out.message("setting Baudrate to 115200");
    ReopenAt(port, kBootloaderBaud);
}

void RestoreSpeed(serial& port, Reporter& out, const BootloaderContext& window) {
    if (!window.bootloader_baud()) return;
    out.message("restoring Baudrate");
    // A rate of zero or below cannot be set; it counts as no number.
    const std::int32_t baud = read_integer_or(window.baudrate_text(), kBootloaderBaud);
    ReopenAt(port, baud > 0 ? static_cast<std::uint32_t>(baud) : kBootloaderBaud);
}

bool StartBootloader(serial& port, motor_com& motor) {
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        const std::string reply = motor.query("@S");
        DrainInput(port);
        if (reply == "@OK") return true;
    }
    return false;
}

// The file is read again so that a HEX file rebuilt since it was opened is
// written in its new form.
bool ReloadFirmware(FirmwareImage& image, Reporter& out, BootloaderContext& window) {
    std::string refusal;
    const std::optional<std::vector<std::string>> lines =
        ReadTextLines(window.firmware_file_name(), &refusal);
    if (!lines) {
        if (!refusal.empty()) out.message(refusal);
        out.message("Could not load HEXFILE");
        return false;
    }
    window.replace_firmware_lines(*lines);
    const HexLoadReport report = LoadHexDocument(image, *lines, HexLines::All);
    out.message("HEXFILE loaded");
    ReportHexLoad(report, out);
    return true;
}

void WaitForRestart(motor_com& motor) {
    for (int attempt = 1; attempt <= kRestartAttempts; ++attempt) {
        if (motor.query_number("i") != 0) return;
        if (attempt < kRestartAttempts) std::this_thread::sleep_for(kRestartPause);
    }
}

}  // namespace

void AutoFlashButtonClick(serial& port, motor_com& motor, FirmwareImage& image, Reporter& out,
                          BootloaderContext& window) {
    window.switch_off_debug_log();
    if (!read_integer(window.motor_id_text())) {
        out.message("Error: you must select a motor ID !");
        return;
    }

    const int baud_setting = motor.query_number(":baud");
    out.message(":baud " + std::to_string(baud_setting));
    motor.query("@S");

    SwitchToBootloaderSpeed(port, out, window);
    if (!StartBootloader(port, motor)) {
        out.message("Could not start Bootloader");
        RestoreSpeed(port, out, window);
        return;
    }
    out.message("Bootloader started");

    if (!ReloadFirmware(image, out, window)) {
        RestoreSpeed(port, out, window);
        return;
    }

    WriteFirmware(port, image, out, window);

    motor.query("@E");
    out.message("Bootloader terminated");
    WaitForRestart(motor);

    if (baud_setting != 0) {
        out.message(motor.query(":baud=" + std::to_string(baud_setting)));
        motor.query("@S");
    }
    RestoreSpeed(port, out, window);
}
