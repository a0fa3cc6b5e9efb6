#include "firmware/documents.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/ascii.h"
#include "common/file_read.h"
#include "common/text_lines.h"

namespace {

constexpr std::uint64_t kConfigurationAddress = 0x1F00000;

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* refusal) {
    auto bytes = read_file_up_to(path, kMaxDocumentBytes);
    if (bytes && bytes->size() > kMaxDocumentBytes) {
        if (refusal) {
            *refusal = "Error: " + path + " is too large to open (more than " +
                       std::to_string(kMaxDocumentBytes / (1024 * 1024)) + " MiB)";
        }
        return std::nullopt;
    }
    return bytes;
}

bool IsBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Record types that carry nothing this tool writes: end of file, start
// segment address, start linear address.
bool IsHarmlessRecord(std::uint32_t type) { return type == 0x01 || type == 0x03 || type == 0x05; }

void Note(std::size_t& count, std::size_t& first, std::size_t line_number) {
    if (count++ == 0) first = line_number;
}

void NoteUnreadable(HexLoadReport& report, std::size_t line_number) {
    Note(report.unreadable, report.first_unreadable, line_number);
    if (report.unreadable_lines.size() < kMaxListedLines) {
        report.unreadable_lines.push_back(line_number);
    }
}

// Records mostly come in address order, so a new stretch is joined to the
// last one where it can be; the rest is sorted out at the end.
void NoteData(HexLoadReport& report, std::uint64_t begin, std::uint64_t end) {
    ++report.data_records;
    if (end <= begin) return;
    auto& ranges = report.data_ranges;
    if (!ranges.empty() && begin <= ranges.back().end && begin >= ranges.back().begin) {
        ranges.back().end =
            std::max<std::uint32_t>(ranges.back().end, static_cast<std::uint32_t>(end));
        return;
    }
    ranges.push_back({static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
}

void JoinRanges(std::vector<ImageRange>& ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const ImageRange& a, const ImageRange& b) { return a.begin < b.begin; });
    std::vector<ImageRange> joined;
    for (const ImageRange& r : ranges) {
        if (!joined.empty() && r.begin <= joined.back().end) {
            joined.back().end = std::max(joined.back().end, r.end);
        } else {
            joined.push_back(r);
        }
    }
    ranges = std::move(joined);
}

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

DocumentKind KindOfFile(std::string_view file_name) {
    if (file_name.size() < 4) return DocumentKind::None;
    const std::string ending = ascii_lower(std::string(file_name.substr(file_name.size() - 4)));
    if (ending == ".hex") return DocumentKind::Hex;
    if (ending == ".prg") return DocumentKind::Prg;
    if (ending == ".cfg") return DocumentKind::Cfg;
    return DocumentKind::None;
}

std::optional<std::vector<std::string>> ReadTextLines(const std::string& path,
                                                      std::string* refusal) {
    const std::optional<std::string> text = ReadWholeFile(path, refusal);
    if (!text) return std::nullopt;
    return split_lines(*text);
}

std::vector<std::string> PrgLines(std::string_view bytes) {
    std::vector<std::string> lines;
    lines.reserve(bytes.size() / 2);
    for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
        const auto b0 = static_cast<std::uint8_t>(bytes[k]);
        const auto b1 = static_cast<std::uint8_t>(bytes[k + 1]);
        // The offset keeps only its low 16 bits: the shift drops the rest.
        const std::uint32_t value =
            (static_cast<std::uint32_t>(k) << 16) | (static_cast<std::uint32_t>(b1) << 8) | b0;
        lines.push_back("(J" + std::to_string(value));
    }
    return lines;
}

std::optional<std::vector<std::string>> ReadPrgFile(const std::string& path, std::string* refusal) {
    const std::optional<std::string> bytes = ReadWholeFile(path, refusal);
    if (!bytes) return std::nullopt;
    return PrgLines(*bytes);
}

std::string SaveScript(const std::string& path, const std::vector<std::string>& lines) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return "Error: could not save " + path + " (" + std::strerror(errno) + ")";
    errno = 0;
    int error = 0;
    for (const std::string& line : lines) {
        if (std::fwrite(line.data(), 1, line.size(), file) != line.size() ||
            std::fputc('\n', file) == EOF) {
            error = errno != 0 ? errno : EIO;
            break;
        }
    }
    // A full disk often shows only when the buffer is flushed at close.
    if (std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    if (error == 0) return {};
    return "Error: could not save " + path + " completely (" + std::strerror(error) + ")";
}

HexLoadReport LoadHexDocument(FirmwareImage& image, const std::vector<std::string>& lines,
                              HexLines which) {
    HexLoadReport report;
    FillImage(image);
    std::size_t count = lines.size();
    if (which == HexLines::Capped && count > kMaxHexLines) {
        report.lines_not_parsed = count - kMaxHexLines;
        count = kMaxHexLines;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& line = lines[i];
        const std::size_t number = i + 1;
        HexRecord record;
        const int result = ParseHexLine(image, line, record);
        ++report.lines_parsed;
        const std::uint64_t data_start = std::uint64_t{image.upper_address} + record.address;
        switch (result) {
            case kHexOk:
                if (record.type == 0x04) {
                    ++report.address_records;
                } else {
                    NoteData(report, data_start, data_start + record.count);
                }
                break;
            case kHexBeyondImage: {
                ++report.beyond_image;
                if (data_start < kConfigurationAddress) {
                    Note(report.dropped, report.first_dropped, number);
                } else {
                    ++report.configuration_records;
                }
                break;
            }
            case kHexUnsupportedType: {
                if (record.type == 0x02) {
                    if (record.value != 0) {
                        Note(report.segment_records, report.first_segment_record, number);
                    }
                } else if (!IsHarmlessRecord(record.type)) {
                    NoteUnreadable(report, number);
                }
                break;
            }
            case kHexDataChecksum:
                NoteData(report, data_start, data_start + record.count);
                NoteUnreadable(report, number);
                break;
            default:
                if (!IsBlank(line)) NoteUnreadable(report, number);
                break;
        }
    }
    JoinRanges(report.data_ranges);
    image.load_report = report;
    return report;
}

std::vector<std::string> HexLoadWarnings(const HexLoadReport& report) {
    std::vector<std::string> warnings;
    if (report.unreadable > 0) {
        warnings.push_back("Warning: " +
                           Plural(report.unreadable, "line of the HEX file could not be read",
                                  "lines of the HEX file could not be read") +
                           " (first: line " + std::to_string(report.first_unreadable) + ")");
    }
    if (report.dropped > 0) {
        warnings.push_back(
            "Warning: " + Plural(report.dropped, "data record lies", "data records lie") +
            " beyond 0x40000 and will not be written (first: line " +
            std::to_string(report.first_dropped) + ")");
    }
    if (report.segment_records > 0) {
        warnings.push_back(
            "Warning: segment address records are not applied, data may be placed wrongly (" +
            Plural(report.segment_records, "record", "records") + ", first: line " +
            std::to_string(report.first_segment_record) + ")");
    }
    if (report.lines_not_parsed > 0) {
        warnings.push_back("Warning: only the first " + std::to_string(kMaxHexLines) +
                           " lines of the HEX file were read (" +
                           Plural(report.lines_not_parsed, "line", "lines") + " left out)");
    }
    return warnings;
}

void ReportHexLoad(const HexLoadReport& report, Reporter& reporter) {
    for (const std::string& line : HexLoadWarnings(report)) reporter.message(line);
}
