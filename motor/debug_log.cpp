#include "motor/debug_log.h"

#include "common/reporter.h"
#include "serial/serial.h"

void debug_log_tick(serial& port, Reporter& out, const DebugLogTimerControl& timer) {
    std::string line;
    for (;;) {
        timer.stop();
        out.process_events();
        char c = 0;
        if (port.read(&c, 1) != 1) break;
        if (c == '\r') {
            out.message("DEBUG: " + line);
            line.clear();
            break;
        }
        line += c;
        if (line.size() >= kMaxDebugLineBytes) break;
    }
    timer.restart_if_wanted();
    if (!line.empty()) out.message("DEBUG (no ENDLINE): " + line);
}
