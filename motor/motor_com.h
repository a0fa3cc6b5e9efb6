#pragma once
// Frames ordinary motor commands for the selected motor and reads the reply
// line back: "#" + motor number (or "*" for all) + command + CR out, and
// "<motor number><reply>" CR in.

#include <cstddef>
#include <cstdint>
#include <string>

class serial;

class motor_com {
public:
    explicit motor_com(serial& port) : port_(port) {}

    // Clamped into 0 ... 255; 0 addresses all motors.
    void set_id(int id);
    int id() const { return id_; }

    // The frame `send` writes for `command` (exposed for tests and callers
    // that need the bytes).
    std::string frame(const std::string& command) const;

    void send(const std::string& command);
    // One reply line without its CR and without the leading motor number.
    std::string read_reply();
    // Whether the last read_reply received anything at all, even an empty
    // line: a silent or absent controller gets false.
    bool replied() const { return replied_; }
    std::string query(const std::string& command);
    // The number in the reply, 0 when there is none.
    int query_number(const std::string& command);

    serial& port() const { return port_; }

private:
    serial& port_;
    int id_ = 1;
    bool replied_ = false;
};

// The first `count` bytes as text, without NUL and line-feed bytes.
std::string bytes_to_text(const void* buffer, std::size_t count);
