#pragma once
// The least time a 1536-byte-mode write of a full image (86 data blocks) can
// take on a line at `baud` with the read time-out `read_timeout_ms`: every
// byte of the frames and acknowledgements at 10 bits, plus the waits the
// write itself prescribes (the one 64-byte read of stale input before the
// version query, and one empty 1 ms drain read after each block).

#include <cstdint>

constexpr int kFullWriteBlocks = 86;

struct FullWriteBound {
    double block_loop = 0;  // the blocks alone
    double whole = 0;       // the whole write, version query included
};

inline FullWriteBound FullWriteBoundSeconds(std::uint32_t baud, std::uint32_t read_timeout_ms) {
    auto line_seconds = [baud](double bytes) { return bytes * 10.0 / baud; };
    const double frame_bytes = kFullWriteBlocks * (1544.0 + 2.0);  // frame, then "k" CR
    const double drain = 0.011;                                    // one empty 1-byte read at 1 ms
    const double stale_read = (10.0 * 64 + read_timeout_ms) / 1000.0;
    const double version = line_seconds(4 + 7);  // "#1 " CR, "BLV:02" CR
    FullWriteBound bound;
    bound.block_loop = line_seconds(frame_bytes) + kFullWriteBlocks * drain;
    bound.whole = bound.block_loop + drain + stale_read + version;
    return bound;
}
