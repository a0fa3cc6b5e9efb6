#pragma once
// The production record: after a command that worked on controllers, one
// row per line appended to a CSV file that several stations may share, so
// that it can be told later which controller got which firmware, when, where
// and with what result. `kfu records` reads such a file back.

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/outcome.h"

namespace cli {

// Appends the row of one line to options.record, from the line's own
// thread. Empty when it was written, else why not.
std::string append_line_record(const Options& options, const LineOutcome& line);

// Finishes the record of a command: a command that ended before it touched
// a line (its file could not be read) gets one row per port given, with
// `started` as its time. Returns the first reason a row of the command
// could not be written, or empty.
std::string finish_records(const Options& options, const CommandOutcome& outcome,
                           std::chrono::system_clock::time_point started);

// "2026-12-09T14:30:05+01:00": the record's time, in local time with its
// offset from UTC.
std::string record_time(std::time_t t);

// A time as --since takes it and the record writes it: a date, optionally
// with "THH:MM" or "THH:MM:SS" (a space may stand for the T), optionally
// with "Z" or an offset "+HH:MM"; without an offset it is local time.
std::optional<std::time_t> read_record_time(const std::string& text);

}  // namespace cli
