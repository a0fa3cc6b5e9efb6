// The firmware write against a bootloader whose version reply and
// acknowledgements come from the input, with an image patched from it.
//
// Every frame on the line is taken apart as the bootloader would: it must
// be addressed to the chosen motor, cover the next block, carry that
// block's words (or be a clear frame exactly when the block is blank) and
// end in a correct checksum. Nothing may follow a refused frame, and the
// write may report success only when every block was accepted.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "common/int_text.h"
#include "firmware/flashmem.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_window.h"
#include "fuzz/line_bench.h"

namespace {

enum class Mode { None, B1536, B96, Ascii };

struct Bootloader {
    Bootloader(FuzzInput& i, LineBench& l, const FirmwareImage& m, FuzzWindow& w, std::string version)
        : in(i), b(l), image(m), window(w), version_answer(std::move(version)) {}

    FuzzInput& in;
    LineBench& b;
    const FirmwareImage& image;
    FuzzWindow& window;
    int motor = 0;
    Mode mode = Mode::None;
    std::string version_answer;

    bool version_asked = false;
    std::vector<std::uint8_t> frame;  // bytes of the frame under way
    std::size_t frames = 0;
    bool refused = false;

    std::uint32_t block_step() const { return mode == Mode::B1536 ? 1024 : 128; }
    std::size_t blocks() const {
        return mode == Mode::B1536 ? 0x15800 / 1024 : mode == Mode::B96 ? 511 : window.lines.size();
    }
    // Image byte address of the block a frame number stands for.
    std::uint32_t byte_address(std::size_t n) const {
        return mode == Mode::B1536 ? static_cast<std::uint32_t>(2 * 1024 * n)
                                   : static_cast<std::uint32_t>(128 * n);
    }
    int words() const { return mode == Mode::B1536 ? 512 : 32; }

    bool blank(std::uint32_t at) const {
        for (int k = 0; k < words(); ++k)
            for (int i = 0; i < 3; ++i)
                if (image.bytes[at + 4 * k + i] != 0xFF) return false;
        return true;
    }

    void on_write(const std::uint8_t* data, std::size_t n) {
        if (!version_asked) {
            version_asked = true;
            b.mem->queue(version_answer);
            return;
        }
        FUZZ_CHECK(!refused, "a frame was sent after a refused one");
        if (window.usb && mode == Mode::B1536) FUZZ_CHECK(n <= 512, "USB piece longer than 512");
        if (mode == Mode::Ascii) {
            FUZZ_CHECK(frames < window.lines.size(), "more ASCII lines than the view holds");
            const std::string expected =
                "#" + std::to_string(motor) + "@" + window.lines[frames] + "\r";
            FUZZ_CHECK(std::string(data, data + n) == expected, "ASCII line frame");
            ++frames;
            const bool ok = in.small(7) != 0;
            const std::string reply = in.text(6);
            b.mem->queue(ok ? (reply + "1234567").substr(0, 7) : reply);
            refused = !ok;
            return;
        }
        frame.insert(frame.end(), data, data + n);
        const std::string head = "#" + std::to_string(motor) + "@";
        FUZZ_CHECK(frame.size() > head.size(), "frame head cut short");
        FUZZ_CHECK(std::string(frame.begin(),
                               frame.begin() + static_cast<std::ptrdiff_t>(head.size())) == head,
                   "frame head for motor " + std::to_string(motor));
        const char command = static_cast<char>(frame[head.size()]);
        FUZZ_CHECK(command == ':' || command == 'C', "frame command");
        const std::size_t address_bytes = mode == Mode::B1536 ? 3 : 2;
        const std::size_t length =
            head.size() + 1 + address_bytes + (command == ':' ? 3u * words() : 0) + 1;
        if (frame.size() < length) return;  // more pieces to come
        FUZZ_CHECK(frame.size() == length, "frame longer than its layout");
        check_frame(head.size() + 1, command == 'C');
        frame.clear();
        ++frames;
        answer(command == 'C');
    }

    void check_frame(std::size_t at, bool clear) {
        FUZZ_CHECK(frames < blocks(), "more frames than blocks");
        const std::uint32_t block = byte_address(frames);
        const std::uint32_t wire_address = mode == Mode::B1536 ? block / 2 : block / 2;
        std::vector<std::uint8_t> expected;
        if (mode == Mode::B1536) expected.push_back(static_cast<std::uint8_t>(wire_address >> 16));
        expected.push_back(static_cast<std::uint8_t>(wire_address >> 8));
        expected.push_back(static_cast<std::uint8_t>(wire_address));
        FUZZ_CHECK(clear == blank(block),
                   "clear frame exactly for a blank block, block " + std::to_string(frames));
        if (!clear) {
            for (int k = 0; k < words(); ++k) {
                for (int i = 2; i >= 0; --i) expected.push_back(image.bytes[block + 4 * k + i]);
            }
        }
        const std::vector<std::uint8_t> body(frame.begin() + static_cast<std::ptrdiff_t>(at),
                                             frame.end() - 1);
        FUZZ_CHECK(body == expected, "address and data of block " + std::to_string(frames));
        unsigned sum = 0;
        for (std::uint8_t v : body) sum += v;
        FUZZ_CHECK(frame.back() == static_cast<std::uint8_t>((256 - sum % 256) % 256),
                   "checksum of block " + std::to_string(frames));
    }

    void answer(bool clear) {
        const char* accepted = mode == Mode::B1536 ? "kbi" : clear ? "Cb" : "Yb";
        const std::size_t choices = mode == Mode::B1536 ? 3 : 2;
        const std::uint8_t pick = in.byte();
        const char good = accepted[pick % choices];
        std::string ack;
        switch (in.empty() ? 0 : pick % 8) {
            case 0:
            case 1:
            case 2:
                ack = {good, static_cast<char>(in.byte())};
                break;
            case 3:
                ack = {'\r', good, static_cast<char>(in.byte())};
                break;
            case 4:
                ack = {"nx\0?"[pick % 4], static_cast<char>(in.byte())};
                break;
            case 5:
                break;  // silence
            case 6:
                ack = in.text(1);
                break;
            default:
                ack = in.text(2);
        }
        const char code = ack.size() > 1 && ack[0] == '\r' ? ack[1] : ack.empty() ? '\0' : ack[0];
        refused = std::string(accepted).find(code) == std::string::npos || code == '\0';
        // Only the 1536-byte mode drains the line after each block.
        if (mode == Mode::B1536 && !refused) ack += in.text(4);
        b.mem->queue(ack);
    }
};

const char* const kMotors[] = {"1", "7", "42", "123", "999", "0", "1000", "-1", "*", "x"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    LineBench b;
    FuzzWindow window;
    const int motor_choice = in.small(9);
    window.motor = motor_choice == 9 ? in.text(5) : kMotors[motor_choice];
    window.usb = in.flag();

    static const char* const kCodes[] = {"02", "03", "01", "4J"};
    const std::uint8_t version_choice = in.byte();
    std::string code = version_choice % 5 < 4 ? kCodes[version_choice % 5] : in.text(2);
    std::string version_answer = "#1@V" + code + "\r";
    if (in.small(7) == 0) version_answer.resize(in.small(6));

    static const auto image = std::make_unique<FirmwareImage>();
    FillImage(*image);
    for (int n = in.small(12); n > 0; --n) {
        // Half of the patches land in the first 64 KiB, which both binary
        // modes write, some at its very end.
        std::uint32_t at = in.u32() % kImageSize;
        if (at & 1) at = (at >> 1) % 0x10000;
        const std::string bytes = in.text(64);
        for (std::size_t i = 0; i < bytes.size() && at + i < kImageSize; ++i)
            image->bytes[at + i] = static_cast<std::uint8_t>(bytes[i]);
    }
    for (int n = in.small(5); n > 0; --n) window.lines.push_back(in.text(40));
    const std::string stale = in.text(64);

    Bootloader boot(in, b, *image, window, version_answer);
    b.mem->queue(stale);
    b.mem->on_write = [&boot](const std::uint8_t* d, std::size_t n) { boot.on_write(d, n); };

    const auto motor = read_integer(window.motor);
    const bool motor_ok = motor && *motor >= 0 && *motor <= 999;
    if (motor_ok) boot.motor = *motor;
    if (motor_ok && version_answer.size() == 7) {
        boot.mode = code == "02" || code == "03" ? Mode::B1536
                    : code == "01"               ? Mode::B96
                    : code == "4J"               ? Mode::Ascii
                                                 : Mode::None;
    }

    const bool ok = WriteFirmware(b.port, *image, b.out, window);

    if (!motor_ok)
        FUZZ_CHECK(b.mem->written.empty(), "bytes sent for motor '" + window.motor + "'");
    // Data a mode never sends (the 96-byte mode's block at 0xFF80 and all
    // above 0x10000) is the bootloader's own: it gets a warning line, and the
    // write still succeeds when every block sent was acknowledged.
    const bool expected = boot.mode != Mode::None && !boot.refused && boot.frames == boot.blocks();
    FUZZ_CHECK(ok == expected, "write reported " + std::string(ok ? "success" : "failure") +
                                   " after " + std::to_string(boot.frames) + " frames");
    FUZZ_CHECK((b.out.last() == "Firmware successfully written") == ok,
               "closing line: " + b.out.last());
    FUZZ_CHECK(boot.frame.empty(), "a frame was left unfinished");
    return 0;
}
