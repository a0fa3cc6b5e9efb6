// The serial backend for Linux: termios for the line, poll() for every wait.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "serial/serial_backend.h"

namespace {

// The kernel's termios2, for rates without a Bxxx constant. Declared here
// because <asm/termbits.h> cannot live beside <termios.h>; the layout and
// numbers are those of the generic (x86, arm) kernel headers.
#if defined(TCGETS2) && defined(TCSETS2)
#define KFU_HAVE_TERMIOS2 1
struct kernel_termios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(kernel_termios2) == 44, "kernel termios2 layout");
constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, kernel_termios2);
constexpr unsigned long kSetTermios2 = _IOW('T', 0x2B, kernel_termios2);
constexpr tcflag_t kOtherBaud = 0010000;  // BOTHER
constexpr int kInputSpeedShift = 16;      // IBSHIFT
#endif

struct RateName {
    std::uint32_t rate;
    speed_t code;
};

constexpr RateName kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool standard_rate(std::uint32_t rate, speed_t& code) {
    for (const auto& r : kRates) {
        if (r.rate == rate) {
            code = r.code;
            return true;
        }
    }
    return false;
}

long long now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Milliseconds until `deadline`, rounded up so that poll() never wakes just
// before it and comes back for a zero-length wait.
int ms_until(long long deadline) {
    const long long left = deadline - now_ns();
    if (left <= 0) return 0;
    const long long ms = (left + 999999) / 1000000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

void sleep_ns(long long ns) {
    timespec ts{static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

class PosixBackend final : public SerialBackend {
public:
    ~PosixBackend() override { close_device(); }

    bool open_device(const std::string& device, int& error) override {
        // Opening a block device or a tape can have side effects of its own, so
        // anything that is not a character device is refused before open().
        struct stat st {};
        if (::stat(device.c_str(), &st) != 0) {
            error = errno;
            return false;
        }
        if (!S_ISCHR(st.st_mode)) {
            error = ENOTTY;
            return false;
        }
        fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            error = errno;
            return false;
        }
        if (!isatty(fd_)) {
            drop_fd();
            error = ENOTTY;
            return false;
        }
        // The advisory lock also holds against root, for whom TIOCEXCL is no
        // bar. Take it first, so that a refused open never touches the
        // exclusive flag of a port that someone else holds.
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            error = (errno == EWOULDBLOCK) ? EBUSY : errno;
            drop_fd();
            return false;
        }
        ioctl(fd_, TIOCEXCL);
        exclusive_ = true;
        has_modem_lines_ = true;
        has_line_status_ = true;
        // Linux raises RTS (and DTR) on open; the transmitter must stay off.
        set_rts(false);
        return true;
    }

    bool save_settings() override {
        have_saved_ = tcgetattr(fd_, &saved_) == 0;
        return have_saved_;
    }

    bool apply_timeouts() override {
        // Every wait is our own poll() against a deadline; the descriptor must
        // never block in read() or write().
        const int flags = fcntl(fd_, F_GETFL);
        if (flags < 0) return false;
        return fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0;
    }

    bool read_state() override { return tcgetattr(fd_, &state_) == 0; }

    bool apply_state(std::uint32_t baud) override {
        // Rate 0 would mean "hang up" to the driver (DTR drops).
        if (baud == 0) return false;
        termios t = state_;
        t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                            ICRNL | IXON | IXOFF | IXANY | INPCK);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;

        speed_t code = 0;
        const bool standard = standard_rate(baud, code);
        if (standard) {
            if (cfsetispeed(&t, code) != 0 || cfsetospeed(&t, code) != 0) return false;
        }
        if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
        if (standard) {
            // tcsetattr succeeds when any part was taken; check the part we need.
            termios now{};
            if (tcgetattr(fd_, &now) != 0 || cfgetospeed(&now) != code) return false;
            if ((now.c_cflag & CSIZE) != CS8 || (now.c_cflag & (PARENB | CSTOPB)) != 0)
                return false;
        } else if (!apply_other_rate(baud)) {
            return false;
        }
        baud_ = baud;
        set_rts(false);
        return true;
    }

    bool arm_transmit_wait() override {
        int queued = 0;
        return ioctl(fd_, TIOCOUTQ, &queued) == 0;
    }

    void restore_and_close() override {
        if (fd_ >= 0 && have_saved_) {
            tcsetattr(fd_, TCSANOW, &saved_);
            // Settings as found usually echo: what the controller still sends
            // would go back onto the line, with RTS low, until the close has
            // stopped the receiver. Thrown away unsent instead; every write
            // has drained, so nothing of ours is in the queue. A pseudo-
            // terminal has no line to echo onto, and flushing its output
            // would take back what the other side has not read yet.
            tcflush(fd_, has_modem_lines_ ? TCIOFLUSH : TCIFLUSH);
        }
        close_device();
    }

    void close_device() override {
        if (fd_ < 0) return;
        // On a pseudo-terminal the exclusive flag outlives the descriptor and
        // would lock an ordinary user out of the next open.
        if (exclusive_) ioctl(fd_, TIOCNXCL);
        exclusive_ = false;
        have_saved_ = false;
        drop_fd();
    }

    long read_bytes(std::uint8_t* buffer, std::size_t n, int timeout_ms) override {
        if (fd_ < 0) return -1;
        const long long deadline = now_ns() + static_cast<long long>(timeout_ms) * 1000000LL;
        std::size_t got = 0;
        bool hung_up = false;
        while (got < n) {
            const ssize_t r = ::read(fd_, buffer + got, n - got);
            if (r > 0) {
                got += static_cast<std::size_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return failed(got);
            // Nothing pending. After a hang-up the line stays "readable" for
            // ever, so a second empty read there is the end, not a reason to
            // wait again.
            if (hung_up) return failed(got);
            const int wait_ms = ms_until(deadline);
            if (wait_ms == 0) break;
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, wait_ms);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return failed(got);
            }
            if (ready == 0) break;
            if (p.revents & POLLNVAL) return failed(got);
            if (p.revents & (POLLHUP | POLLERR)) hung_up = true;
        }
        return static_cast<long>(got);
    }

    long write_bytes(const std::uint8_t* data, std::size_t n, int timeout_ms) override {
        if (fd_ < 0) return -1;
        const long long deadline = now_ns() + static_cast<long long>(timeout_ms) * 1000000LL;
        std::size_t done = 0;
        while (done < n) {
            const ssize_t r = ::write(fd_, data + done, n - done);
            if (r > 0) {
                done += static_cast<std::size_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR) continue;
            // A write that takes nothing without saying why would loop for
            // ever; count it as a failed device.
            if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return -1;
            const int wait_ms = ms_until(deadline);
            if (wait_ms == 0) break;
            pollfd p{fd_, POLLOUT, 0};
            const int ready = ::poll(&p, 1, wait_ms);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            if (ready == 0) break;
            if (p.revents & POLLOUT) continue;
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
        }
        return static_cast<long>(done);
    }

    bool drain_output(int timeout_ms) override {
        // tcdrain() would wait without bound on a stuck transmitter. Instead
        // sleep for as long as the queued bytes need at the line rate, and
        // look again, until the queue is empty or the time is up.
        if (fd_ < 0) return false;
        const long long deadline = now_ns() + static_cast<long long>(timeout_ms) * 1000000LL;
        const long long char_ns = 10LL * 1000000000LL / (baud_ > 0 ? baud_ : 115200);
        constexpr long long kMinPauseNs = 200000;
        for (;;) {
            int queued = 0;
            if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return false;
            if (queued <= 0 && transmitter_empty()) return true;
            const long long left = deadline - now_ns();
            if (left <= 0) return false;
            long long pause = (queued > 0 ? queued : 1) * char_ns;
            if (pause < kMinPauseNs) pause = kMinPauseNs;
            sleep_ns(pause < left ? pause : left);
        }
    }

    // A device without modem lines (a pseudo-terminal) says so at the first
    // try; it is not asked again before the next open, which keeps two
    // system calls per write out of the exchange.
    void set_rts(bool on) override {
        if (fd_ < 0 || !has_modem_lines_) return;
        int bits = TIOCM_RTS;
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0 && not_supported(errno))
            has_modem_lines_ = false;
    }

private:
    // Bytes received before a failure are still handed out; the failure shows
    // at the next read.
    static long failed(std::size_t got) { return got > 0 ? static_cast<long>(got) : -1; }

    // The driver lacks the request, as opposed to a device that failed.
    static bool not_supported(int error) { return error == ENOTTY || error == EINVAL; }

    // The driver's queue can be empty while the UART still shifts out its last
    // byte; ports that can tell (the serial core's) are asked, others are
    // taken at their word.
    bool transmitter_empty() {
        if (!has_line_status_) return true;
        int lsr = 0;
        if (ioctl(fd_, TIOCSERGETLSR, &lsr) != 0) {
            if (not_supported(errno)) has_line_status_ = false;
            return true;
        }
        return (lsr & TIOCSER_TEMT) != 0;
    }

    bool apply_other_rate(std::uint32_t baud) {
#ifdef KFU_HAVE_TERMIOS2
        kernel_termios2 t{};
        if (ioctl(fd_, kGetTermios2, &t) != 0) return false;
        t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << kInputSpeedShift));
        t.c_cflag |= kOtherBaud | (kOtherBaud << kInputSpeedShift);
        t.c_ispeed = baud;
        t.c_ospeed = baud;
        if (ioctl(fd_, kSetTermios2, &t) != 0) return false;
        // The driver picks the nearest divisor; more than 3 % off would garble
        // every byte, so that counts as refused.
        kernel_termios2 now{};
        if (ioctl(fd_, kGetTermios2, &now) != 0) return false;
        const double ratio = static_cast<double>(now.c_ospeed) / baud;
        return ratio > 0.97 && ratio < 1.03;
#else
        (void)baud;
        return false;
#endif
    }

    void drop_fd() {
        ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    bool exclusive_ = false;
    bool have_saved_ = false;
    // What the device turned out not to have, found at the first try.
    bool has_modem_lines_ = true;
    bool has_line_status_ = true;
    termios saved_{};
    termios state_{};
    std::uint32_t baud_ = 115200;
};

}  // namespace

std::unique_ptr<SerialBackend> make_platform_backend() { return std::make_unique<PosixBackend>(); }

std::string platform_device_name(const std::string& port_name) {
    if (port_name.find('/') != std::string::npos) return port_name;
    return "/dev/" + port_name;
}

OpenRefusal classify_open_error(int error) {
    if (error == EACCES || error == EPERM) return OpenRefusal::no_permission;
    if (error == EBUSY) return OpenRefusal::busy;
    if (error == ENOENT) return OpenRefusal::missing;
    return OpenRefusal::other;
}

std::string open_error_text(int error) { return std::strerror(error); }
