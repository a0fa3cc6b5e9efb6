#pragma once
// The wire trace: what went over the serial line, in a text file support can
// read. The `serial` class records every read and write call (time, bytes in
// hex and as text), every open, close, settings change and RTS change, and
// every read that returned short at its time-out. Front ends and routines
// mark where each operation starts and ends, with its result, through
// TraceOperation. docs/trace.md describes the format; trace_reader.h reads
// it back.
//
// A trace belongs to one line and is used from that line's thread only.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/trace_file.h"

class Reporter;
class serial;

// The text form of bytes in a trace: printable ASCII as it stands; CR and LF
// as <CR> and <LF>; every other byte, and '"', as <XX> in hex; '<' as <3C>
// only where the bytes after it would read as one of these escapes. So the
// form holds no quote and reads back byte for byte.
std::string trace_text(const std::uint8_t* bytes, std::size_t count);
std::string trace_text(std::string_view bytes);
// The bytes of a text in that form; no value when it is not in that form.
std::optional<std::string> bytes_of_trace_text(std::string_view text);

class WireTrace {
public:
    using Clock = std::chrono::steady_clock;

    // A part that reaches this size is closed and the trace goes on in the
    // next numbered file.
    static constexpr std::uint64_t kPartBytes = std::uint64_t{64} << 20;

    struct Options {
        std::string program;       // named in the header, e.g. "kfu 1.36.0.1"
        Reporter* tell = nullptr;  // told once when a new part starts, once when writing fails
        std::uint64_t part_bytes = kPartBytes;
    };

    // Starts a trace in `path`, emptying the file when it exists. No trace,
    // with the system's words in `error`, when the file cannot be made.
    static std::shared_ptr<WireTrace> start(const std::string& path, Options options,
                                            std::string& error);
    // Ends the trace with a closing note; a trace without one was cut off.
    ~WireTrace();
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // --- records of the serial class ---
    void opened(const std::string& device, std::uint32_t baud, std::uint32_t timeout_ms);
    void open_failed(const std::string& device, const std::string& why);
    void closed(const std::string& device);
    // `value` is written as it stands, so a text value comes quoted.
    void changed(const char* setting, const std::string& value);
    void rts(bool on);
    enum class Direction { tx, rx };
    // One read or write call on the device, begun at `began` and over now:
    // its result (a count, or -1), the count asked for and the bytes it moved.
    void transfer(Direction direction, long result, std::size_t asked, Clock::time_point began,
                  const std::uint8_t* bytes);
    // A read that returned fewer bytes than asked because its time-out passed.
    void timed_out(long got, std::size_t asked, int limit_ms);

    // --- operation markers (see TraceOperation) ---
    void begin(const std::string& operation, const std::string& detail);
    void end(const std::string& operation, const std::string& result, Clock::duration took,
             const std::string& text);
    void note(const std::string& text);

    // Records made while a Hold lives wait and reach the file in one write
    // when the outermost Hold ends. The serial class holds the trace during
    // each of its calls, so a call costs one write of the trace, made after
    // its bytes have gone or come, never between RTS and the bytes.
    class Hold {
    public:
        explicit Hold(std::shared_ptr<WireTrace> trace) : trace_(std::move(trace)) {
            if (trace_) ++trace_->holds_;
        }
        ~Hold() {
            if (trace_ && --trace_->holds_ == 0) trace_->flush();
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        std::shared_ptr<WireTrace> trace_;
    };

    // The file named when the trace started, and the one written now.
    const std::string& path() const { return path_; }
    const std::string& current_path() const { return current_path_; }
    int part() const { return part_; }
    // True once a write to the file failed; nothing is recorded after that.
    bool failed() const { return failed_; }

    // The file of part `part` (from 2) of a trace started in `path`: the
    // number goes before the extension, "line.trace" -> "line.2.trace".
    static std::string part_path(const std::string& path, int part);

private:
    WireTrace(std::string path, Options options);
    // Makes the file of part `part` with its header in `file`.
    bool open_part(TraceFile& file, int part, std::string& error);
    bool next_part(std::string& error);
    void fail(const std::string& what, const std::string& error);
    std::uint64_t micros(Clock::time_point t) const;
    // Starts a record stamped now: the time and the kind.
    std::string& record(const char* kind, Clock::time_point at = Clock::now());
    void flush();
    void write_out(const std::string& text);

    std::string path_;
    std::string current_path_;
    Options options_;
    std::string id_;
    std::string started_;
    Clock::time_point start_;
    TraceFile file_;
    int part_ = 1;
    std::uint64_t part_size_ = 0;
    std::uint64_t header_size_ = 0;
    std::size_t note_room_ = 0;  // the most the note that ends a part takes
    std::string pending_;
    std::uint64_t last_stamp_ = 0;     // of the latest record made
    std::uint64_t written_stamp_ = 0;  // of the latest record in the file
    int holds_ = 0;
    bool told_new_part_ = false;
    bool failed_ = false;
};

// Marks one operation in the trace of `port`, if it has one: a begin record
// now and an end record with the result when the scope ends. The operation
// keeps the trace it began in, so its end lands there even when tracing is
// switched off meanwhile. Without a trace it costs nothing.
class TraceOperation {
public:
    TraceOperation(serial& port, std::string name, std::string detail = {});
    TraceOperation(std::shared_ptr<WireTrace> trace, std::string name, std::string detail = {});
    ~TraceOperation();
    TraceOperation(const TraceOperation&) = delete;
    TraceOperation& operator=(const TraceOperation&) = delete;

    // One word: "ok", "failed", or a front end's own word. "done" when the
    // operation gives no verdict; "exception" when it ends by one; "stopped"
    // once it has shown its stop line, whatever it reports after that.
    void set_result(std::string word) { result_ = std::move(word); }
    // Without it a word as a C string would be taken for a bool.
    void set_result(const char* word) { result_ = word; }
    void set_result(bool ok) { result_ = ok ? "ok" : "failed"; }
    // The line that tells the outcome as the user saw it; the last one counts.
    void set_text(const std::string& text);
    bool active() const { return trace_ != nullptr; }

private:
    std::shared_ptr<WireTrace> trace_;
    std::string name_;
    std::string result_ = "done";
    std::string text_;
    WireTrace::Clock::time_point started_;
    int exceptions_ = 0;
    bool stopped_ = false;
};
