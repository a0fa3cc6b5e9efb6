// The integer rule: every text the tool reads a number from goes through
// read_integer. It is compared with a reading built another way (the
// standard library's from_chars on the digits), and every 32-bit value must
// survive being written out in each accepted form and read back.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/int_text.h"
#include "fuzz/fuzz_input.h"

namespace {

std::optional<std::int32_t> reference_reading(std::string_view text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string_view::npos) return std::nullopt;
    text.remove_prefix(i);

    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    for (std::string_view prefix : {"$", "x", "X", "0x", "0X"}) {
        if (text.substr(0, prefix.size()) == prefix) {
            base = 16;
            text.remove_prefix(prefix.size());
            break;
        }
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (magnitude > (negative ? 2147483648ULL : 2147483647ULL)) return std::nullopt;
    const std::int64_t value =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(value);
}

std::string show(std::optional<std::int32_t> v) { return v ? std::to_string(*v) : "none"; }

void check_same(std::string_view text) {
    const auto got = read_integer(text);
    const auto expected = reference_reading(text);
    FUZZ_CHECK(got == expected,
               "'" + escaped(text) + "' read as " + show(got) + ", expected " + show(expected));
    FUZZ_CHECK(read_integer_or(text, 12345) == (got ? *got : 12345), escaped(text));
}

// Every form the rule accepts, for one value.
void check_round_trip(std::int32_t value, const std::string& blanks) {
    const std::int64_t v = value;
    const std::uint64_t magnitude = static_cast<std::uint64_t>(v < 0 ? -v : v);
    const std::string sign = v < 0 ? "-" : "";
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(magnitude));
    char lower_hex[32];
    std::snprintf(lower_hex, sizeof lower_hex, "%llx", static_cast<unsigned long long>(magnitude));
    const std::string forms[] = {
        std::to_string(v),
        sign + "$" + hex,
        sign + "x" + lower_hex,
        sign + "0x" + hex,
        sign + "0X" + lower_hex,
        sign + "000" + std::to_string(magnitude),
        (v >= 0 ? "+" : "-") + std::to_string(magnitude),
    };
    for (const std::string& form : forms) {
        const std::string text = blanks + form;
        const auto got = read_integer(text);
        FUZZ_CHECK(got && *got == value, "'" + escaped(text) + "' read as " + show(got) +
                                             ", expected " + std::to_string(value));
    }
    // One past the range either way is no integer.
    FUZZ_CHECK(!read_integer(std::to_string(v < 0 ? std::int64_t{-2147483649LL}
                                                  : std::int64_t{2147483648LL})),
               "value outside 32 bits accepted");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_same(text);

    FuzzInput in(data, size);
    const auto value = static_cast<std::int32_t>(in.u32());
    std::string blanks;
    for (int n = in.small(3); n > 0; --n) blanks += in.flag() ? ' ' : '\t';
    check_round_trip(value, blanks);
    return 0;
}
