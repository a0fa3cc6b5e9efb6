#pragma once
// The pieces of the Windows backend that carry a rule of their own, apart so
// that tests can check them without a COM port.

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The line settings every open writes: 8N1 at `baud`, no flow control of any
// kind, RTS low (a write raises it by hand). DTR and the fields not named
// here keep what the driver reported.
void configure_line(DCB& dcb, std::uint32_t baud);

// The read half of COMMTIMEOUTS for a read of `n` bytes that must end within
// `timeout_ms`: 10 ms per byte plus a constant, as long as that adds up; a
// time-out of 0 returns at once with whatever has arrived.
void set_read_deadline(COMMTIMEOUTS& t, std::size_t n, int timeout_ms);

// The write half: a write of `n` bytes ends within `timeout_ms` (at least
// 1 ms, since a write time-out of 0 would mean no time-out at all).
void set_write_deadline(COMMTIMEOUTS& t, std::size_t n, int timeout_ms);
