#include "firmware/flashmem.h"

namespace {

// Characters `first` ... `first + length - 1`, counted from 1 as in the HEX
// record layout. A type 04 record may be shorter than the positions it is
// read from; what lies past the end of the line reads as nothing.
std::string_view Chars(std::string_view line, std::size_t first, std::size_t length) {
    const std::size_t start = first - 1;
    if (start >= line.size()) return {};
    return line.substr(start, length);
}

// Loading a file reads every character through this table; any character
// that is not a hex digit is worth 0.
constexpr std::array<std::uint8_t, 256> kDigitValue = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::uint8_t>(c - 'a' + 10);
    return table;
}();

std::uint8_t Byte(std::uint32_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

// Bytes past the end of the image read as erased memory, so a block that
// runs off the end can neither read out of bounds nor look programmed.
std::uint8_t ImageByte(const FirmwareImage& image, std::uint64_t address) {
    return address < kImageSize ? image.bytes[address] : 0xFF;
}

bool WordsBlank(const FirmwareImage& image, std::uint64_t byte_address, int words) {
    for (int k = 0; k < words; ++k) {
        const std::uint64_t word = byte_address + 4u * static_cast<std::uint64_t>(k);
        for (int offset = 0; offset < 3; ++offset) {
            if (ImageByte(image, word + offset) != 0xFF) return false;
        }
    }
    return true;
}

// Out-of-range motors get no frame at all: a frame addressed to some other
// number could reach (and reprogram) the wrong controller.
bool AppendFrameHead(int motor, char command, std::vector<std::uint8_t>& out) {
    out.clear();
    if (motor < 0 || motor > 999) return false;
    out.push_back('#');
    if (motor > 99) out.push_back(static_cast<std::uint8_t>('0' + motor / 100));
    if (motor > 9) out.push_back(static_cast<std::uint8_t>('0' + motor / 10 % 10));
    out.push_back(static_cast<std::uint8_t>('0' + motor % 10));
    out.push_back('@');
    out.push_back(static_cast<std::uint8_t>(command));
    return true;
}

// Appends the checksum over everything after the head (address and data).
std::size_t FinishFrame(std::size_t head_length, std::vector<std::uint8_t>& out) {
    out.push_back(FrameChecksum(out.data() + head_length, out.size() - head_length));
    return out.size();
}

std::size_t BuildDataFrame(const FirmwareImage& image, int motor, std::uint32_t byte_address,
                           int words, const std::uint8_t* address_bytes, std::size_t address_count,
                           std::vector<std::uint8_t>& out) {
    if (!AppendFrameHead(motor, ':', out)) return 0;
    const std::size_t head = out.size();
    out.insert(out.end(), address_bytes, address_bytes + address_count);
    const std::size_t data_at = out.size();
    out.resize(data_at + 3 * static_cast<std::size_t>(words));
    ReadBlockBootloaderOrder(image, byte_address, words, out.data() + data_at);
    return FinishFrame(head, out);
}

}  // namespace

void FillImage(FirmwareImage& image) { image.bytes.fill(0xFF); }

std::uint32_t HexToInt(std::string_view text) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        value += kDigitValue[static_cast<unsigned char>(text[i])];
        if (i + 1 < text.size()) value <<= 4;
    }
    return value;
}

int ParseHexLine(FirmwareImage& image, std::string_view line) {
    HexRecord record;
    return ParseHexLine(image, line, record);
}

int ParseHexLine(FirmwareImage& image, std::string_view line, HexRecord& record) {
    record = {};
    if (line.size() < 11) return kHexTooShort;
    if (line[0] != ':') return kHexNoColon;

    std::uint32_t sum = 0;
    const std::uint32_t count = record.count = HexToInt(Chars(line, 2, 2));
    sum += count;
    if (line.size() < 2 * count + 11) return kHexTruncated;

    const std::uint32_t address = record.address = HexToInt(Chars(line, 4, 4));
    sum += (address >> 8) + (address & 0xFF);
    const std::uint32_t type = record.type = HexToInt(Chars(line, 8, 2));
    sum += type;

    if (type != 0x00) {
        // The value sits at fixed positions; a count field that says
        // otherwise is not believed.
        const std::uint32_t value = record.value = HexToInt(Chars(line, 10, 4));
        if (type != 0x04) return kHexUnsupportedType;
        sum += (value >> 8) + (value & 0xFF);
        const std::uint32_t checksum = HexToInt(Chars(line, 14, 2));
        if (checksum != (256 - (sum & 0xFF)) % 256) return kHexUpperChecksum;
        image.upper_address = value << 16;
        return kHexOk;
    }

    // Widened so that a huge upper address cannot wrap round into the image.
    const std::uint64_t start = std::uint64_t{image.upper_address} + address;
    if (start + count > kImageSize) return kHexBeyondImage;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t byte = HexToInt(Chars(line, 10 + 2 * i, 2));
        image.bytes[start + i] = Byte(byte);
        sum += byte;
    }
    const std::uint32_t checksum = HexToInt(Chars(line, 10 + 2 * count, 2));
    return checksum != (256 - (sum & 0xFF)) % 256 ? kHexDataChecksum : kHexOk;
}

bool IsBlankBlock96(const FirmwareImage& image, std::uint32_t byte_address) {
    return WordsBlank(image, byte_address, 32);
}

bool IsBlankBlock1536(const FirmwareImage& image, std::uint32_t word_address) {
    return WordsBlank(image, 2 * std::uint64_t{word_address}, 512);
}

DataWords FindDataWords(const FirmwareImage& image, std::uint32_t begin, std::uint32_t end) {
    DataWords found;
    if (end > kImageSize) end = kImageSize;
    for (std::uint32_t word = begin; word + 4 <= end; word += 4) {
        if (WordsBlank(image, word, 1)) continue;
        if (found.count++ == 0) found.first = word;
        found.last = word;
    }
    return found;
}

void ReadBlockBootloaderOrder(const FirmwareImage& image, std::uint32_t byte_address, int words,
                              std::uint8_t* out) {
    for (int k = 0; k < words; ++k) {
        const std::uint64_t word = byte_address + 4u * static_cast<std::uint64_t>(k);
        *out++ = ImageByte(image, word + 2);
        *out++ = ImageByte(image, word + 1);
        *out++ = ImageByte(image, word + 0);
    }
}

std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return static_cast<std::uint8_t>(256 - sum);
}

std::size_t BuildDataFrame1536(const FirmwareImage& image, int motor, std::uint32_t word_address,
                               std::vector<std::uint8_t>& out) {
    const std::uint8_t address[] = {Byte(word_address >> 16), Byte(word_address >> 8),
                                    Byte(word_address)};
    // Any address past the image reads as erased; clamping keeps the doubling
    // from wrapping round into it.
    const std::uint32_t byte_address = word_address < kImageSize ? 2 * word_address : kImageSize;
    return BuildDataFrame(image, motor, byte_address, 512, address, 3, out);
}

std::size_t BuildDataFrame96(const FirmwareImage& image, int motor, std::uint32_t byte_address,
                             std::vector<std::uint8_t>& out) {
    const std::uint32_t half = byte_address / 2;
    const std::uint8_t address[] = {Byte(half >> 8), Byte(half)};
    return BuildDataFrame(image, motor, byte_address, 32, address, 2, out);
}

std::size_t BuildClearFrame(FrameMode mode, int motor, std::uint32_t address,
                            std::vector<std::uint8_t>& out) {
    if (!AppendFrameHead(motor, 'C', out)) return 0;
    const std::size_t head = out.size();
    if (mode == FrameMode::Binary1536) {
        out.push_back(Byte(address >> 16));
        out.push_back(Byte(address >> 8));
        out.push_back(Byte(address));
    } else {
        const std::uint32_t half = address / 2;
        out.push_back(Byte(half >> 8));
        out.push_back(Byte(half));
    }
    return FinishFrame(head, out);
}
