#pragma once
// The program's only access to the serial line: lazy open, RTS raised around
// every write, reads bounded by 10 ms per byte plus the read time-out, and one
// re-open-and-retry when the device fails under a read or a write.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/reporter.h"
#include "serial/serial_backend.h"
#include "serial/wire_trace.h"

class serial {
public:
    // A closed port at 115200 baud. Messages go to `out`.
    serial(Reporter& out, std::string port_name, std::uint32_t read_timeout_ms,
           std::unique_ptr<SerialBackend> backend = make_platform_backend());
    ~serial();
    serial(const serial&) = delete;
    serial& operator=(const serial&) = delete;

    void open();
    void close();

    // Bytes written, or -1. Opens the port when needed.
    int write(const void* data, std::size_t count);
    // Bytes received (0 after a quiet time-out), or -1. The first `count`
    // bytes of `buffer` are zero-filled first.
    int read(void* buffer, std::size_t count);
    // As read(), but takes only what has already arrived: 0 at once when
    // nothing is waiting.
    int read_waiting(void* buffer, std::size_t count);
    // What a read that fails while input is thrown away does.
    enum class OnReadFailure {
        Stop,    // ends the discarding, without a word
        Reopen,  // as in read(): a line, the port opened anew, one more read
    };
    // Throws away pending input: single-byte reads with a 1 ms read time-out
    // in place of the port's own (which stays as it is) until one brings
    // nothing, at most kMaxDiscardBytes of them. Opens the port when needed.
    void flush_input(OnReadFailure failure = OnReadFailure::Stop);
    // Throws away what has already arrived, without waiting for more. Opens
    // the port when needed.
    void discard_waiting();

    // A new name or rate closes the port; the next access opens it anew.
    void set_port(const std::string& name);
    void set_baud(std::uint32_t baud);
    std::uint32_t get_baud() const { return baud_; }
    // A new read time-out applies to the next read; an open port stays open.
    void set_timeout(std::uint32_t read_timeout_ms);
    std::uint32_t get_timeout() const { return read_timeout_ms_; }

    bool is_open() const { return open_; }
    // The longest a read of `count` bytes waits: 10 ms per byte plus the read
    // time-out.
    int read_wait_ms(std::size_t count) const;
    // The operating system's reason (errno) when the last open failed at the
    // device itself; 0 after a successful open or a failed configuration step.
    int open_error() const { return open_error_; }
    const std::string& port_name() const { return port_name_; }

    // Records everything that passes from now on in `trace`; no trace stops
    // recording. The trace is given back by the last one holding it: an
    // operation still under way keeps it until its end is recorded.
    void set_trace(std::shared_ptr<WireTrace> trace) { trace_ = std::move(trace); }
    const std::shared_ptr<WireTrace>& trace() const { return trace_; }

    // The device a port name stands for. Linux: "/dev/NAME", or the name as
    // it stands when it holds a slash. Windows: "\\.\NAME" (COM5 ->
    // \\.\COM5), or the name as it stands when it holds a backslash.
    static std::string device_name(const std::string& port_name);

    // Names of the serial devices present on this machine, in a stable
    // natural order. Does not touch the object's own port.
    void list_ports(std::vector<std::string>& list) const;

private:
    // The device calls that move bytes or RTS, each recorded in the trace.
    long device_read(std::uint8_t* buffer, std::size_t count, int timeout_ms);
    long device_write(const std::uint8_t* data, std::size_t count, int timeout_ms);
    void device_rts(bool on);
    // A read of the opened port within `timeout_ms`, for read and read_waiting.
    int read_within(void* buffer, std::size_t count, int timeout_ms);
    // A read with the reopen-and-retry of a failing device.
    int read_or_reopen(std::uint8_t* bytes, std::size_t count, int timeout_ms);

    Reporter& out_;
    std::string port_name_;
    std::uint32_t baud_ = 115200;
    bool open_ = false;
    int open_error_ = 0;
    std::uint32_t read_timeout_ms_;
    std::unique_ptr<SerialBackend> backend_;
    std::shared_ptr<WireTrace> trace_;
};

// A controller that never stops talking must not hold a caller in a discard
// loop, so discarding gives up after this many bytes.
constexpr int kMaxDiscardBytes = 4096;

// Reads and throws away waiting bytes one at a time, with the port's current
// read time-out, until a read brings nothing (or fails). With `events` set,
// pending window events run before every read.
void discard_input(serial& port, Reporter* events = nullptr);

// The serial ports present on this machine, in natural order. One
// implementation per platform (port_list_linux.cpp, port_list_win32.cpp).
std::vector<std::string> list_serial_ports();

// Port names as people count them: ttyS2 before ttyS10, COM2 before COM10.
bool natural_less(const std::string& a, const std::string& b);
