#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/bootloader_steps.h"
#include "common/int_text.h"
#include "common/stop.h"
#include "firmware/documents.h"
#include "motor/motor_com.h"
#include "serial/serial.h"

namespace {

constexpr std::uint32_t kBootloaderBaud = 115200;
constexpr int kStartAttempts = 19;
constexpr int kRestartAttempts = 20;
constexpr auto kRestartPause = std::chrono::milliseconds(500);

const char* const kAutoFlash = "AutoFlash";

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

enum class Started { Yes, No, Stopped };

Started StartBootloader(serial& port, motor_com& motor, Reporter& out) {
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (stop_here(out, kAutoFlash)) return Started::Stopped;
        const std::string reply = motor.query("@S");
        port.flush_input(serial::OnReadFailure::Reopen);
        if (reply == "@OK") return Started::Yes;
    }
    return Started::No;
}

// The file as it is on disk now, loaded into a copy of the image (the copy
// keeps the upper address a file without type 04 records goes by), so that
// a file that must not be written is refused before anything is sent. A file
// that cannot be read passes: the reload reports that in its turn.
struct FileCheck {
    bool allowed = true;
    std::optional<HexLoadReport> report;
};

FileCheck CheckFileBeforeStart(const FirmwareImage& image, Reporter& out,
                               const BootloaderContext& window) {
    FileCheck check;
    const std::optional<std::vector<std::string>> lines =
        ReadTextLines(window.firmware_file_name());
    if (!lines) return check;
    auto trial = std::make_unique<FirmwareImage>(image);
    LoadHexDocument(*trial, *lines, HexLines::All);
    check.allowed = FirmwareWriteAllowed(*trial, out);
    check.report = trial->load_report;
    return check;
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

// False when stopped.
bool WaitForRestart(motor_com& motor, Reporter& out) {
    for (int attempt = 1; attempt <= kRestartAttempts; ++attempt) {
        if (stop_here(out, kAutoFlash)) return false;
        if (motor.query_number("i") != 0) return true;
        if (attempt < kRestartAttempts) out.pause(kRestartPause);
    }
    return true;
}

}  // namespace

bool AutoFlashButtonClick(serial& port, motor_com& motor, FirmwareImage& image, Reporter& out,
                          BootloaderContext& window) {
    window.switch_off_debug_log();
    if (!read_integer(window.motor_id_text())) {
        out.message("Error: you must select a motor ID !");
        return false;
    }
    const FileCheck checked = CheckFileBeforeStart(image, out, window);
    if (!checked.allowed) return false;

    const int baud_setting = motor.query_number(":baud");
    out.message(":baud " + std::to_string(baud_setting));
    motor.query("@S");

    SwitchToBootloaderSpeed(port, out, window);
    const Started started = StartBootloader(port, motor, out);
    if (started != Started::Yes) {
        if (started == Started::No) out.message("Could not start Bootloader");
        RestoreSpeed(port, out, window);
        return false;
    }
    out.message("Bootloader started");

    // The file may have changed since it was checked; what is written is
    // what was loaded now.
    if (!ReloadFirmware(image, out, window) ||
        !FirmwareWriteAllowed(image, out, checked.report ? &*checked.report : nullptr)) {
        RestoreSpeed(port, out, window);
        return false;
    }

    const bool written = WriteFirmware(port, image, out, window);
    // A stopped write has said so; a finished one is not followed by the
    // restart when a stop came meanwhile.
    if (out.stop_requested()) {
        if (written) stop_here(out, kAutoFlash);
        RestoreSpeed(port, out, window);
        return false;
    }

    motor.query("@E");
    out.message("Bootloader terminated");
    if (!WaitForRestart(motor, out)) {
        RestoreSpeed(port, out, window);
        return false;
    }

    if (baud_setting != 0) {
        out.message(motor.query(":baud=" + std::to_string(baud_setting)));
        motor.query("@S");
    }
    RestoreSpeed(port, out, window);
    return written;
}
