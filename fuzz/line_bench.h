#pragma once
// The tool's port and motor object on an in-memory line, for fuzz targets:
// what the tool writes is recorded, and each write can be answered with the
// next reply the target has lined up.

#include <deque>
#include <memory>
#include <string>

#include "motor/motor_com.h"
#include "serial/memory_backend.h"
#include "serial/serial.h"
#include "tests/support/recorder.h"

struct LineBench {
    explicit LineBench(std::uint32_t timeout_ms = 100)
        : mem(new MemoryBackend),
          port(out, "mem0", timeout_ms, std::unique_ptr<SerialBackend>(mem)),
          motor(port) {
        mem->on_write = [this](const std::uint8_t*, std::size_t) {
            if (!answers.empty()) {
                mem->queue(answers.front());
                answers.pop_front();
            }
            after_write = pending();
            read_at_write = mem->bytes_read;
        };
    }

    // What the next reads will get, as a text.
    std::string pending() const { return std::string(mem->input.begin(), mem->input.end()); }
    std::size_t written_since(std::size_t mark) const { return mem->written.size() - mark; }
    std::string written_from(std::size_t mark) const {
        return std::string(mem->written.begin() + static_cast<std::ptrdiff_t>(mark),
                           mem->written.end());
    }

    Recorder out;
    MemoryBackend* mem;  // owned by `port`
    serial port;
    motor_com motor;
    // Queued one per write, in order.
    std::deque<std::string> answers;
    // The input as it stood right after the last write had been answered.
    std::string after_write;
    std::size_t read_at_write = 0;
};

// What read_reply must make of `input`: how many bytes it takes and the
// text it gives. A reply ends at its CR, at the end of what arrived, or
// after 256 bytes; the answering motor's number is stripped but never the
// last character.
struct ExpectedReply {
    std::size_t consumed;
    std::string text;
};

inline ExpectedReply expected_reply(const std::string& input) {
    const std::size_t cr = input.find('\r');
    std::size_t consumed = std::min<std::size_t>(input.size(), 256);
    std::string raw = input.substr(0, consumed);
    if (cr != std::string::npos && cr < 256) {
        consumed = cr + 1;
        raw = input.substr(0, cr);
    }
    std::size_t digits = 0;
    while (raw.size() - digits >= 2 && raw[digits] >= '0' && raw[digits] <= '9') ++digits;
    return {consumed, raw.substr(digits)};
}
