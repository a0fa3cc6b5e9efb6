#pragma once
// The narrow view of a serial device that the `serial` class works through.
// One implementation per platform, each in its own file (serial_posix.cpp,
// serial_win32.cpp), chosen by the build.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class SerialBackend {
public:
    virtual ~SerialBackend() = default;

    // Opens the device exclusively. On failure returns false and leaves the
    // operating system's reason (errno) in `error`.
    virtual bool open_device(const std::string& device, int& error) = 0;

    // The configuration steps of an open, in the order they are made. Each
    // returns false when the platform refuses it.
    virtual bool save_settings() = 0;                  // remember the line as found
    virtual bool apply_timeouts() = 0;                 // reads bounded by our own deadlines
    virtual bool read_state() = 0;                     // current line settings
    virtual bool apply_state(std::uint32_t baud) = 0;  // raw 8N1, no flow control, RTS low
    virtual bool arm_transmit_wait() = 0;              // ready to wait for the output to drain

    // Gives the line back its saved settings, then closes the device.
    virtual void restore_and_close() = 0;
    // Closes without restoring (an open that failed half-way).
    virtual void close_device() = 0;

    // Reads up to n bytes; returns when n bytes are in or `timeout_ms` has
    // passed since the call. Returns the count (0 after a quiet time-out) or
    // -1 when the device fails.
    virtual long read_bytes(std::uint8_t* buffer, std::size_t n, int timeout_ms) = 0;
    // Writes n bytes within `timeout_ms`; returns the count written or -1.
    virtual long write_bytes(const std::uint8_t* data, std::size_t n, int timeout_ms) = 0;
    // Waits until the output has left the transmitter, at most `timeout_ms`.
    virtual bool drain_output(int timeout_ms) = 0;
    // Raises or drops RTS; may be unsupported (pseudo-terminals).
    virtual void set_rts(bool on) = 0;
};

std::unique_ptr<SerialBackend> make_platform_backend();

// The device a port name stands for on this platform.
std::string platform_device_name(const std::string& port_name);

// What a refused open means for the user, read from the platform's error code
// that `open_device` left behind.
enum class OpenRefusal { other, no_permission, busy, missing };
OpenRefusal classify_open_error(int error);
// The platform's own words for that error code.
std::string open_error_text(int error);
