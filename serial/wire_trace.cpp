#include "serial/wire_trace.h"

#include <charconv>
#include <exception>
#include <utility>

#include "common/reporter.h"
#include "common/stop.h"
#include "serial/serial.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kTimeWidth = 10;

// Each quote of a quoted value is a field boundary for the reader, so the
// text form never holds one.
bool shown_as_is(std::uint8_t b) { return b >= 0x20 && b <= 0x7E && b != '"'; }

bool is_upper_hex(std::uint8_t b) { return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'F'); }

// Whether the three bytes at `next` would make a '<' before them read as one
// of the escapes <CR>, <LF> or <XX>. Only then is the '<' itself escaped, so
// the common "<- " of reply lines stays as it is.
bool looks_escaped(const std::uint8_t* next, std::size_t left) {
    if (left < 3 || next[2] != '>') return false;
    if ((next[0] == 'C' && next[1] == 'R') || (next[0] == 'L' && next[1] == 'F')) return true;
    return is_upper_hex(next[0]) && is_upper_hex(next[1]);
}

// Numbers go straight into the record: a read of one byte makes a record,
// and a temporary string for each number would cost more than the write.
void append_number(std::string& out, long long value, std::size_t width = 0) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    const std::size_t n = static_cast<std::size_t>(end - digits);
    if (n < width) out.append(width - n, ' ');
    out.append(digits, n);
}

long long micros_of(std::chrono::steady_clock::duration d) {
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

void append_hex(std::string& out, std::uint8_t b) {
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0x0F];
}

void append_text(std::string& out, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (shown_as_is(b) && !(b == '<' && looks_escaped(bytes + i + 1, count - i - 1))) {
            out += static_cast<char>(b);
        } else if (b == '\r') {
            out += "<CR>";
        } else if (b == '\n') {
            out += "<LF>";
        } else {
            out += '<';
            append_hex(out, b);
            out += '>';
        }
    }
}

void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    append_text(out, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    out += '"';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An operation's name is one word in the record.
std::string one_word(const std::string& name) {
    std::string word = name.empty() ? "operation" : name;
    for (char& c : word) {
        if (!shown_as_is(static_cast<std::uint8_t>(c)) || c == ' ') c = '-';
    }
    return word;
}

std::string size_words(std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string two(unsigned v) { return std::string(1, char('0' + v / 10)) + char('0' + v % 10); }

// The wall-clock time in UTC, for the header only: the records count from
// the trace's start on the monotonic clock.
std::string utc_now() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> time{now - day};
    return std::to_string(static_cast<int>(ymd.year())) + "-" +
           two(static_cast<unsigned>(ymd.month())) + "-" + two(static_cast<unsigned>(ymd.day())) +
           " " + two(static_cast<unsigned>(time.hours().count())) + ":" +
           two(static_cast<unsigned>(time.minutes().count())) + ":" +
           two(static_cast<unsigned>(time.seconds().count())) + " UTC";
}

}  // namespace

std::string trace_text(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    out.reserve(count);
    append_text(out, bytes, count);
    return out;
}

std::string trace_text(std::string_view bytes) {
    return trace_text(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::optional<std::string> bytes_of_trace_text(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c != '<') {
            if (!shown_as_is(static_cast<std::uint8_t>(c))) return std::nullopt;
            bytes += c;
            ++i;
            continue;
        }
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("<CR>")) {
            bytes += '\r';
        } else if (rest.starts_with("<LF>")) {
            bytes += '\n';
        } else if (rest.size() >= 4 && rest[3] == '>' && hex_value(rest[1]) >= 0 &&
                   hex_value(rest[2]) >= 0) {
            bytes += static_cast<char>(hex_value(rest[1]) * 16 + hex_value(rest[2]));
        } else {
            bytes += '<';
            ++i;
            continue;
        }
        i += 4;
    }
    return bytes;
}

// --- WireTrace ---

WireTrace::WireTrace(std::string path, Options options)
    : path_(std::move(path)), current_path_(path_), options_(std::move(options)) {
    using namespace std::chrono;
    start_ = Clock::now();
    started_ = utc_now();
    // Parts of one trace carry the same id, so a reader never joins the
    // leftover parts of an earlier trace to this one.
    const auto wall = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const auto mono = duration_cast<nanoseconds>(start_.time_since_epoch()).count() % 1000000;
    id_ = std::to_string(wall) + "-" + std::to_string(mono);
    note_room_ = 64 + trace_text(part_path(path_, 999999)).size();
}

std::shared_ptr<WireTrace> WireTrace::start(const std::string& path, Options options,
                                            std::string& error) {
    std::shared_ptr<WireTrace> trace(new WireTrace(path, std::move(options)));
    if (!trace->open_part(trace->file_, 1, error)) return nullptr;
    return trace;
}

WireTrace::~WireTrace() {
    if (failed_) return;
    holds_ = 0;
    note("trace ended");
}

std::string WireTrace::part_path(const std::string& path, int part) {
    const std::string number = "." + std::to_string(part);
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    // A leading dot names a hidden file; it is no extension.
    if (dot == std::string::npos || dot <= name_start) return path + number;
    return path.substr(0, dot) + number + path.substr(dot);
}

bool WireTrace::open_part(TraceFile& file, int part, std::string& error) {
    const std::string name = part == 1 ? path_ : part_path(path_, part);
    if (!file.create(name, error)) return false;
    std::string header = "# kfu wire trace, format 1\n";
    if (!options_.program.empty()) header += "# program " + options_.program + "\n";
    header += "# trace " + id_ + " part " + std::to_string(part) + "\n";
    header += "# started " + started_ + "\n";
    if (!file.append(header.data(), header.size(), error)) return false;
    current_path_ = name;
    part_ = part;
    part_size_ = header_size_ = header.size();
    return true;
}

bool WireTrace::next_part(std::string& error) {
    const std::string next = part_path(path_, part_ + 1);
    TraceFile next_file;
    // Stamped as the last record before it, so that the time never goes
    // back from one part to the next.
    std::string ending;
    append_number(ending, static_cast<long long>(written_stamp_), kTimeWidth);
    ending += " note ";
    append_quoted(ending, "continued in " + next);
    ending += '\n';
    // The old part points to the next only once that exists.
    if (!open_part(next_file, part_ + 1, error)) {
        current_path_ = next;
        return false;
    }
    const bool ended = file_.append(ending.data(), ending.size(), error);
    file_ = std::move(next_file);
    return ended;
}

void WireTrace::fail(const std::string& what, const std::string& error) {
    failed_ = true;
    pending_.clear();
    file_.close();
    if (options_.tell) {
        options_.tell->message("Error: the wire trace could not " + what + current_path_ + ": " +
                               error + "; tracing has stopped");
    }
}

std::uint64_t WireTrace::micros(Clock::time_point t) const {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t - start_).count();
    return us > 0 ? static_cast<std::uint64_t>(us) : 0;
}

std::string& WireTrace::record(const char* kind, Clock::time_point at) {
    last_stamp_ = micros(at);
    append_number(pending_, static_cast<long long>(last_stamp_), kTimeWidth);
    pending_ += ' ';
    pending_ += kind;
    return pending_;
}

void WireTrace::opened(const std::string& device, std::uint32_t baud, std::uint32_t timeout_ms) {
    if (failed_) return;
    std::string& r = record("open");
    r += ' ';
    append_quoted(r, device);
    r += " baud=" + std::to_string(baud) + " timeout=" + std::to_string(timeout_ms) + "ms\n";
    flush();
}

void WireTrace::open_failed(const std::string& device, const std::string& why) {
    if (failed_) return;
    std::string& r = record("open-failed");
    r += ' ';
    append_quoted(r, device);
    r += ' ';
    append_quoted(r, why);
    r += '\n';
    flush();
}

void WireTrace::closed(const std::string& device) {
    if (failed_) return;
    std::string& r = record("close");
    r += ' ';
    append_quoted(r, device);
    r += '\n';
    flush();
}

void WireTrace::changed(const char* setting, const std::string& value) {
    if (failed_) return;
    std::string& r = record("set");
    r += ' ';
    r += setting;
    r += '=';
    r += value;
    r += '\n';
    flush();
}

void WireTrace::rts(bool on) {
    if (failed_) return;
    record("rts") += on ? " on\n" : " off\n";
    flush();
}

void WireTrace::transfer(Direction direction, long result, std::size_t asked,
                         Clock::time_point began, const std::uint8_t* bytes) {
    if (failed_) return;
    const Clock::time_point now = Clock::now();
    std::string& r = record(direction == Direction::tx ? "tx" : "rx", now);
    const std::size_t count = result > 0 ? static_cast<std::size_t>(result) : 0;
    r.reserve(r.size() + 40 + 4 * count);
    r += ' ';
    append_number(r, result);
    r += '/';
    append_number(r, static_cast<long long>(asked));
    r += ' ';
    append_number(r, micros_of(now - began));
    r += "us";
    for (std::size_t i = 0; i < count; ++i) {
        r += ' ';
        append_hex(r, bytes[i]);
    }
    r += " \"";
    append_text(r, bytes, count);
    r += "\"\n";
    flush();
}

void WireTrace::timed_out(long got, std::size_t asked, int limit_ms) {
    if (failed_) return;
    std::string& r = record("timeout");
    r += ' ';
    append_number(r, got);
    r += '/';
    append_number(r, static_cast<long long>(asked));
    r += ' ';
    append_number(r, limit_ms);
    r += "ms\n";
    flush();
}

void WireTrace::begin(const std::string& operation, const std::string& detail) {
    if (failed_) return;
    std::string& r = record("begin");
    r += ' ';
    r += one_word(operation);
    if (!detail.empty()) {
        r += ' ';
        append_quoted(r, detail);
    }
    r += '\n';
    flush();
}

void WireTrace::end(const std::string& operation, const std::string& result, Clock::duration took,
                    const std::string& text) {
    if (failed_) return;
    std::string& r = record("end");
    r += ' ';
    r += one_word(operation);
    r += ' ';
    r += one_word(result);
    r += ' ';
    append_number(r, micros_of(took));
    r += "us ";
    append_quoted(r, text);
    r += '\n';
    flush();
}

void WireTrace::note(const std::string& text) {
    if (failed_) return;
    std::string& r = record("note");
    r += ' ';
    append_quoted(r, text);
    r += '\n';
    flush();
}

void WireTrace::flush() {
    if (holds_ > 0 || pending_.empty() || failed_) return;
    std::string text;
    text.swap(pending_);
    write_out(text);
}

void WireTrace::write_out(const std::string& text) {
    std::string error;
    if (part_size_ > header_size_ && part_size_ + text.size() + note_room_ > options_.part_bytes) {
        if (!next_part(error)) {
            fail("go on in ", error);
            return;
        }
        if (!told_new_part_ && options_.tell) {
            told_new_part_ = true;
            options_.tell->message("Trace: " + path_ + " has reached " +
                                   size_words(options_.part_bytes) + "; the trace goes on in " +
                                   current_path_ + " and further numbered files");
        }
    }
    if (!file_.append(text.data(), text.size(), error)) {
        fail("be written to ", error);
        return;
    }
    part_size_ += text.size();
    written_stamp_ = last_stamp_;
}

// --- TraceOperation ---

TraceOperation::TraceOperation(serial& port, std::string name, std::string detail)
    : TraceOperation(port.trace(), std::move(name), std::move(detail)) {}

TraceOperation::TraceOperation(std::shared_ptr<WireTrace> trace, std::string name,
                               std::string detail)
    : trace_(std::move(trace)) {
    if (!trace_) return;
    name_ = std::move(name);
    started_ = WireTrace::Clock::now();
    exceptions_ = std::uncaught_exceptions();
    trace_->begin(name_, detail);
}

void TraceOperation::set_text(const std::string& text) {
    if (!trace_) return;
    text_ = text;
    // A stopped routine still returns its failure afterwards; support needs
    // to tell an interruption from a fault.
    if (is_stopped_line(text)) stopped_ = true;
}

TraceOperation::~TraceOperation() {
    if (!trace_) return;
    if (stopped_) result_ = "stopped";
    if (std::uncaught_exceptions() > exceptions_) result_ = "exception";
    trace_->end(name_, result_, WireTrace::Clock::now() - started_, text_);
}
