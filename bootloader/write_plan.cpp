#include "bootloader/write_plan.h"

#include <algorithm>

#include "common/int_text.h"

namespace {

// Every read waits 10 ms per requested byte on top of its time-out, so the
// one-byte drain read with its 1 ms time-out costs 11 ms on a quiet line, and
// the 64-byte read of stale input before the version query 640 ms plus the
// port's time-out.
constexpr double kReadMsPerByte = 10.0;
constexpr double kDrainReadMs = kReadMsPerByte * 1 + 1;
constexpr std::size_t kStaleReadBytes = 64;
constexpr std::uint64_t kVersionReplyBytes = 7;
constexpr std::uint64_t kAckBytes = 2;
constexpr std::uint64_t kAsciiReplyBytes = 7;
// Each exchange also waits for wake-ups that the bytes on the line do not
// show: the controller's, to take in the request, and this side's, to take
// the reply's last byte. A tenth of a millisecond is the order they cost on a
// local port (between 0.06 and 0.15 ms an exchange, measured against the
// simulated controller); it only counts where frames are short and many, as
// the ASCII mode's lines are.
constexpr double kTurnaroundSeconds = 100e-6;

// Programmed words from image byte `from` to the end of the image.
void NoteUnsent(const FirmwareImage& image, std::uint32_t from, WritePlan& plan) {
    for (std::uint32_t word = from; word < kImageSize; word += 4) {
        if (FindDataWords(image, word, word + 4).count == 0) continue;
        ++plan.unsent_words;
        if (!plan.unsent.empty() && plan.unsent.back().end == word) {
            plan.unsent.back().end = word + 4;
        } else {
            plan.unsent.push_back({word, word + 4});
        }
    }
}

}  // namespace

std::optional<WriteMode> ModeOfVersion(std::string_view code) {
    if (code == "02" || code == "03") return WriteMode::Binary1536;
    if (code == "01") return WriteMode::Binary96;
    if (code == "4J") return WriteMode::Ascii16;
    return std::nullopt;
}

const char* ModeName(WriteMode mode) {
    switch (mode) {
        case WriteMode::Binary1536:
            return "1536";
        case WriteMode::Binary96:
            return "96";
        case WriteMode::Ascii16:
            break;
    }
    return "ascii";
}

const char* ModeAnnouncement(WriteMode mode) {
    switch (mode) {
        case WriteMode::Binary1536:
            return "Writing in 1536 Byte binary mode !";
        case WriteMode::Binary96:
            return "Writing in 96 Byte binary mode !";
        case WriteMode::Ascii16:
            break;
    }
    return "Writing in 16 Byte ASCII mode !";
}

WritePlan PlanWrite(WriteMode mode, const FirmwareImage& image,
                    const std::vector<std::string>& lines, const LineTiming& timing) {
    WritePlan plan;
    plan.mode = mode;
    const int motor = std::clamp(read_integer_or(timing.motor_text, 1), 0, 999);

    plan.wait_seconds = (kReadMsPerByte * kStaleReadBytes + timing.read_timeout_ms) / 1000.0;
    plan.bytes_out = timing.motor_text.size() + 3;
    plan.bytes_in = kVersionReplyBytes;

    // Frame lengths depend on the motor number only, so one of each kind
    // measures them all.
    std::vector<std::uint8_t> frame;
    switch (mode) {
        case WriteMode::Binary1536: {
            const std::size_t data = BuildDataFrame1536(image, motor, 0, frame);
            const std::size_t clear = BuildClearFrame(FrameMode::Binary1536, motor, 0, frame);
            plan.wait_seconds += kDrainReadMs / 1000.0;
            for (std::uint32_t w = 0; w < kEnd1536Words; w += kBlockWords1536) {
                const bool blank = IsBlankBlock1536(image, w);
                ++(blank ? plan.clear_frames : plan.data_frames);
                plan.bytes_out += blank ? clear : data;
                plan.bytes_in += kAckBytes;
                plan.wait_seconds += kDrainReadMs / 1000.0;
            }
            NoteUnsent(image, 2 * kEnd1536Words, plan);
            break;
        }
        case WriteMode::Binary96: {
            const std::size_t data = BuildDataFrame96(image, motor, 0, frame);
            const std::size_t clear = BuildClearFrame(FrameMode::Binary96, motor, 0, frame);
            for (std::uint32_t a = 0; a < kLastSent96; a += kBlock96) {
                const bool blank = IsBlankBlock96(image, a);
                ++(blank ? plan.clear_frames : plan.data_frames);
                plan.bytes_out += blank ? clear : data;
                plan.bytes_in += kAckBytes;
            }
            NoteUnsent(image, kLastSent96, plan);
            break;
        }
        case WriteMode::Ascii16: {
            const std::size_t head = 1 + std::to_string(motor).size() + 1;
            for (const std::string& line : lines) {
                ++plan.data_frames;
                plan.bytes_out += head + line.size() + 1;
                plan.bytes_in += kAsciiReplyBytes;
            }
            break;
        }
    }
    return plan;
}

std::uint64_t Exchanges(const WritePlan& plan) {
    // The version query, then one exchange per frame or line.
    return 1 + static_cast<std::uint64_t>(plan.data_frames + plan.clear_frames);
}

double EstimatedSeconds(const WritePlan& plan, const LineTiming& timing) {
    const double bits = 10.0 * static_cast<double>(plan.bytes_out + plan.bytes_in);
    return bits / (timing.baud > 0 ? timing.baud : 1) + plan.wait_seconds +
           static_cast<double>(Exchanges(plan)) * kTurnaroundSeconds;
}
