#include "dump/dump.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/int_text.h"
#include "common/stop.h"
#include "motor/motor_com.h"
#include "serial/serial.h"

namespace {

constexpr int kValuesPerLine = 16;

// The address after the last one of a range can lie past the largest int;
// headers show addresses as 32-bit values.
void append_header(std::string& text, std::int64_t address) {
    char header[16];
    std::snprintf(header, sizeof header, "0x%04X\t", static_cast<unsigned>(address));
    text += header;
}

void append_value(std::string& text, int value) {
    char field[16];
    std::snprintf(field, sizeof field, " %02X", static_cast<unsigned>(value));
    text += field;
}

// Writes the whole text or reports why it could not.
bool write_dump_file(const std::string& name, const std::string& text, Reporter& out) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) {
        out.message("Error: Could not create dump file " + name + ": " + std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int write_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        out.message("Error: Could not write dump file " + name + ": " +
                    std::strerror(written ? errno : write_errno));
        return false;
    }
    return true;
}

// The file keeps its form, so these addresses read 00 there like a real 0.
void report_unanswered(int count, int first, Reporter& out) {
    char address[16];
    std::snprintf(address, sizeof address, "0x%04X", static_cast<unsigned>(first));
    out.message(
        "Warning: " + std::to_string(count) +
        (count == 1 ? " address got no reply and reads" : " addresses got no reply and read") +
        " 00 in the dump (first: " + address + ")");
}

}  // namespace

int dump_value(const std::string& reply) {
    const std::size_t plus = reply.find('+');
    const std::string text = plus == std::string::npos ? reply : reply.substr(plus + 1);
    return read_integer_or(text, 0);
}

DumpResult DumpMemory(motor_com& motor, Reporter& out, DumpHost& host, DumpRange range) {
    DumpResult result;
    // A range that ends before it starts holds no address; there is nothing
    // to ask for, send or write.
    if (range.last < range.first) {
        out.message("Error: the dump range ends before it starts");
        return result;
    }
    const auto name = host.ask_dump_file_name();
    if (!name) return result;
    result.asked = true;

    out.set_progress_max(range.last);
    out.set_progress_min(range.first);

    // Counted in 64 bits: a range may end at the largest int, and its size
    // may not fit an int. Only what the three dumps need is reserved ahead.
    const std::int64_t addresses = std::int64_t{range.last} - range.first + 1;
    std::string text;
    text.reserve(static_cast<std::size_t>(std::min<std::int64_t>(addresses, 0x10000)) * 4 + 64);
    append_header(text, range.first);
    int count = 0;
    // Bytes already waiting (the end of an earlier exchange, or a reply that
    // came after its address had been given up) would be read as the next
    // address's value, and every value after it would be one address off.
    // A port that is not open has nothing waiting, and opening it here would
    // only repeat the open's error lines.
    bool discard = true;
    for (std::int64_t next = range.first; next <= range.last; ++next) {
        const int address = static_cast<int>(next);
        if (discard && motor.port().is_open()) motor.port().discard_waiting();
        // The window's events run while the reply is on its way: the time
        // they take is hidden in the line's own, and they still run once per
        // byte. Nothing else can take the reply meanwhile, because whoever
        // talks to the line holds the window's line guard.
        motor.send("(E" + std::to_string(address));
        out.set_progress_position(address);
        out.process_events();
        const std::string reply = motor.read_reply();
        discard = !motor.replied();
        if (discard && result.unanswered++ == 0) result.first_unanswered = address;
        append_value(text, dump_value(reply));
        if (++count == kValuesPerLine) {
            count = 0;
            text += '\n';
            append_header(text, next + 1);
        }
        // Half a dump in a file would pass for a whole one.
        if (stop_here(out, "the dump", "no file was written")) break;
    }

    if (!out.stop_requested()) {
        result.file_written = write_dump_file(*name, text, out);
        if (result.unanswered > 0)
            report_unanswered(result.unanswered, result.first_unanswered, out);
    }

    out.set_progress_min(0);
    out.set_progress_position(0);
    out.set_progress_max(255);
    return result;
}
