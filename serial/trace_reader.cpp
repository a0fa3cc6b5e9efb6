#include "serial/trace_reader.h"

#include <fstream>

#include "serial/wire_trace.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads an unsigned decimal number at the front of `text` and drops it.
std::optional<std::uint64_t> take_number(std::string_view& text) {
    std::size_t i = 0;
    std::uint64_t value = 0;
    while (i < text.size() && is_digit(text[i])) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
        ++i;
    }
    if (i == 0) return std::nullopt;
    text.remove_prefix(i);
    return value;
}

bool take(std::string_view& text, std::string_view what) {
    if (!text.starts_with(what)) return false;
    text.remove_prefix(what.size());
    return true;
}

// A word up to the next space or the end.
std::string_view take_word(std::string_view& text) {
    const std::size_t end = text.find(' ');
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    return word;
}

// A quoted value in the trace's text form, decoded.
std::optional<std::string> take_quoted(std::string_view& text) {
    if (!take(text, "\"")) return std::nullopt;
    const std::size_t end = text.find('"');
    if (end == std::string_view::npos) return std::nullopt;
    std::optional<std::string> bytes = bytes_of_trace_text(text.substr(0, end));
    text.remove_prefix(end + 1);
    return bytes;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "# trace ID part N" of a part's header.
struct PartId {
    std::string id;
    int part = 0;
};

std::optional<PartId> part_id(std::string_view line) {
    if (!take(line, "# trace ")) return std::nullopt;
    PartId p;
    p.id = std::string(take_word(line));
    if (!take(line, " part ")) return std::nullopt;
    const auto n = take_number(line);
    if (!n || !line.empty() || *n > 1000000) return std::nullopt;
    p.part = static_cast<int>(*n);
    return p;
}

// What the operation filter needs to know while the records go by.
class OperationWindow {
public:
    explicit OperationWindow(std::string name) : name_(std::move(name)) {}

    // Whether `record` lies within the operation; begin and end records of
    // the operation itself count as inside.
    bool inside(const TraceRecord& record) {
        if (name_.empty()) return true;
        // Only the name counts, so a mark whose text is damaged still opens
        // or closes its operation.
        std::string_view fields = record.fields;
        if (record.kind == "begin") {
            open_.emplace_back(take_word(fields));
            return within();
        }
        if (record.kind == "end") {
            const bool was = within();
            close(std::string(take_word(fields)));
            return was;
        }
        return within();
    }

private:
    bool within() const {
        for (const auto& name : open_) {
            if (name == name_) return true;
        }
        return false;
    }
    // An end closes its own begin and whatever was left open inside it; an
    // end without a begin (a part that was not read) is passed over.
    void close(const std::string& operation) {
        for (std::size_t i = open_.size(); i-- > 0;) {
            if (open_[i] == operation) {
                open_.resize(i);
                return;
            }
        }
    }

    std::string name_;
    std::vector<std::string> open_;
};

}  // namespace

std::optional<TraceRecord> parse_trace_line(std::string_view line) {
    TraceRecord r;
    r.line = std::string(line);
    if (line.starts_with("#")) {
        r.header = true;
        return r;
    }
    while (line.starts_with(" ")) line.remove_prefix(1);
    const auto time = take_number(line);
    if (!time || !take(line, " ")) return std::nullopt;
    r.time_us = *time;
    r.kind = std::string(take_word(line));
    if (r.kind.empty()) return std::nullopt;
    if (!line.empty() && !take(line, " ")) return std::nullopt;
    r.fields = std::string(line);
    return r;
}

std::optional<TraceTransfer> parse_transfer(const TraceRecord& record) {
    if (record.kind != "tx" && record.kind != "rx") return std::nullopt;
    std::string_view f = record.fields;
    TraceTransfer t;
    const bool failed = take(f, "-");
    const auto result = take_number(f);
    if (!result || (failed && *result != 1) || *result > 0x7FFFFFFF) return std::nullopt;
    t.result = failed ? -1 : static_cast<long>(*result);
    if (!take(f, "/")) return std::nullopt;
    const auto asked = take_number(f);
    if (!asked) return std::nullopt;
    t.asked = static_cast<std::size_t>(*asked);
    if (!take(f, " ")) return std::nullopt;
    const auto took = take_number(f);
    if (!took || !take(f, "us ")) return std::nullopt;
    t.took_us = *took;

    std::string hex_bytes;
    while (!f.starts_with("\"")) {
        if (f.size() < 3 || f[2] != ' ') return std::nullopt;
        const int high = hex_digit(f[0]);
        const int low = hex_digit(f[1]);
        if (high < 0 || low < 0) return std::nullopt;
        hex_bytes += static_cast<char>(high * 16 + low);
        f.remove_prefix(3);
    }
    const auto text_bytes = take_quoted(f);
    if (!text_bytes || !f.empty() || *text_bytes != hex_bytes) return std::nullopt;
    if (hex_bytes.size() != static_cast<std::size_t>(t.result > 0 ? t.result : 0))
        return std::nullopt;
    t.bytes = std::move(hex_bytes);
    return t;
}

std::optional<TraceMark> parse_mark(const TraceRecord& record) {
    std::string_view f = record.fields;
    TraceMark m;
    m.operation = std::string(take_word(f));
    if (m.operation.empty()) return std::nullopt;
    if (record.kind == "begin") {
        if (f.empty()) return m;
        const auto detail = take(f, " ") ? take_quoted(f) : std::nullopt;
        if (!detail || !f.empty()) return std::nullopt;
        m.text = *detail;
        return m;
    }
    if (record.kind != "end" || !take(f, " ")) return std::nullopt;
    m.result = std::string(take_word(f));
    if (m.result.empty() || !take(f, " ")) return std::nullopt;
    const auto took = take_number(f);
    if (!took || !take(f, "us ")) return std::nullopt;
    m.took_us = *took;
    const auto text = take_quoted(f);
    if (!text || !f.empty()) return std::nullopt;
    m.text = *text;
    return m;
}

TraceSummary read_trace(const std::string& path, const TraceFilter& filter,
                        const std::function<void(const TraceRecord&)>& emit) {
    TraceSummary summary;
    OperationWindow operation(filter.operation);
    std::optional<PartId> first;

    for (int part = 1;; ++part) {
        const std::string file = part == 1 ? path : WireTrace::part_path(path, part);
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            if (part == 1) summary.error = "cannot be read";
            break;
        }
        std::string line;
        int number = 0;
        // A further part must say whose part it is before its records count:
        // the leftover of an earlier trace in the same place is no part of
        // this one.
        bool this_part = part == 1;
        while (std::getline(in, line)) {
            ++number;
            const std::string where = file + ":" + std::to_string(number) + ": ";
            // Every record ends with its line end; a line without one was
            // cut off while it was being written.
            if (in.eof()) {
                summary.problems.push_back(where + "incomplete last line");
                break;
            }
            std::optional<TraceRecord> record = parse_trace_line(line);
            if (!record) {
                summary.problems.push_back(where + "not a trace record");
                continue;
            }
            if (record->header) {
                if (const auto id = part_id(line)) {
                    if (part == 1) first = id;
                    this_part = part == 1 || (first && id->id == first->id && id->part == part);
                    if (!this_part) break;
                }
                if (part == 1) emit(*record);
                continue;
            }
            if (!this_part) break;
            if (record->kind == "note" && record->fields == "\"trace ended\"") summary.ended = true;
            const bool in_time = (!filter.from_us || record->time_us >= *filter.from_us) &&
                                 (!filter.to_us || record->time_us <= *filter.to_us);
            if (operation.inside(*record) && in_time) {
                ++summary.records;
                emit(*record);
            }
        }
        if (!this_part) break;
        if (part == 1) summary.read = true;
        summary.parts.push_back(file);
        if (!first) break;  // without an id, no further part can be told apart
    }
    return summary;
}
