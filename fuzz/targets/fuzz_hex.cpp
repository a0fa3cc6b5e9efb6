// The HEX reader, line by line and as a whole file opened from disk.
//
// Every line's result and effect is compared with a model of the reader
// written from its rules, so any byte stored where a record does not put it
// (inside the image or beyond it) shows as a difference. A file that is
// valid Intel HEX must give the same image as a strict reader of the format;
// besides the input as it stands, every input is also turned into such a
// file and loaded, since valid checksums rarely come about by chance.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "firmware/documents.h"
#include "firmware/flashmem.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/mem_file.h"

namespace {

using Image = std::array<std::uint8_t, kImageSize>;

int digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The reader's rules: characters counted from 1, anything that is not a hex
// digit is worth 0, fields past the end of the line read as nothing.
struct LenientModel {
    Image bytes;
    std::uint32_t upper = 0;

    static std::uint32_t field(std::string_view line, std::size_t first, std::size_t length) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < length && first - 1 + k < line.size(); ++k) {
            if (k > 0) value *= 16;
            const int d = digit(line[first - 1 + k]);
            value += d < 0 ? 0 : static_cast<std::uint32_t>(d);
        }
        return value;
    }

    int parse(std::string_view line) {
        if (line.size() < 11) return 1;
        if (line[0] != ':') return 2;
        const std::uint32_t count = field(line, 2, 2);
        if (line.size() < 2 * count + 11) return 3;
        const std::uint32_t address = field(line, 4, 4);
        const std::uint32_t type = field(line, 8, 2);
        unsigned sum = count + address / 256 + address % 256 + type;
        if (type == 4) {
            const std::uint32_t value = field(line, 10, 4);
            sum += value / 256 + value % 256;
            if (field(line, 14, 2) != (256 - sum % 256) % 256) return 7;
            upper = value << 16;
            return 0;
        }
        if (type != 0) return 4;
        if (std::uint64_t{upper} + address + count > kImageSize) return 5;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t byte = field(line, 10 + 2 * i, 2);
            bytes[upper + address + i] = static_cast<std::uint8_t>(byte);
            sum += byte;
        }
        return field(line, 10 + 2 * count, 2) != (256 - sum % 256) % 256 ? 6 : 0;
    }
};

// A strict Intel HEX reader for the record types the tool takes (data,
// extended linear address, end of file). False when the text is not such a
// file: a bad character, count or checksum, or a record after the end.
bool strict_reading(const std::vector<std::string>& lines, std::uint32_t upper, Image& image,
                    std::size_t* beyond_image) {
    image.fill(0xFF);
    bool ended = false;
    *beyond_image = 0;
    for (const std::string& line : lines) {
        if (line.empty()) continue;
        if (ended || line[0] != ':' || line.size() % 2 == 0 || line.size() < 11) return false;
        std::vector<std::uint8_t> record;
        for (std::size_t i = 1; i < line.size(); i += 2) {
            const int hi = digit(line[i]);
            const int lo = digit(line[i + 1]);
            if (hi < 0 || lo < 0) return false;
            record.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        unsigned sum = 0;
        for (std::uint8_t b : record) sum += b;
        if (sum % 256 != 0 || record[0] != record.size() - 5) return false;
        const std::uint32_t address = record[1] * 256u + record[2];
        const std::uint8_t* data = record.data() + 4;
        switch (record[3]) {
            case 0x00:
                if (std::uint64_t{upper} + address + record[0] > kImageSize) {
                    ++*beyond_image;
                    break;
                }
                for (std::size_t i = 0; i < record[0]; ++i) image[upper + address + i] = data[i];
                break;
            case 0x01:
                if (record[0] != 0) return false;
                ended = true;
                break;
            case 0x04:
                if (record[0] != 2) return false;
                upper = (data[0] * 256u + data[1]) << 16;
                break;
            default:
                return false;
        }
    }
    return true;
}

void check_images(const Image& tool, const Image& expected, const char* what) {
    if (std::memcmp(tool.data(), expected.data(), tool.size()) == 0) return;
    std::size_t at = 0;
    while (tool[at] == expected[at]) ++at;
    char detail[128];
    std::snprintf(detail, sizeof detail, "%s: image byte 0x%zX is %02X, expected %02X", what, at,
                  tool[at], expected[at]);
    fuzz_fail(__FILE__, __LINE__, "same image", detail);
}

std::vector<std::string> lines_of(MemFile& file, std::string_view text) {
    FUZZ_CHECK(file.set(text), "memory file");
    auto lines = ReadTextLines(file.path());
    FUZZ_CHECK(lines.has_value(), "memory file unreadable");
    return *lines;
}

// The input read as a program of records, written out as a valid file.
std::string valid_file_from(FuzzInput& in, std::uint32_t& upper_before) {
    upper_before = in.flag() ? (in.byte() & 0x07u) << 16 : 0;
    const bool lower_case = in.flag();
    const char* line_end = in.flag() ? "\r\n" : "\n";
    std::string text;
    auto put = [&](std::uint8_t type, std::uint16_t address, const std::string& data) {
        std::vector<std::uint8_t> record = {static_cast<std::uint8_t>(data.size()),
                                            static_cast<std::uint8_t>(address >> 8),
                                            static_cast<std::uint8_t>(address), type};
        record.insert(record.end(), data.begin(), data.end());
        unsigned sum = 0;
        for (std::uint8_t b : record) sum += b;
        record.push_back(static_cast<std::uint8_t>((256 - sum % 256) % 256));
        text += ':';
        for (std::uint8_t b : record) {
            char hex[3];
            std::snprintf(hex, sizeof hex, lower_case ? "%02x" : "%02X", b);
            text += hex;
        }
        text += line_end;
    };
    for (int records = in.small(40); records > 0 && !in.empty(); --records) {
        const std::uint8_t kind = in.byte();
        if (kind % 8 == 0) {
            // Upper addresses 0 ... 7 reach into the image and past it.
            put(0x04, 0, std::string{'\0', static_cast<char>(in.byte() & 0x07)});
        } else {
            const auto address = static_cast<std::uint16_t>(in.u32());
            put(0x00, address, in.text(64));
        }
    }
    put(0x01, 0, "");
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemFile file("kfu-fuzz-hex");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = lines_of(file, text);

    // The images sit alone on the heap, so a store past the end of one also
    // trips the address sanitizer. They are kept from one input to the next.
    static const auto image = std::make_unique<FirmwareImage>();
    static const auto loaded = std::make_unique<FirmwareImage>();
    static const auto model = std::make_unique<LenientModel>();
    static const auto strict = std::make_unique<Image>();
    FillImage(*image);
    image->upper_address = 0;
    model->bytes.fill(0xFF);
    model->upper = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int got = ParseHexLine(*image, lines[i]);
        const int expected = model->parse(lines[i]);
        FUZZ_CHECK(got == expected, "line " + std::to_string(i + 1) + " '" + escaped(lines[i]) +
                                        "' gave " + std::to_string(got) + ", expected " +
                                        std::to_string(expected));
        FUZZ_CHECK(image->upper_address == model->upper,
                   "upper address after line " + std::to_string(i + 1));
    }
    check_images(image->bytes, model->bytes, "line by line");

    // Loading the file does the same from an erased image.
    loaded->upper_address = 0;
    const HexLoadReport report = LoadHexDocument(*loaded, lines);
    FUZZ_CHECK(report.lines_parsed == lines.size(), "lines parsed");
    FUZZ_CHECK(loaded->upper_address == model->upper, "upper address after load");
    check_images(loaded->bytes, model->bytes, "whole file");

    std::size_t beyond = 0;
    if (strict_reading(lines, 0, *strict, &beyond)) {
        check_images(loaded->bytes, *strict, "valid file");
        FUZZ_CHECK(report.unreadable == 0, "valid file reported unreadable at line " +
                                               std::to_string(report.first_unreadable));
        FUZZ_CHECK(report.dropped <= beyond, "dropped records");
    }

    FuzzInput in(data, size);
    std::uint32_t upper_before = 0;
    const std::string valid = valid_file_from(in, upper_before);
    const std::vector<std::string> valid_lines = lines_of(file, valid);
    loaded->upper_address = upper_before;  // left by a file loaded earlier
    const HexLoadReport valid_report = LoadHexDocument(*loaded, valid_lines);
    FUZZ_CHECK(strict_reading(valid_lines, upper_before, *strict, &beyond),
               "generated file not valid: " + escaped(valid));
    check_images(loaded->bytes, *strict, "generated valid file");
    FUZZ_CHECK(valid_report.unreadable == 0 && valid_report.segment_records == 0,
               "generated valid file reported unreadable");
    FUZZ_CHECK(valid_report.dropped == beyond, "dropped " + std::to_string(valid_report.dropped) +
                                                   " records, expected " + std::to_string(beyond));
    return 0;
}
