// The simulator's side of the line: the pty, the output queue with its
// pacing and reply faults, the framing of what arrives, and the thread that
// runs it all.

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "common/ascii.h"
#include "common/int_text.h"
#include "sim/sim_impl.h"

namespace {

std::uint32_t speed_value(speed_t s) {
    struct Entry {
        speed_t code;
        std::uint32_t baud;
    };
    // clang-format off
    static const Entry table[] = {
        {B0, 0},           {B50, 50},           {B75, 75},           {B110, 110},
        {B134, 134},       {B150, 150},         {B200, 200},         {B300, 300},
        {B600, 600},       {B1200, 1200},       {B1800, 1800},       {B2400, 2400},
        {B4800, 4800},     {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
        {B57600, 57600},   {B115200, 115200},   {B230400, 230400},   {B460800, 460800},
        {B500000, 500000}, {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000},
        {B1152000, 1152000}, {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000},
        {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
    };
    // clang-format on
    for (const Entry& e : table) {
        if (e.code == s) return e.baud;
    }
    return 0;
}

}  // namespace

void SimController::Impl::open_line() {
    auto fail = [this](const char* what) {
        const std::string text = std::string("simulator: ") + what + ": " + std::strerror(errno);
        close_line();
        for (int& fd : wake_pipe) {
            if (fd >= 0) ::close(fd);
        }
        throw std::runtime_error(text);
    };
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) fail("posix_openpt");
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) fail("grantpt");
    const char* name = ::ptsname(master);
    if (!name) fail("ptsname");
    path = name;
    // Raw at once: until the tool opens the line, echo and CR translation
    // would otherwise mangle whatever arrives.
    termios t{};
    if (::tcgetattr(master, &t) != 0) fail("tcgetattr");
    ::cfmakeraw(&t);
    if (::tcsetattr(master, TCSANOW, &t) != 0) fail("tcsetattr");
    // Our own slave descriptor keeps the master from seeing a hang-up each
    // time the tool closes and re-opens the line.
    own_slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (own_slave < 0) fail("open slave");
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    if (::pipe2(wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) fail("pipe");
    if (!config.link_path.empty()) {
        struct stat st {};
        if (::lstat(config.link_path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            ::unlink(config.link_path.c_str());
        }
        if (::symlink(path.c_str(), config.link_path.c_str()) != 0) fail("symlink");
    }
}

auto SimController::Impl::byte_time() const -> nanoseconds {
    // Ten bits per byte, rounded up so the rate is never exceeded.
    return nanoseconds((10'000'000'000LL + pace_baud - 1) / pace_baud);
}

void SimController::Impl::wake() {
    const char c = 'w';
    [[maybe_unused]] ssize_t n = ::write(wake_pipe[1], &c, 1);
}

void SimController::Impl::close_line() {
    if (master >= 0) ::close(master);
    if (own_slave >= 0) ::close(own_slave);
    master = own_slave = -1;
    out.clear();
    queued_bytes = 0;
    out_pos = 0;
    front_active = false;
}

void SimController::Impl::queue(std::string bytes, Clock::time_point not_before,
                                microseconds pause) {
    if (vanished || bytes.empty()) return;
    queued_bytes += bytes.size();
    out.push_back({not_before, pause, std::move(bytes)});
}

void SimController::Impl::reply(std::string bytes, Clock::time_point not_before) {
    if (silent) return;
    if (drop > 0) {
        --drop;
        return;
    }
    if (garble > 0) {
        --garble;
        const std::size_t keep_cr = !bytes.empty() && bytes.back() == '\r' ? 1 : 0;
        for (std::size_t i = 0; i + keep_cr < bytes.size(); ++i) {
            char c = static_cast<char>(bytes[i] ^ 0x5A);
            bytes[i] = c == '\r' ? '?' : c;
        }
    }
    if (split && bytes.size() >= 2) {
        const std::size_t half = bytes.size() / 2;
        queue(bytes.substr(0, half), not_before);
        queue(bytes.substr(half), not_before, kSplitPause);
    } else {
        queue(std::move(bytes), not_before);
    }
}

auto SimController::Impl::pump(Clock::time_point now, bool& want_writable) -> Clock::time_point {
    want_writable = false;
    while (!out.empty()) {
        Chunk& c = out.front();
        if (!front_active) {
            Clock::time_point start = std::max(c.not_before, last_done + c.pause);
            if (now < start) return start;
            front_active = true;
            if (pace_baud) next_due = std::max(start, line_free) + byte_time();
        }
        std::size_t n = c.bytes.size() - out_pos;
        if (pace_baud) {
            const Clock::time_point aimed = next_due - std::min(aim_ahead, byte_time() / 2);
            if (now < aimed) return aimed;
            const auto late = std::chrono::duration_cast<nanoseconds>(now - aimed);
            n = std::min<std::size_t>(n, 1 + static_cast<std::size_t>(late / byte_time()));
        }
        const ssize_t w = ::write(master, c.bytes.data() + out_pos, n);
        if (w <= 0) {
            if (w == 0 || errno == EAGAIN || errno == EINTR) {
                want_writable = true;
                return Clock::time_point::max();
            }
            out.clear();  // the line is broken; nothing more can leave
            queued_bytes = 0;
            out_pos = 0;
            front_active = false;
            return Clock::time_point::max();
        }
        if (pace_baud && w > 0) {
            line_free = next_due + byte_time() * (w - 1);
            next_due = line_free + byte_time();
        }
        sent.append(c.bytes, out_pos, static_cast<std::size_t>(w));
        out_pos += static_cast<std::size_t>(w);
        if (out_pos == c.bytes.size()) {
            queued_bytes -= c.bytes.size();
            out.pop_front();
            out_pos = 0;
            front_active = false;
            last_done = pace_baud ? line_free : now;
        }
    }
    return Clock::time_point::max();
}

std::uint32_t SimController::Impl::tool_baud() const {
    if (own_slave < 0) return 0;
    termios t{};
    if (::tcgetattr(own_slave, &t) != 0) return 0;
    return speed_value(::cfgetospeed(&t));
}

void SimController::Impl::feed(const std::uint8_t* bytes, std::size_t count,
                               Clock::time_point now) {
    received.append(reinterpret_cast<const char*>(bytes), count);
    if (pace_baud) line_free = std::max(line_free, now) + byte_time() * static_cast<long>(count);
    if (config.only_baud != 0 && tool_baud() != config.only_baud) {
        state = State::Idle;
        return;
    }
    for (std::size_t i = 0; i < count; ++i) feed_byte(static_cast<char>(bytes[i]), now);
}

void SimController::Impl::feed_byte(char c, Clock::time_point now) {
    switch (state) {
        case State::Idle:
            if (c == '#') {
                target.clear();
                body.clear();
                state = State::Target;
            }
            return;
        case State::Target:
            if (c == '*' && target.empty()) {
                target = "*";
                state = State::Body;
                return;
            }
            if (is_digit(c)) {
                target += c;
                if (target.size() > 9) state = State::Idle;
                return;
            }
            state = State::Body;
            break;  // this byte already belongs to the body
        case State::Body:
            break;
        case State::Binary:
            binary.push_back(static_cast<std::uint8_t>(c));
            if (binary.size() == binary_need) {
                state = State::Idle;
                on_binary_frame();
            }
            return;
    }
    if (c == '\r') {
        state = State::Idle;
        on_text_frame(now);
        return;
    }
    // Binary frames hold any byte, CR and '#' included, so from here on
    // only the byte count tells where the frame ends.
    if (begin_binary_frame(c)) return;
    body += c;
    if (body.size() > kMaxTextFrame) state = State::Idle;
}

std::optional<int> SimController::Impl::addressed(const std::string& t) const {
    if (config.motor_ids.empty()) return std::nullopt;
    if (t == "*") return config.motor_ids.front();
    if (!all_digits(t)) return std::nullopt;
    const auto n = read_integer(t);
    if (!n) return std::nullopt;
    for (int id : config.motor_ids) {
        if (id == *n) return id;
    }
    return std::nullopt;
}

std::string SimController::Impl::prefix(int id) const {
    return config.padded_ids ? three_digits(id) : std::to_string(id);
}

void SimController::Impl::on_text_frame(Clock::time_point now) {
    const std::string command = body;
    const bool ascii_line = bootloader && ascii_mode() && !command.empty() && command[0] == '@' &&
                            command != "@S" && command != "@E";
    if (!ascii_line) commands.push_back({target, command});
    const auto id = addressed(target);
    if (!id) return;
    if (ascii_line) {
        on_ascii_line(command.substr(1), now);
    } else if (bootloader) {
        on_bootloader_command(*id, command, now);
    } else {
        on_firmware_command(*id, command, now);
    }
}

void SimController::Impl::run() {
    // Pacing needs wake-ups to the tens of microseconds, not the default
    // 50 µs of timer slack on top of every sleep.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock<std::recursive_mutex> lock(mutex);
    std::uint8_t buffer[4096];
    while (!stopping) {
        if (vanish_requested && !vanished) {
            close_line();
            vanished = true;
            vanished_cv.notify_all();
        }
        Clock::time_point now = Clock::now();
        if (debug_period.count() > 0 && now >= next_debug) {
            if (queued_bytes < kMaxQueuedBytes) queue(debug_line, now);
            next_debug = now + debug_period;
        }
        bool want_writable = false;
        Clock::time_point wake_at = Clock::time_point::max();
        if (!vanished) wake_at = pump(now, want_writable);
        if (debug_period.count() > 0) wake_at = std::min(wake_at, next_debug);
        const bool master_paused = now < master_pause_until;
        if (master_paused) wake_at = std::min(wake_at, master_pause_until);

        pollfd fds[2] = {{wake_pipe[0], POLLIN, 0}, {master, POLLIN, 0}};
        if (want_writable) fds[1].events |= POLLOUT;
        const nfds_t count = vanished || master_paused ? 1 : 2;
        timespec timeout{};
        timespec* timeout_ptr = nullptr;
        if (wake_at != Clock::time_point::max()) {
            const auto ns = std::max<long long>(
                0, std::chrono::duration_cast<nanoseconds>(wake_at - now).count());
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            timeout_ptr = &timeout;
        }
        lock.unlock();
        const int ready = ::ppoll(fds, count, timeout_ptr, nullptr);
        lock.lock();
        if (ready == 0 && timeout_ptr) {
            const auto late = std::chrono::duration_cast<nanoseconds>(Clock::now() - wake_at);
            const auto sample = std::clamp(late, nanoseconds(0), nanoseconds(200'000));
            aim_ahead = (aim_ahead * 7 + sample) / 8;
        }
        if (ready <= 0) continue;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wake_pipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (count == 2 && !vanished && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                feed(buffer, static_cast<std::size_t>(n), Clock::now());
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                // No slave side open should not happen while we hold our
                // own; should it, look again later rather than spin.
                master_pause_until = Clock::now() + std::chrono::milliseconds(5);
            }
        }
    }
}
