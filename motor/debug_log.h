#pragma once
// The debug log: copies what a controller sends by itself into the message
// area. Each timer tick shows every line that has arrived by then, so a
// controller that talks faster than one line per tick loses nothing.

#include <functional>

class serial;
class Reporter;

// A controller that sends without ever ending a line, or never pauses, would
// otherwise keep one tick reading for good: one tick takes at most this many
// bytes (more than the line brings at 115200 baud between two ticks).
constexpr int kMaxDebugLineBytes = 4096;

struct DebugLogTimerControl {
    std::function<void()> stop;               // no second tick while this one runs
    std::function<void()> restart_if_wanted;  // the box may have been unchecked meanwhile
};

// One tick. Events run between the bytes, so the timer is stopped while the
// tick reads and restarted afterwards.
void debug_log_tick(serial& port, Reporter& out, const DebugLogTimerControl& timer);
