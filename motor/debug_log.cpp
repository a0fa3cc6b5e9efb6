#include "motor/debug_log.h"

#include "common/reporter.h"
#include "serial/serial.h"

void debug_log_tick(serial& port, Reporter& out, const DebugLogTimerControl& timer) {
    std::string line;
    for (int taken = 0; taken < kMaxDebugLineBytes; ++taken) {
        timer.stop();
        out.process_events();
        char c = 0;
        // A new line is begun only with what has already arrived, so an idle
        // line costs the tick no wait; a line under way is read to its CR
        // with the port's time-out, so that it is not shown in two pieces.
        const int got = line.empty() ? port.read_waiting(&c, 1) : port.read(&c, 1);
        if (got != 1) break;
        if (c == '\r') {
            out.message("DEBUG: " + line);
            line.clear();
        } else {
            line += c;
        }
    }
    timer.restart_if_wanted();
    if (!line.empty()) out.message("DEBUG (no ENDLINE): " + line);
}
