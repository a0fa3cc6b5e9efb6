#include "serial/serial.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// The name under which the port is handed over to other programs.
const char* const kReleasedName = "0";

// Reads wait 10 ms per requested byte on top of the read time-out; writes
// 10 ms per byte on top of 50 ms.
constexpr long long kMsPerByte = 10;
constexpr long long kWriteConstantMs = 50;
constexpr auto kReopenPause = std::chrono::milliseconds(100);
// flush_input reads with this read time-out in place of the port's own.
constexpr std::uint32_t kFlushTimeoutMs = 1;

int clamp_ms(long long ms) { return ms > INT_MAX ? INT_MAX : static_cast<int>(ms); }

int read_timeout_for(std::size_t count, std::uint32_t constant_ms) {
    if (count > static_cast<std::size_t>(INT_MAX)) return INT_MAX;
    return clamp_ms(kMsPerByte * static_cast<long long>(count) + constant_ms);
}

int write_timeout_for(std::size_t count) {
    if (count > static_cast<std::size_t>(INT_MAX)) return INT_MAX;
    return clamp_ms(kMsPerByte * static_cast<long long>(count) + kWriteConstantMs);
}

int as_result(long n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

using TraceClock = WireTrace::Clock;

}  // namespace

serial::serial(Reporter& out, std::string port_name, std::uint32_t read_timeout_ms,
               std::unique_ptr<SerialBackend> backend)
    : out_(out),
      port_name_(std::move(port_name)),
      read_timeout_ms_(read_timeout_ms),
      backend_(std::move(backend)) {}

serial::~serial() { close(); }

std::string serial::device_name(const std::string& port_name) {
    return platform_device_name(port_name);
}

void serial::open() {
    const std::string device = device_name(port_name_);
    if (port_name_ == kReleasedName) {
        open_ = false;
        if (trace_) trace_->open_failed(port_name_, "released to other programs");
        return;
    }
    if (open_) return;

    int error = 0;
    open_error_ = 0;
    if (!backend_->open_device(device, error)) {
        open_error_ = error;
        if (trace_) trace_->open_failed(device, std::strerror(error));
        out_.message("Error: Unable to open Com port " + device);
        const OpenRefusal why = classify_open_error(error);
        if (why == OpenRefusal::no_permission) {
            out_.message("  No permission to use " + device +
                         ": the user needs read-write access to it (on Debian, membership of the "
                         "dialout group; log in again after joining it).");
        } else if (why == OpenRefusal::busy) {
            out_.message("  " + device + " is busy: another program has it open.");
        }
        return;
    }

    // Each refused configuration step gives the same box-and-line pair; the
    // line texts differ from the box texts on purpose (see "toset"). A step
    // can be refused after the driver took part of it (a rate the UART
    // cannot make leaves the nearest one it can), so the port gets the
    // settings it had back: it keeps working for whoever uses it next.
    auto refuse = [this, &device](const char* box_text, const std::string& line) {
        if (trace_) trace_->open_failed(device, box_text);
        out_.box(box_text, "Error", BoxIcon::Error);
        out_.message(line);
        backend_->restore_and_close();
    };
    if (!backend_->save_settings()) {
        refuse("Unable to get Com timeouts", "Error: Unable to get Com timeouts");
        return;
    }
    if (!backend_->apply_timeouts()) {
        refuse("Unable to set Com timeouts", "Error: Unable to set Com timeouts");
        return;
    }
    if (!backend_->read_state()) {
        refuse("Unable to get Com state", "Error: Unable to get Com state");
        return;
    }
    if (!backend_->apply_state(baud_)) {
        refuse("Unable to set Com state", "Error: Unable toset Com state");
        return;
    }
    if (!backend_->arm_transmit_wait()) {
        if (trace_) trace_->open_failed(device, "Unable to wait for the transmitter");
        backend_->restore_and_close();
        return;
    }
    open_ = true;
    if (trace_) trace_->opened(device, baud_, read_timeout_ms_);
}

void serial::close() {
    if (!open_) return;
    backend_->restore_and_close();
    open_ = false;
    if (trace_) trace_->closed(device_name(port_name_));
}

long serial::device_read(std::uint8_t* buffer, std::size_t count, int timeout_ms) {
    if (!trace_) return backend_->read_bytes(buffer, count, timeout_ms);
    const TraceClock::time_point began = TraceClock::now();
    const long got = backend_->read_bytes(buffer, count, timeout_ms);
    trace_->transfer(WireTrace::Direction::rx, got, count, began, buffer);
    // A short count that came before the deadline is a failing device (its
    // next read fails), not a time-out; nor is a read that was to take only
    // what had already arrived.
    if (timeout_ms > 0 && got >= 0 && static_cast<std::size_t>(got) < count &&
        TraceClock::now() - began + std::chrono::milliseconds(1) >=
            std::chrono::milliseconds(timeout_ms)) {
        trace_->timed_out(got, count, timeout_ms);
    }
    return got;
}

long serial::device_write(const std::uint8_t* data, std::size_t count, int timeout_ms) {
    if (!trace_) return backend_->write_bytes(data, count, timeout_ms);
    const TraceClock::time_point began = TraceClock::now();
    const long written = backend_->write_bytes(data, count, timeout_ms);
    trace_->transfer(WireTrace::Direction::tx, written, count, began, data);
    return written;
}

void serial::device_rts(bool on) {
    backend_->set_rts(on);
    if (trace_) trace_->rts(on);
}

int serial::write(const void* data, std::size_t count) {
    // Everything this call records reaches the trace in one piece, once the
    // bytes are out and RTS is down again.
    const WireTrace::Hold hold(trace_);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (!open_) open();
    if (!open_) {
        if (trace_) trace_->transfer(WireTrace::Direction::tx, -1, count, TraceClock::now(), bytes);
        return -1;
    }

    const int timeout_ms = write_timeout_for(count);
    const auto started = std::chrono::steady_clock::now();

    device_rts(true);
    long written = device_write(bytes, count, timeout_ms);
    if (written < 0) {
        out_.message("Warning: Re-Opening Com port while writing");
        close();
        out_.pause(kReopenPause);
        open();
        if (open_) {
            device_rts(true);
            written = device_write(bytes, count, timeout_ms);
        }
        if (written < 0) {
            out_.message("Error: Unable to write to Com portxxx");
            if (open_) device_rts(false);
            return -1;
        }
    }

    // RTS must stay up until the last byte has left the line, but a stuck
    // transmitter must not hold the caller longer than the write time-out.
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
    backend_->drain_output(clamp_ms(timeout_ms - spent > 0 ? timeout_ms - spent : 0));
    device_rts(false);
    return as_result(written);
}

int serial::read(void* buffer, std::size_t count) {
    return read_within(buffer, count, read_timeout_for(count, read_timeout_ms_));
}

int serial::read_waiting(void* buffer, std::size_t count) { return read_within(buffer, count, 0); }

int serial::read_within(void* buffer, std::size_t count, int timeout_ms) {
    const WireTrace::Hold hold(trace_);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (count > 0) std::memset(bytes, 0, count);
    if (!open_) open();
    if (!open_) {
        if (trace_) trace_->transfer(WireTrace::Direction::rx, -1, count, TraceClock::now(), bytes);
        return -1;
    }
    return read_or_reopen(bytes, count, timeout_ms);
}

int serial::read_or_reopen(std::uint8_t* bytes, std::size_t count, int timeout_ms) {
    long got = device_read(bytes, count, timeout_ms);
    if (got >= 0) return as_result(got);

    out_.message("Warning: Re-Opening Com port while reading");
    close();
    out_.pause(kReopenPause);
    open();
    if (open_) got = device_read(bytes, count, timeout_ms);
    if (got >= 0) return as_result(got);

    out_.message("Error: Unable to read from Com port " + device_name(port_name_));
    return -1;
}

int serial::read_wait_ms(std::size_t count) const {
    return read_timeout_for(count, read_timeout_ms_);
}

void serial::flush_input(OnReadFailure failure) {
    const WireTrace::Hold hold(trace_);
    if (!open_) open();
    if (!open_) return;
    const int timeout_ms = read_timeout_for(1, kFlushTimeoutMs);
    std::uint8_t discard = 0;
    for (int i = 0; i < kMaxDiscardBytes; ++i) {
        const long got = failure == OnReadFailure::Reopen
                             ? read_or_reopen(&discard, 1, timeout_ms)
                             : device_read(&discard, 1, timeout_ms);
        if (got <= 0) break;
    }
}

void serial::discard_waiting() {
    const WireTrace::Hold hold(trace_);
    if (!open_) open();
    if (!open_) return;
    std::uint8_t discard[256];
    for (int total = 0; total < kMaxDiscardBytes;) {
        const long got = device_read(discard, sizeof discard, 0);
        if (got <= 0) break;
        total += static_cast<int>(got);
    }
}

void serial::set_port(const std::string& name) {
    const WireTrace::Hold hold(trace_);
    close();
    if (trace_ && name != port_name_) trace_->changed("port", "\"" + trace_text(name) + "\"");
    port_name_ = name;
}

void serial::set_baud(std::uint32_t baud) {
    const WireTrace::Hold hold(trace_);
    close();
    if (trace_ && baud != baud_) trace_->changed("baud", std::to_string(baud));
    baud_ = baud;
}

// Every read hands its own deadline to the backend, so a new time-out needs
// no new descriptor. Closing here would drop DTR and RTS (HUPCL) and raise
// them again at the next open: a glitch for a transceiver keyed by RTS or a
// board reset by DTR, several times per firmware block.
void serial::set_timeout(std::uint32_t read_timeout_ms) {
    if (trace_ && read_timeout_ms != read_timeout_ms_) {
        trace_->changed("timeout", std::to_string(read_timeout_ms) + "ms");
    }
    read_timeout_ms_ = read_timeout_ms;
}

void serial::list_ports(std::vector<std::string>& list) const {
    list.clear();
    auto add = [&list](const std::string& name) {
        if (name.empty()) return;
        for (const auto& known : list)
            if (known == name) return;
        list.push_back(name);
    };
    // Ports that sysfs cannot show (the simulated controller's pseudo-terminal)
    // come first, so that the first entry is the one the demo run preselects.
    if (const char* extra = std::getenv("KFU_EXTRA_PORTS")) {
        std::string names = extra;
        std::size_t start = 0;
        while (start <= names.size()) {
            std::size_t end = names.find(':', start);
            if (end == std::string::npos) end = names.size();
            add(names.substr(start, end - start));
            start = end + 1;
        }
    }
    for (const auto& name : list_serial_ports()) add(name);
}

void discard_input(serial& port, Reporter* events) {
    for (int i = 0; i < kMaxDiscardBytes; ++i) {
        if (events) events->process_events();
        std::uint8_t byte = 0;
        if (port.read(&byte, 1) != 1) break;
    }
}
