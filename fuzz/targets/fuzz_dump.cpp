// The dump routine over ranges from the input, near both ends of the int
// range and backwards too, with the controller's replies from the input.
//
// It must ask for exactly the addresses of the range, in order, and write a
// file in which every line begins with the address of its first value and
// every value is the number its reply carried.

#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dump/dump.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/line_bench.h"

namespace {

class Host : public DumpHost {
public:
    std::optional<std::string> name;
    std::optional<std::string> ask_dump_file_name() override {
        ++asked;
        return name;
    }
    int asked = 0;
};

std::string hex(std::int64_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X\t", static_cast<unsigned>(address));
    return text;
}

// The value of a reply: the number after the first "+" (or the whole reply
// when it has none), decimal or hexadecimal, 0 when that is not a number.
int reply_value(const std::string& reply) {
    const std::size_t plus = reply.find('+');
    std::string text = plus == std::string::npos ? reply : reply.substr(plus + 1);
    const long long value = [&]() -> long long {
        std::size_t i = text.find_first_not_of(" \t");
        if (i == std::string::npos) return 0;
        bool negative = false;
        if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
        int base = 10;
        if (text.compare(i, 1, "$") == 0 || text.compare(i, 1, "x") == 0 ||
            text.compare(i, 1, "X") == 0) {
            base = 16;
            i += 1;
        } else if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
            base = 16;
            i += 2;
        }
        if (i >= text.size()) return 0;
        long long v = 0;
        for (; i < text.size(); ++i) {
            const char c = text[i];
            int d = c >= '0' && c <= '9'                 ? c - '0'
                    : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : -1;
            if (d < 0) return 0;
            v = v * base + d;
            if (v > 2147483648LL) return 0;
        }
        if (negative) v = -v;
        return v < INT_MIN || v > INT_MAX ? 0 : v;
    }();
    return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzTempFile dump_file("dump.eed");
    const std::string& file = dump_file.path;
    FuzzInput in(data, size);
    LineBench b;
    Host host;
    if (in.small(15) != 0) host.name = file;
    std::filesystem::remove(file);

    // Starts at the three real ranges, at small addresses, near the ends of
    // the int range, or anywhere; lengths from backwards to a few lines.
    std::int64_t first = 0;
    switch (in.small(5)) {
        case 0:
            first = 0x1D00;
            break;
        case 1:
            first = in.small(255);
            break;
        case 2:
            first = INT_MAX - in.small(255);
            break;
        case 3:
            first = INT_MIN + in.small(255);
            break;
        default:
            first = static_cast<std::int32_t>(in.u32());
    }
    std::int64_t last = first + in.in_range(-20, 300);
    if (last > INT_MAX) last = INT_MAX;
    if (last < INT_MIN) last = INT_MIN;
    const DumpRange range{static_cast<int>(first), static_cast<int>(last)};

    std::vector<std::string> replies;
    b.mem->on_write = [&](const std::uint8_t*, std::size_t) {
        std::string reply = in.text(40);
        for (char& c : reply)
            if (c == '\r') c = ' ';
        if (in.small(7) != 0) reply = "1(E+" + reply;  // the usual shape
        reply += '\r';
        replies.push_back(reply);
        b.mem->queue(reply);
    };

    DumpMemory(b.motor, b.out, host, range);

    const std::string written = b.mem->written_text();
    if (last < first || !host.name) {
        FUZZ_CHECK(written.empty(), "bytes sent for an empty or cancelled dump");
        FUZZ_CHECK(!std::filesystem::exists(file), "file written for an empty or cancelled dump");
        FUZZ_CHECK(last >= first || host.asked == 0, "dialog shown for a backwards range");
        return 0;
    }

    std::string requests;
    std::string expected = hex(first);
    int count = 0;
    for (std::int64_t a = first; a <= last; ++a) {
        requests += "#1(E" + std::to_string(a) + "\r";
        const std::size_t n = static_cast<std::size_t>(a - first);
        FUZZ_CHECK(n < replies.size(), "fewer replies than addresses");
        char value[16];
        std::snprintf(value, sizeof value, " %02X",
                      static_cast<unsigned>(reply_value(expected_reply(replies[n]).text)));
        expected += value;
        if (++count == 16) {
            count = 0;
            expected += '\n' + hex(a + 1);
        }
    }
    FUZZ_CHECK(written == requests, "requests '" + escaped(written.substr(0, 80)) + "...'");

    std::ifstream in_file(file, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in_file)),
                          std::istreambuf_iterator<char>());
    FUZZ_CHECK(got == expected, "dump file '" + escaped(got.substr(0, 120)) + "', expected '" +
                                    escaped(expected.substr(0, 120)) + "'");
    return 0;
}
