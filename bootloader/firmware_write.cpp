#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/bootloader_steps.h"
#include "bootloader/write_plan.h"
#include "common/int_text.h"
#include "common/stop.h"
#include "motor/motor_com.h"
#include "serial/serial.h"

namespace {

constexpr std::uint8_t kCR = 0x0D;

constexpr std::size_t kUsbPiece = 512;

const char* const kWriteName = "the firmware write";

// What a stop leaves on the controller.
const char* Unfinished(bool started) {
    return started ? "the firmware on the controller is incomplete" : "nothing was written";
}

std::string Hex5(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%05X", static_cast<unsigned>(value));
    return text;
}

// A read that brought nothing at all shows in the prescribed lines only as
// a missing character; say plainly that the controller fell silent.
void ReportSilence(int count, Reporter& out) {
    if (count <= 0) out.message("Error: no reply from the controller");
}

// A mode that has nothing of the image to send would only clear every block.
bool HasDataFor(const FirmwareImage& image, std::uint32_t end, const char* mode, Reporter& out) {
    if (FindDataWords(image, 0, end).count > 0) return true;
    out.message(std::string("Error: no program data in ") + Hex5(0) + " ... " + Hex5(end - 1) +
                " for the " + mode + ", nothing was written");
    return false;
}

// Data above what a mode sends belongs to the bootloader itself, so leaving
// it out is no failure; but it is said, with where and how much.
void ReportUnsent(const FirmwareImage& image, std::uint32_t end, const char* mode, Reporter& out) {
    const DataWords unsent = FindDataWords(image, end, kImageSize);
    if (unsent.count == 0) return;
    out.message("Warning: " + std::to_string(unsent.count) +
                (unsent.count == 1 ? " word" : " words") + " at " + Hex5(unsent.first) + " ... " +
                Hex5(unsent.last + 3) + " not written (the " + mode + " writes " + Hex5(0) +
                " ... " + Hex5(end - 1) + ")");
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
    const char* const mode = "1536 Byte binary mode";
    if (!HasDataFor(image, 2 * kEnd1536Words, mode, out)) return false;
    port.flush_input(serial::OnReadFailure::Reopen);
    out.message(ModeAnnouncement(WriteMode::Binary1536));
    out.set_progress_position(0);
    out.set_progress_max(static_cast<int>(kEnd1536Words));

    std::vector<std::uint8_t> frame;
    for (std::uint32_t w = 0; w < kEnd1536Words; w += kBlockWords1536) {
        out.process_events();
        if (stop_here(out, kWriteName, Unfinished(w > 0))) return false;
        if (IsBlankBlock1536(image, w)) {
            BuildClearFrame(FrameMode::Binary1536, motor, w, frame);
            port.write(frame.data(), frame.size());
            const Ack ack = ReadAck(port, out, "USB1");
            if (ack.code() != 'k' && ack.code() != 'b' && ack.code() != 'i') {
                out.message("Error during autoclear " + bytes_to_text(ack.bytes, 1));
                ReportSilence(ack.count, out);
                return false;
            }
        } else {
            BuildDataFrame1536(image, motor, w, frame);
            WriteFrame(port, frame, window.usb_compatibility());
            const Ack ack = ReadAck(port, out, "USB2");
            if (ack.code() != 'k' && ack.code() != 'b' && ack.code() != 'i') {
                out.message("<-    >" + bytes_to_text(ack.bytes, 1) + "< >" +
                            std::to_string(ack.count) + "< >" + std::to_string(w) + "<");
                out.message("Error during Write " + bytes_to_text(ack.bytes, 2));
                ReportSilence(ack.count, out);
                return false;
            }
        }
        port.flush_input(serial::OnReadFailure::Reopen);
        out.set_progress_position(static_cast<int>(w));
        out.repaint_progress();
    }
    ReportUnsent(image, 2 * kEnd1536Words, mode, out);
    out.message("Firmware successfully written");
    return true;
}

bool Write96(serial& port, const FirmwareImage& image, int motor, Reporter& out) {
    const char* const mode = "96 Byte binary mode";
    if (!HasDataFor(image, kLastSent96, mode, out)) return false;
    out.message(ModeAnnouncement(WriteMode::Binary96));
    out.set_progress_position(0);
    out.set_progress_max(static_cast<int>(kEnd96));

    std::vector<std::uint8_t> frame;
    for (std::uint32_t a = 0; a < kLastSent96; a += kBlock96) {
        out.process_events();
        if (stop_here(out, kWriteName, Unfinished(a > 0))) return false;
        if (IsBlankBlock96(image, a)) {
            BuildClearFrame(FrameMode::Binary96, motor, a, frame);
            port.write(frame.data(), frame.size());
            const Ack ack = ReadAck(port, out, nullptr);
            if (ack.code() != 'C' && ack.code() != 'b') {
                out.message("Error during autoclear " + bytes_to_text(ack.bytes, 1));
                ReportSilence(ack.count, out);
                return false;
            }
        } else {
            BuildDataFrame96(image, motor, a, frame);
            port.write(frame.data(), frame.size());
            const Ack ack = ReadAck(port, out, nullptr);
            if (ack.code() != 'Y' && ack.code() != 'b') {
                out.message("Error during Write " + bytes_to_text(ack.bytes, 2));
                ReportSilence(ack.count, out);
                return false;
            }
        }
        out.set_progress_position(static_cast<int>(a));
        out.repaint_progress();
    }
    ReportUnsent(image, kLastSent96, mode, out);
    out.message("Firmware successfully written");
    return true;
}

bool WriteAscii(serial& port, int motor, Reporter& out, BootloaderContext& window) {
    const std::vector<std::string> lines = window.firmware_lines();
    out.message(ModeAnnouncement(WriteMode::Ascii16));
    out.set_progress_position(0);
    out.set_progress_max(static_cast<int>(lines.size()));

    const std::string head = "#" + std::to_string(motor) + "@";
    bool started = false;
    for (const std::string& line : lines) {
        out.process_events();
        if (stop_here(out, kWriteName, Unfinished(started))) return false;
        started = true;
        const std::string frame = head + line + '\r';
        port.write(frame.data(), frame.size());
        std::uint8_t reply[7];
        const int count = port.read(reply, sizeof reply);
        out.set_progress_position(out.progress_position() + 1);
        out.repaint_progress();
        if (count != 7) {
            out.message("Error writing Firmware (" + std::to_string(count) + ")");
            ReportSilence(count, out);
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

    if (stop_here(out, kWriteName)) return false;

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
    const std::optional<WriteMode> mode = ModeOfVersion(code);
    window.bootloader_found(code, mode);
    if (!mode) {
        out.message("Unknown Bootloader Version !");
        return false;
    }
    const auto started_with = std::make_unique<const FirmwareImage>(image);
    switch (*mode) {
        case WriteMode::Binary1536:
            return Write1536(port, *started_with, *motor, out, window);
        case WriteMode::Binary96:
            return Write96(port, *started_with, *motor, out);
        case WriteMode::Ascii16:
            break;
    }
    return WriteAscii(port, *motor, out, window);
}
