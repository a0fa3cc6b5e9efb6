#pragma once
// How a long operation ends when it is asked to stop (the window closing, an
// interrupted command line): with one line of the same form everywhere, and
// never with its success line.

#include <string>

#include "common/reporter.h"

// The line a stopped operation ends with: "Stopped: <what> was interrupted",
// followed by ", <consequence>" when there is one worth knowing.
inline std::string stopped_line(const std::string& what, const std::string& consequence = {}) {
    std::string line = "Stopped: " + what + " was interrupted";
    if (!consequence.empty()) line += ", " + consequence;
    return line;
}

// True for a line made by stopped_line.
inline bool is_stopped_line(const std::string& line) { return line.starts_with("Stopped: "); }

// True, after reporting the stop line, when the operation should end now.
inline bool stop_here(Reporter& out, const std::string& what, const std::string& consequence = {}) {
    if (!out.stop_requested()) return false;
    out.message(stopped_line(what, consequence));
    return true;
}
