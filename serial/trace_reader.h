#pragma once
// Reading a wire trace back (the format is in docs/trace.md): the records of
// a trace and its further parts, filtered by operation or time span, and the
// data records taken apart. `kfu trace` prints with it; tests compare traces
// with what the simulated controller saw.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TraceRecord {
    bool header = false;        // a "#" line of the first part's header
    std::uint64_t time_us = 0;  // since the trace started
    std::string kind;           // "tx", "rx", "open", "begin", ...
    std::string fields;         // what follows the kind
    std::string line;           // the line as it stands in the file
};

// One line of a trace; no value when it is neither a header line nor a record.
std::optional<TraceRecord> parse_trace_line(std::string_view line);

// A "tx" or "rx" record taken apart.
struct TraceTransfer {
    long result = 0;  // the count moved, or -1 when the device failed
    std::size_t asked = 0;
    std::uint64_t took_us = 0;
    std::string bytes;
};
// No value when the record is no transfer, or its hex and text disagree.
std::optional<TraceTransfer> parse_transfer(const TraceRecord& record);

// A "begin" or "end" record taken apart.
struct TraceMark {
    std::string operation;
    std::string result;         // end only
    std::uint64_t took_us = 0;  // end only
    std::string text;           // begin: the detail; end: the line that told the outcome
};
std::optional<TraceMark> parse_mark(const TraceRecord& record);

struct TraceFilter {
    std::string operation;  // records within this operation's begin ... end; empty: all
    std::optional<std::uint64_t> from_us;
    std::optional<std::uint64_t> to_us;
};

struct TraceSummary {
    bool read = false;                  // the first file could be read
    std::string error;                  // why it could not
    std::vector<std::string> parts;     // the files read, in order
    std::vector<std::string> problems;  // lines that are no record, with file and line number
    bool ended = false;                 // the closing note is there: nothing was cut off
    std::size_t records = 0;            // records let through
};

// Reads the trace that starts in `path`, followed by its further numbered
// parts, and hands `emit` the first part's header lines and every record the
// filter lets through, in order.
TraceSummary read_trace(const std::string& path, const TraceFilter& filter,
                        const std::function<void(const TraceRecord&)>& emit);
