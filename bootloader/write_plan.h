#pragma once
// The three transfer modes of the firmware write and what each of them
// sends for a given image: which blocks go out as data frames and which as
// clear frames, which programmed words a mode never sends, and how long the
// exchange needs on the line. The write itself and the pre-flight report
// take their block layout from here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/flashmem.h"

enum class WriteMode { Binary1536, Binary96, Ascii16 };

// The mode a bootloader version code (characters 5 and 6 of its reply) asks
// for: "02" and "03" the 1536-byte mode, "01" the 96-byte mode, "4J" the
// ASCII mode. No value for any other code.
std::optional<WriteMode> ModeOfVersion(std::string_view code);

// The line that announces the mode, e.g. "Writing in 1536 Byte binary mode !".
const char* ModeAnnouncement(WriteMode mode);
// The mode's short name: "1536", "96" or "ascii".
const char* ModeName(WriteMode mode);

// 1536-byte mode: blocks of 1024 words at word addresses 0 ... 0x15400, so
// image bytes 0 ... 0x2AFFF.
constexpr std::uint32_t kEnd1536Words = 0x15800;
constexpr std::uint32_t kBlockWords1536 = 1024;
// 96-byte mode: blocks of 128 image bytes starting below 0xFF80; the block at
// 0xFF80 is never sent.
constexpr std::uint32_t kEnd96 = 0x10000;
constexpr std::uint32_t kBlock96 = 128;
constexpr std::uint32_t kLastSent96 = kEnd96 - kBlock96;

// What one mode would send for an image (or, in the ASCII mode, for the
// file's lines).
struct WritePlan {
    WriteMode mode = WriteMode::Binary1536;
    int data_frames = 0;   // blocks with program data (ASCII mode: lines)
    int clear_frames = 0;  // blank blocks sent as clear frames
    // Words with program data (as FindDataWords counts them) that lie
    // outside what the mode sends, and where they are.
    std::uint32_t unsent_words = 0;
    std::vector<ImageRange> unsent;
    // Bytes on the line, both ways, and the fixed waits the write makes.
    std::uint64_t bytes_out = 0;
    std::uint64_t bytes_in = 0;
    double wait_seconds = 0;
};

// What the estimate needs to know about the line.
struct LineTiming {
    std::uint32_t baud = 115200;
    std::uint32_t read_timeout_ms = 100;  // the port's read time-out
    std::string motor_text = "1";         // as the version query sends it
};

// The plan of a write in `mode`. `lines` are the HEX file's lines, which
// only the ASCII mode sends.
WritePlan PlanWrite(WriteMode mode, const FirmwareImage& image,
                    const std::vector<std::string>& lines, const LineTiming& timing);

// Requests of the write that wait for a reply.
std::uint64_t Exchanges(const WritePlan& plan);

// Seconds the whole write needs at the line rate: the stale-input read and
// the version query ahead of it, every frame and its acknowledgement at ten
// bits per byte, the drain reads between blocks, and a short turnaround for
// every exchange.
double EstimatedSeconds(const WritePlan& plan, const LineTiming& timing);
