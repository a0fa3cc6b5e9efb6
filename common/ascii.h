#pragma once
// Character rules for the 8-bit texts of the line, the files and the boxes.
// Only ASCII letters and digits count as such; every other byte, those above
// 127 included, is left alone whatever the locale says.

#include <string>

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string ascii_lower(std::string text) {
    for (char& c : text) c = ascii_lower(c);
    return text;
}
