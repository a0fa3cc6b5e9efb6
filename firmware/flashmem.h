#pragma once
// The firmware image: the tool's copy of the controller's program memory,
// laid out by HEX byte address (four bytes per 24-bit word: low, middle,
// high, padding), the HEX line reader that fills it, and the bootloader
// frames built from it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::uint32_t kImageSize = 0x40000;  // 262,144 bytes

// A stretch of image bytes [begin, end).
struct ImageRange {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
};

// How many numbers of unreadable lines a load report keeps.
constexpr std::size_t kMaxListedLines = 1000;

// What a load met that the user should hear about. Line numbers count from
// 1, as editors show them; 0 means there was none.
struct HexLoadReport {
    std::size_t lines_parsed = 0;
    std::size_t lines_not_parsed = 0;  // past the cap
    // Lines that are not a readable record: too short, no ':', truncated,
    // a checksum error, an unknown record type. Blank lines are not counted.
    std::size_t unreadable = 0;
    std::size_t first_unreadable = 0;
    // Their numbers, the first kMaxListedLines of them.
    std::vector<std::size_t> unreadable_lines;
    // Data records dropped because they end beyond the image, other than
    // the configuration records (0x1F00000 and up) that every such file has.
    std::size_t dropped = 0;
    std::size_t first_dropped = 0;
    // Every data record that ends beyond the image, configuration records
    // included.
    std::size_t beyond_image = 0;
    // Extended segment address (type 02) records with a non-zero segment:
    // the reader does not apply them, so the data after them lands lower
    // than the file means. A zero segment changes nothing and is not counted.
    std::size_t segment_records = 0;
    std::size_t first_segment_record = 0;

    // Records that were taken: data records placed in the image (those with
    // a checksum error included, as they land all the same), upper address
    // records, and data records for 0x1F00000 and up (configuration words,
    // which the image does not hold).
    std::size_t data_records = 0;
    std::size_t address_records = 0;
    std::size_t configuration_records = 0;
    // The image bytes the placed data records name, in address order, with
    // touching and overlapping stretches joined.
    std::vector<ImageRange> data_ranges;
};

struct FirmwareImage {
    std::array<std::uint8_t, kImageSize> bytes;
    // Set by type 04 records and kept for the whole run: a later file
    // without a type 04 record lands relative to it.
    std::uint32_t upper_address = 0;
    // What the last load of a HEX document met, so that whoever writes the
    // image can ask about it (firmware/documents.h fills it in).
    HexLoadReport load_report;
};

// ParseHexLine results.
enum HexResult : int {
    kHexOk = 0,
    kHexTooShort = 1,         // fewer than 11 characters
    kHexNoColon = 2,          // first character is not ':'
    kHexTruncated = 3,        // shorter than 2*count + 11
    kHexUnsupportedType = 4,  // neither 00 nor 04 (end-of-file included)
    kHexBeyondImage = 5,      // data would end beyond 0x40000
    kHexDataChecksum = 6,     // data stored all the same
    kHexUpperChecksum = 7,    // upper address unchanged
};

// The fields ahead of a record's data, as ParseHexLine read them; a field
// it did not get to stays 0.
struct HexRecord {
    std::uint32_t count = 0;
    std::uint32_t address = 0;
    std::uint32_t type = 0;
    // Records other than data: the four digits where the data begins (the
    // upper address of type 04, the segment of type 02).
    std::uint32_t value = 0;
};

void FillImage(FirmwareImage& image);
int ParseHexLine(FirmwareImage& image, std::string_view line);
// The same, and what it read of the record into `record`.
int ParseHexLine(FirmwareImage& image, std::string_view line, HexRecord& record);
std::uint32_t HexToInt(std::string_view text);

// Blank tests look at the three data bytes of each word only.
bool IsBlankBlock96(const FirmwareImage& image, std::uint32_t byte_address);
bool IsBlankBlock1536(const FirmwareImage& image, std::uint32_t word_address);

// The words in image bytes [begin, end) whose data bytes are not all erased
// (padding bytes do not count): how many, and the byte addresses at which
// the first and the last of them start. `begin` and `end` are multiples of 4.
struct DataWords {
    std::size_t count = 0;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
};
DataWords FindDataWords(const FirmwareImage& image, std::uint32_t begin, std::uint32_t end);

// `words` words starting at image byte address `byte_address`, each as
// high, middle, low byte (3 * words bytes into `out`).
void ReadBlockBootloaderOrder(const FirmwareImage& image, std::uint32_t byte_address, int words,
                              std::uint8_t* out);

// (256 - sum) mod 256 over the address and data bytes of a frame.
std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t count);

// Frame builders: append the frame to `out` (cleared first) and return its
// length. `motor` is 0 ... 999, written as 1 to 3 digits (0 as "0"); any
// other number leaves `out` empty and returns 0, since a frame carrying a
// different number could reprogram the wrong controller. Image bytes a
// block would take from beyond the image are sent as erased (0xFF).
constexpr std::size_t kMaxFrameSize = 1546;
std::size_t BuildDataFrame1536(const FirmwareImage& image, int motor, std::uint32_t word_address,
                               std::vector<std::uint8_t>& out);
std::size_t BuildDataFrame96(const FirmwareImage& image, int motor, std::uint32_t byte_address,
                             std::vector<std::uint8_t>& out);
// 1536-byte mode: `address` is the word address (3 bytes on the wire);
// 96-byte mode: `address` is the byte address, sent halved in 2 bytes.
enum class FrameMode { Binary1536, Binary96 };
std::size_t BuildClearFrame(FrameMode mode, int motor, std::uint32_t address,
                            std::vector<std::uint8_t>& out);
