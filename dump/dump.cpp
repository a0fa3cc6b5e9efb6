#include "dump/dump.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/int_text.h"
#include "motor/motor_com.h"

namespace {

constexpr int kValuesPerLine = 16;

void append_header(std::string& text, int address) {
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
void write_dump_file(const std::string& name, const std::string& text, Reporter& out) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) {
        out.message("Error: Could not create dump file " + name + ": " + std::strerror(errno));
        return;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int write_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        out.message("Error: Could not write dump file " + name + ": " +
                    std::strerror(written ? errno : write_errno));
    }
}

}  // namespace

int dump_value(const std::string& reply) {
    const std::size_t plus = reply.find('+');
    const std::string text = plus == std::string::npos ? reply : reply.substr(plus + 1);
    return read_integer_or(text, 0);
}

void DumpMemory(motor_com& motor, Reporter& out, DumpHost& host, DumpRange range) {
    const auto name = host.ask_dump_file_name();
    if (!name) return;

    out.set_progress_max(range.last);
    out.set_progress_min(range.first);

    std::string text;
    text.reserve(static_cast<std::size_t>(range.last - range.first + 1) * 4 + 64);
    append_header(text, range.first);
    int count = 0;
    for (int address = range.first; address <= range.last; ++address) {
        append_value(text, dump_value(motor.query("(E" + std::to_string(address))));
        if (++count == kValuesPerLine) {
            count = 0;
            text += '\n';
            append_header(text, address + 1);
        }
        out.set_progress_position(address);
        out.process_events();
    }

    write_dump_file(*name, text, out);

    out.set_progress_min(0);
    out.set_progress_position(0);
    out.set_progress_max(255);
}
