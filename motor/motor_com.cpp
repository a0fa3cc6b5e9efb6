#include "motor/motor_com.h"

#include <algorithm>

#include "common/ascii.h"
#include "common/int_text.h"
#include "serial/serial.h"

void motor_com::set_id(int id) { id_ = std::clamp(id, 0, 255); }

std::string motor_com::frame(const std::string& command) const {
    std::string f = "#";
    f += id_ != 0 ? std::to_string(id_) : "*";
    f += command;
    f += '\r';
    return f;
}

void motor_com::send(const std::string& command) {
    const std::string f = frame(command);
    port_.write(f.data(), f.size());
}

std::string motor_com::read_reply() {
    std::string text;
    replied_ = false;
    for (int i = 0; i < 256; ++i) {
        char c = 0;
        if (port_.read(&c, 1) != 1) break;
        replied_ = true;
        if (c == '\r') break;
        text += c;
    }
    // Strip the answering motor's number, but never down to nothing.
    std::size_t strip = 0;
    while (text.size() - strip >= 2 && is_digit(text[strip])) ++strip;
    text.erase(0, strip);
    return text;
}

std::string motor_com::query(const std::string& command) {
    send(command);
    return read_reply();
}

int motor_com::query_number(const std::string& command) {
    std::string text = query(command);
    std::size_t begin = 0;
    while (text.size() - begin > 2 && !is_digit(text[begin]) && text[begin] != '-') ++begin;
    text.erase(0, begin);
    while (text.size() > 2 && !is_digit(text.back())) text.pop_back();
    return read_integer_or(text, 0);
}

std::string bytes_to_text(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::string text;
    text.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0x00 && bytes[i] != 0x0A) text += static_cast<char>(bytes[i]);
    }
    return text;
}
