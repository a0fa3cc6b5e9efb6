// The serial backend for Windows: a COM port opened for synchronous I/O,
// with every read and write bounded by COMMTIMEOUTS.

#include "serial/serial_win32.h"

#include <chrono>
#include <thread>

#include "serial/serial_backend.h"

namespace {

constexpr DWORD kMsPerByte = 10;
constexpr DWORD kWriteConstantMs = 50;

// Splits a total time-out into the 10 ms per byte that Windows adds by itself
// and a constant; when the bytes alone would take longer (or overflow the
// driver's 32-bit product), the whole time goes into the constant.
void split_deadline(std::size_t n, int timeout_ms, DWORD& multiplier, DWORD& constant) {
    const DWORD total = timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : 0;
    if (n <= MAXDWORD / kMsPerByte && kMsPerByte * n <= total) {
        multiplier = kMsPerByte;
        constant = total - static_cast<DWORD>(kMsPerByte * n);
    } else {
        multiplier = 0;
        constant = total;
    }
}

bool same_timeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
    return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
           a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
           a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
           a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
           a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

class Win32Backend final : public SerialBackend {
public:
    ~Win32Backend() override { close_device(); }

    bool open_device(const std::string& device, int& error) override {
        handle_ = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            error = static_cast<int>(GetLastError());
            return false;
        }
        // "\\.\" reaches disks and volumes too; only a character device can
        // be a serial line.
        if (GetFileType(handle_) != FILE_TYPE_CHAR) {
            close_device();
            error = ERROR_BAD_DEVICE;
            return false;
        }
        has_rts_ = true;
        return true;
    }

    bool save_settings() override {
        have_saved_ = GetCommTimeouts(handle_, &saved_) != 0;
        return have_saved_;
    }

    bool apply_timeouts() override {
        // Each read and write sets its own deadline; until the first one,
        // reads wait 10 ms per byte and writes 10 ms per byte plus 50 ms.
        COMMTIMEOUTS t{};
        t.ReadTotalTimeoutMultiplier = kMsPerByte;
        t.WriteTotalTimeoutMultiplier = kMsPerByte;
        t.WriteTotalTimeoutConstant = kWriteConstantMs;
        if (!SetCommTimeouts(handle_, &t)) return false;
        current_ = t;
        return true;
    }

    bool read_state() override {
        state_ = DCB{};
        state_.DCBlength = sizeof(DCB);
        have_state_ = GetCommState(handle_, &state_) != 0;
        return have_state_;
    }

    bool apply_state(std::uint32_t baud) override {
        if (baud == 0) return false;
        DCB dcb = state_;
        configure_line(dcb, baud);
        if (!SetCommState(handle_, &dcb)) {
            DWORD errors = 0;
            ClearCommError(handle_, &errors, nullptr);
            return false;
        }
        baud_ = baud;
        return true;
    }

    bool arm_transmit_wait() override { return SetCommMask(handle_, EV_TXEMPTY) != 0; }

    // The line goes back to the rate and settings it was found with, as on
    // Linux, not only to its old time-outs: the next program to open it
    // finds it as it was before this one.
    void restore_and_close() override {
        if (handle_ != INVALID_HANDLE_VALUE) {
            if (have_state_) SetCommState(handle_, &state_);
            if (have_saved_) SetCommTimeouts(handle_, &saved_);
        }
        close_device();
    }

    void close_device() override {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        have_saved_ = false;
        have_state_ = false;
    }

    long read_bytes(std::uint8_t* buffer, std::size_t n, int timeout_ms) override {
        if (handle_ == INVALID_HANDLE_VALUE) return -1;
        if (n == 0) return 0;
        // One ReadFile ends at n bytes or at the deadline; a longer buffer
        // than a DWORD can count is read up to what one call can take.
        const DWORD want = n > MAXDWORD ? MAXDWORD : static_cast<DWORD>(n);
        COMMTIMEOUTS t = current_;
        set_read_deadline(t, want, timeout_ms);
        if (!use_timeouts(t)) return -1;
        DWORD got = 0;
        if (!ReadFile(handle_, buffer, want, &got, nullptr)) {
            // Bytes that came before the failure are still handed out; the
            // failure shows at the next read.
            return got > 0 ? static_cast<long>(got) : -1L;
        }
        return static_cast<long>(got);
    }

    long write_bytes(const std::uint8_t* data, std::size_t n, int timeout_ms) override {
        if (handle_ == INVALID_HANDLE_VALUE) return -1;
        if (n == 0) return 0;
        const DWORD want = n > MAXDWORD ? MAXDWORD : static_cast<DWORD>(n);
        COMMTIMEOUTS t = current_;
        set_write_deadline(t, want, timeout_ms);
        if (!use_timeouts(t)) return -1;
        DWORD done = 0;
        if (!WriteFile(handle_, data, want, &done, nullptr)) return -1;
        return static_cast<long>(done);
    }

    bool drain_output(int timeout_ms) override {
        // A synchronous handle cannot wait for EV_TXEMPTY with a bound, so
        // sleep for as long as the queued bytes need at the line rate and
        // look again, until the driver's queue is empty or the time is up.
        if (handle_ == INVALID_HANDLE_VALUE) return false;
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        const auto char_time = std::chrono::microseconds(10'000'000LL / (baud_ > 0 ? baud_ : 1));
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(handle_, &errors, &status)) return false;
            if (status.cbOutQue == 0) return true;
            const auto now = Clock::now();
            if (now >= deadline) return false;
            auto pause = char_time * status.cbOutQue;
            if (pause < std::chrono::milliseconds(1)) pause = std::chrono::milliseconds(1);
            const auto left = deadline - now;
            std::this_thread::sleep_for(pause < left ? pause : left);
        }
    }

    // Pseudo-terminals and some adapters refuse it (ERROR_NOT_SUPPORTED);
    // the line works without it. Such a device is not asked again before the
    // next open: under Wine each refusal costs a trip to its server, two in
    // every exchange.
    void set_rts(bool on) override {
        if (handle_ == INVALID_HANDLE_VALUE || !has_rts_) return;
        if (!EscapeCommFunction(handle_, on ? SETRTS : CLRRTS) && GetLastError() == ERROR_NOT_SUPPORTED)
            has_rts_ = false;
    }

private:
    bool use_timeouts(COMMTIMEOUTS t) {
        if (same_timeouts(t, current_)) return true;
        if (!SetCommTimeouts(handle_, &t)) return false;
        current_ = t;
        return true;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool has_rts_ = true;
    bool have_saved_ = false;
    COMMTIMEOUTS saved_{};
    COMMTIMEOUTS current_{};
    bool have_state_ = false;
    DCB state_{};  // as found at the open
    std::uint32_t baud_ = 115200;
};

}  // namespace

void configure_line(DCB& dcb, std::uint32_t baud) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = baud;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // XON/XOFF is off, so these two are never acted on; but the serial
    // driver refuses a state whose XON and XOFF characters are equal, so
    // they keep their usual values instead of both becoming 0.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
}

void set_read_deadline(COMMTIMEOUTS& t, std::size_t n, int timeout_ms) {
    if (timeout_ms <= 0) {
        // All three 0 would mean "wait for ever"; this triple means "now".
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = 0;
        return;
    }
    t.ReadIntervalTimeout = 0;
    split_deadline(n, timeout_ms, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant);
}

void set_write_deadline(COMMTIMEOUTS& t, std::size_t n, int timeout_ms) {
    split_deadline(n, timeout_ms > 0 ? timeout_ms : 1, t.WriteTotalTimeoutMultiplier,
                   t.WriteTotalTimeoutConstant);
}

std::unique_ptr<SerialBackend> make_platform_backend() { return std::make_unique<Win32Backend>(); }

std::string platform_device_name(const std::string& port_name) {
    if (port_name.find('\\') != std::string::npos) return port_name;
    return "\\\\.\\" + port_name;
}

OpenRefusal classify_open_error(int error) {
    // Windows gives a COM port to one program at a time and answers everybody
    // else with "access denied".
    switch (static_cast<DWORD>(error)) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return OpenRefusal::busy;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return OpenRefusal::missing;
        default:
            return OpenRefusal::other;
    }
}

std::string open_error_text(int error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length > 0 && text ? std::string(text, length) : std::string();
    if (text) LocalFree(text);
    // The system's texts end in ".\r\n"; the caller adds its own end.
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    if (result.empty()) result = "error " + std::to_string(error);
    return result;
}
