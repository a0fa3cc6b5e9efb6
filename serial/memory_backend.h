#pragma once
// A serial device that lives in memory: what the tool writes is recorded,
// and what it reads comes from a queue that the test (or fuzz input) fills,
// either up front or in answer to each write. Reads never wait: a read that
// finds the queue empty returns at once as if its time-out had passed, so
// logic that reads with long time-outs runs at full speed and needs no pty.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/serial_backend.h"

class MemoryBackend : public SerialBackend {
public:
    // Everything the tool wrote, in order, across all writes.
    std::vector<std::uint8_t> written;
    // Bytes waiting to be read.
    std::deque<std::uint8_t> input;
    // Called after every write with the bytes of that write; the usual place
    // to queue the controller's answer.
    std::function<void(const std::uint8_t* data, std::size_t n)> on_write;

    // Counters a test can look at.
    int opens = 0;
    int closes = 0;
    std::size_t bytes_read = 0;
    bool rts = false;

    void queue(std::string_view bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
    std::string written_text() const { return std::string(written.begin(), written.end()); }
    bool is_open() const { return open_; }

    bool open_device(const std::string& device, int& error) override;
    bool save_settings() override { return open_; }
    bool apply_timeouts() override { return open_; }
    bool read_state() override { return open_; }
    bool apply_state(std::uint32_t baud) override;
    bool arm_transmit_wait() override { return open_; }
    void restore_and_close() override;
    void close_device() override;
    long read_bytes(std::uint8_t* buffer, std::size_t n, int timeout_ms) override;
    long write_bytes(const std::uint8_t* data, std::size_t n, int timeout_ms) override;
    bool drain_output(int timeout_ms) override;
    void set_rts(bool on) override { rts = on; }

    std::uint32_t baud() const { return baud_; }
    const std::string& device() const { return device_; }

private:
    bool open_ = false;
    std::uint32_t baud_ = 0;
    std::string device_;
};
