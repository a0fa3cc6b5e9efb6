#pragma once
// The debug log: copies what a controller sends by itself into the message
// area, at most one complete line per timer tick.

#include <functional>

class serial;
class Reporter;

// A controller that sends without ever ending a line would otherwise keep one
// tick reading for good.
constexpr int kMaxDebugLineBytes = 4096;

struct DebugLogTimerControl {
    std::function<void()> stop;               // no second tick while this one runs
    std::function<void()> restart_if_wanted;  // the box may have been unchecked meanwhile
};

// One tick. Events run between the bytes, so the timer is stopped while the
// tick reads and restarted afterwards.
void debug_log_tick(serial& port, Reporter& out, const DebugLogTimerControl& timer);
