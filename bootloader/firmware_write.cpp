#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/bootloader_steps.h"
#include "common/int_text.h"
#include "motor/motor_com.h"
#include "serial/serial.h"

namespace {

constexpr std::uint8_t kCR = 0x0D;

// 86 blocks of 1024 words: the program memory the 1536-byte bootloaders own.
constexpr std::uint32_t kEnd1536 = 0x15800;
// The 96-byte bootloaders stop one block short of 0x10000; their last
// block (0xFF80) is never sent.
constexpr std::uint32_t kEnd96 = 0x10000;
constexpr std::uint32_t kBlock96 = 128;
constexpr std::uint32_t kUnsent96 = kEnd96 - kBlock96;

constexpr std::size_t kUsbPiece = 512;

std::string Shown(const std::uint8_t* bytes, std::size_t count) {
    return bytes_to_text(bytes, count);
}

// Some USB adapters lose bytes of long writes, so the frame can go out in
// pieces. A piece that does not go out ends the frame: the rest would only
// arrive as garbage, and the missing acknowledgement reports the failure.
void WriteFrame(serial& port, const std::vector<std::uint8_t>& frame, bool in_pieces) {
    const std::size_t piece = in_pieces ? kUsbPiece : frame.size();
    for (std::size_t at = 0; at < frame.size(); at += piece) {
        const std::size_t count = std::min(piece, frame.size() - at);
        if (port.write(frame.data() + at, count) != static_cast<int>(count)) return;
    }
}

bool Write1536(serial& port, const FirmwareImage& image, int motor, Reporter& out,
               BootloaderContext& window) {
    DrainInput(port);
    out.message("Writing in 1536 Byte binary mode !");
    out.set_progress_position(0);
    out.set_progress_max(static_cast<int>(kEnd1536));

    std::vector<std::uint8_t> frame;
    for (std::uint32_t w = 0; w < kEnd1536; w += 1024) {
        out.process_events();
        if (IsBlankBlock1536(image, w)) {
            BuildClearFrame(FrameMode::Binary1536, motor, w, frame);
            port.write(frame.data(), frame.size());
            const Ack ack = ReadAck(port, out, "USB1");
            if (ack.code() != 'k' && ack.code() != 'b' && ack.code() != 'i') {
                out.message("Error during autoclear " + Shown(ack.bytes, 1));
                return false;
            }
        } else {
            BuildDataFrame1536(image, motor, w, frame);
            WriteFrame(port, frame, window.usb_compatibility());
            const Ack ack = ReadAck(port, out, "USB2");
            if (ack.code() != 'k' && ack.code() != 'b' && ack.code() != 'i') {
                out.message("<-    >" + Shown(ack.bytes, 1) + "< >" + std::to_string(ack.count) +
                            "< >" + std::to_string(w) + "<");
                out.message("Error during Write " + Shown(ack.bytes, 2));
                return false;
            }
        }
        DrainInput(port);
        out.set_progress_position(static_cast<int>(w));
        out.repaint_progress();
    }
    out.message("Firmware successfully written");
    return true;
}

bool Write96(serial& port, const FirmwareImage& image, int motor, Reporter& out) {
    out.message("Writing in 96 Byte binary mode !");
    out.set_progress_position(0);
    out.set_progress_max(static_cast<int>(kEnd96));

    std::vector<std::uint8_t> frame;
    for (std::uint32_t a = 0; a + kBlock96 < kEnd96; a += kBlock96) {
        out.process_events();
        if (IsBlankBlock96(image, a)) {
            BuildClearFrame(FrameMode::Binary96, motor, a, frame);
            port.write(frame.data(), frame.size());
            const Ack ack = ReadAck(port, out, nullptr);
            if (ack.code() != 'C' && ack.code() != 'b') {
                out.message("Error during autoclear " + Shown(ack.bytes, 1));
                return false;
            }
        } else {
            BuildDataFrame96(image, motor, a, frame);
            port.write(frame.data(), frame.size());
            const Ack ack = ReadAck(port, out, nullptr);
            if (ack.code() != 'Y' && ack.code() != 'b') {
                out.message("Error during Write " + Shown(ack.bytes, 2));
                return false;
            }
        }
        out.set_progress_position(static_cast<int>(a));
        out.repaint_progress();
    }
    // A firmware with code in the last block would run without it: that is
    // no success, even though every block sent was accepted.
    if (!IsBlankBlock96(image, kUnsent96)) {
        out.message(
            "Warning: the data at 0xFF80 ... 0xFFFF was not written (96 Byte binary mode) !");
        return false;
    }
    out.message("Firmware successfully written");
    return true;
}

bool WriteAscii(serial& port, int motor, Reporter& out, BootloaderContext& window) {
    const std::vector<std::string> lines = window.firmware_lines();
    out.message("Writing in 16 Byte ASCII mode !");
    out.set_progress_position(0);
    out.set_progress_max(static_cast<int>(lines.size()));

    const std::string head = "#" + std::to_string(motor) + "@";
    for (const std::string& line : lines) {
        out.process_events();
        const std::string frame = head + line + '\r';
        port.write(frame.data(), frame.size());
        std::uint8_t reply[7];
        const int count = port.read(reply, sizeof reply);
        out.set_progress_position(out.progress_position() + 1);
        out.repaint_progress();
        if (count != 7) {
            out.message("Error writing Firmware (" + std::to_string(count) + ")");
            port.close();
            out.set_progress_position(0);
            return false;
        }
    }
    out.set_progress_position(0);
    out.message("Firmware successfully written");
    return true;
}

}  // namespace

void DrainInput(serial& port) {
    const std::uint32_t previous = port.get_timeout();
    port.set_timeout(1);
    discard_input(port);
    port.set_timeout(previous);
}

int VersionQuery(serial& port, const std::string& motor_text, std::uint8_t (&reply)[7]) {
    const std::string query = "#" + motor_text + " \r";
    port.write(query.data(), query.size());
    return port.read(reply, sizeof reply);
}

Ack ReadAck(serial& port, Reporter& out, const char* usb_line) {
    Ack ack;
    ack.count = port.read(ack.bytes, 2);
    if (ack.bytes[0] == kCR) {
        if (usb_line != nullptr) out.message(usb_line);
        ack.bytes[0] = ack.bytes[1];
        port.read(ack.bytes + 2, 1);
    }
    return ack;
}

bool WriteFirmware(serial& port, const FirmwareImage& image, Reporter& out,
                   BootloaderContext& window) {
    const std::string motor_text = window.motor_id_text();
    const std::optional<std::int32_t> motor = read_integer(motor_text);
    if (!motor || *motor == -1) {
        out.message("Error: you must select a motor ID !");
        return false;
    }
    // The frames carry the number in at most three digits; any other number
    // would be cut and could reprogram a different controller.
    if (*motor < 0 || *motor > 999) {
        out.message("Error: motor ID " + std::to_string(*motor) +
                    " can not be written to the bootloader (0 ... 999) !");
        return false;
    }

    std::uint8_t stale[64];
    port.read(stale, sizeof stale);

    std::uint8_t version[7];
    if (VersionQuery(port, motor_text, version) < 7) {
        out.message("Can not get Bootloader Version !");
        return false;
    }
    const std::string code{static_cast<char>(version[4]), static_cast<char>(version[5])};
    // Events run between blocks, and opening another HEX file meanwhile
    // refills the window's image. The controller must get one file whole,
    // not the first blocks of one and the rest of the other.
    const auto started_with = std::make_unique<const FirmwareImage>(image);
    if (code == "02" || code == "03") return Write1536(port, *started_with, *motor, out, window);
    if (code == "01") return Write96(port, *started_with, *motor, out);
    if (code == "4J") return WriteAscii(port, *motor, out, window);
    out.message("Unknown Bootloader Version !");
    return false;
}
