#pragma once
// A HEX file that keeps every block of a 1536-byte-mode write busy, for the
// benchmarks that time a full write through the program.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

inline std::string HexByte(unsigned v) {
    char t[3];
    std::snprintf(t, sizeof t, "%02X", v & 0xFFu);
    return t;
}

// A HEX file whose every 1536-byte-mode block holds program data.
inline void WriteFullImage(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    unsigned upper = 0;
    for (std::uint32_t at = 0; at < 0x2B000; at += 16) {
        if (at >> 16 != upper) {
            upper = at >> 16;
            const unsigned sum = 2 + 4 + (upper >> 8) + (upper & 0xFF);
            out << ":02000004" << HexByte(upper >> 8) << HexByte(upper)
                << HexByte(256 - (sum & 0xFF)) << "\r\n";
        }
        unsigned sum = 16 + ((at >> 8) & 0xFF) + (at & 0xFF);
        out << ":10" << HexByte(at >> 8) << HexByte(at) << "00";
        for (std::uint32_t i = 0; i < 16; ++i) {
            const std::uint32_t a = at + i;
            const unsigned b = a % 4 == 3 ? 0 : (a * 13 + 1) & 0xFF;
            out << HexByte(b);
            sum += b;
        }
        out << HexByte(256 - (sum & 0xFF)) << "\r\n";
    }
    out << ":00000001FF\r\n";
}
