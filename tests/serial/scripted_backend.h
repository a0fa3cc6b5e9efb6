#pragma once
// A backend whose refusals a test sets up beforehand, recording the calls the
// `serial` class makes.

#include <cstdint>
#include <string>
#include <vector>

#include "serial/serial_backend.h"

struct Script {
    int open_error = 0;       // errno of a refused open, 0 to accept
    std::string refuse_step;  // the configuration step that fails
    int write_failures = 0;   // leading write_bytes calls that fail
    int read_failures = 0;    // leading read_bytes calls that fail
    std::vector<std::string> calls;
    std::vector<int> timeouts;
};

class ScriptedBackend : public SerialBackend {
public:
    explicit ScriptedBackend(Script& s) : s_(s) {}
    bool open_device(const std::string&, int& error) override {
        s_.calls.push_back("open");
        error = s_.open_error;
        return error == 0;
    }
    bool save_settings() override { return step("save"); }
    bool apply_timeouts() override { return step("timeouts"); }
    bool read_state() override { return step("get_state"); }
    bool apply_state(std::uint32_t) override { return step("set_state"); }
    bool arm_transmit_wait() override { return step("arm"); }
    void restore_and_close() override { s_.calls.push_back("restore"); }
    void close_device() override { s_.calls.push_back("close"); }
    long read_bytes(std::uint8_t*, std::size_t, int timeout_ms) override {
        s_.timeouts.push_back(timeout_ms);
        if (s_.read_failures > 0) {
            --s_.read_failures;
            return -1;
        }
        return 0;
    }
    long write_bytes(const std::uint8_t*, std::size_t n, int timeout_ms) override {
        s_.calls.push_back("write");
        s_.timeouts.push_back(timeout_ms);
        if (s_.write_failures > 0) {
            --s_.write_failures;
            return -1;
        }
        return static_cast<long>(n);
    }
    bool drain_output(int) override {
        s_.calls.push_back("drain");
        return true;
    }
    void set_rts(bool on) override { s_.calls.push_back(on ? "rts+" : "rts-"); }

private:
    bool step(const char* name) {
        s_.calls.push_back(name);
        return s_.refuse_step != name;
    }
    Script& s_;
};
