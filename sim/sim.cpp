#include "sim/sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "common/ascii.h"
#include "common/int_text.h"
#include "firmware/flashmem.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

constexpr int kEepromSize = 16385;
// A text frame longer than this is noise, not a command; it is dropped so a
// line without CR cannot grow the buffer without bound.
constexpr std::size_t kMaxTextFrame = 4096;
// Spontaneous output is dropped while this much is still waiting, so a line
// nobody reads cannot fill memory with debug lines.
constexpr std::size_t kMaxQueuedBytes = 65536;
constexpr microseconds kSplitPause{5000};

struct Chunk {
    Clock::time_point not_before;
    microseconds pause{0};  // after the previous chunk has left completely
    std::string bytes;
};

bool all_digits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), is_digit);
}

std::string three_digits(int id) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", id);
    return text;
}

std::uint32_t speed_value(speed_t s) {
    struct Entry {
        speed_t code;
        std::uint32_t baud;
    };
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
    for (const Entry& e : table) {
        if (e.code == s) return e.baud;
    }
    return 0;
}

}  // namespace

struct SimController::Impl {
    SimConfig config;
    std::string path;
    int master = -1;
    int own_slave = -1;
    int wake_pipe[2] = {-1, -1};
    std::thread thread;

    // One lock for everything; recursive because the responder runs under it
    // and may call the accessors.
    mutable std::recursive_mutex mutex;
    std::condition_variable_any vanished_cv;
    bool stopping = false;
    bool stopped = false;
    bool vanish_requested = false;
    bool vanished = false;

    // --- the controller ---
    bool bootloader = false;
    std::string version;
    std::unique_ptr<FirmwareImage> flash = std::make_unique<FirmwareImage>();
    std::vector<int> eeprom = std::vector<int>(kEepromSize);
    int eeprom_clears = 0;
    std::map<std::string, long> registers;
    int restart_zeros_left = 0;
    int upload_line = 0;

    // --- what was received ---
    std::vector<SimFrame> frames;
    std::vector<Command> commands;
    std::string received;
    std::string sent;

    // --- faults ---
    std::function<std::optional<std::string>(const std::string&)> responder;
    bool silent = false;
    int drop = 0;
    int garble = 0;
    bool split = false;
    bool never_start = false;
    std::map<int, char> refused;
    std::set<int> garbled_acks;
    int silent_after = -1;
    int wrong_echo = -1;
    bool short_ack = false;
    std::uint32_t pace_baud = 0;
    std::chrono::milliseconds debug_period{0};
    std::string debug_line;
    Clock::time_point next_debug;

    // --- input parser ---
    enum class State { Idle, Target, Body, Binary } state = State::Idle;
    std::string target;
    std::string body;
    std::vector<std::uint8_t> binary;
    std::size_t binary_need = 0;
    char binary_kind = 0;
    bool binary_1536 = true;

    // --- output ---
    std::deque<Chunk> out;
    std::size_t queued_bytes = 0;
    std::size_t out_pos = 0;   // bytes of out.front() already written
    bool front_active = false;
    Clock::time_point next_due;   // paced: when the next byte has fully left
    Clock::time_point line_free;  // paced: when the line's last byte (either way) ends
    Clock::time_point last_done;  // when the previous chunk left completely
    Clock::time_point master_pause_until;
    // How late timed wake-ups come on this machine; paced bytes are aimed
    // that much ahead so that they leave on time rather than late on average.
    nanoseconds aim_ahead{0};

    nanoseconds byte_time() const {
        // Ten bits per byte, rounded up so the rate is never exceeded.
        return nanoseconds((10'000'000'000LL + pace_baud - 1) / pace_baud);
    }

    void wake() {
        const char c = 'w';
        [[maybe_unused]] ssize_t n = ::write(wake_pipe[1], &c, 1);
    }

    void close_line() {
        if (master >= 0) ::close(master);
        if (own_slave >= 0) ::close(own_slave);
        master = own_slave = -1;
        out.clear();
        queued_bytes = 0;
        out_pos = 0;
        front_active = false;
    }

    // ---------------------------------------------------------------- output

    void queue(std::string bytes, Clock::time_point not_before, microseconds pause = microseconds(0)) {
        if (vanished || bytes.empty()) return;
        queued_bytes += bytes.size();
        out.push_back({not_before, pause, std::move(bytes)});
    }

    // A reply caused by something received: subject to the reply faults.
    void reply(std::string bytes, Clock::time_point not_before) {
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

    // Writes what is due; returns when it next needs to run (max: never),
    // and sets `want_writable` when the pty's buffer is full.
    Clock::time_point pump(Clock::time_point now, bool& want_writable) {
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

    // ----------------------------------------------------------------- input

    bool ascii_mode() const { return version == "4J"; }

    std::uint32_t tool_baud() const {
        if (own_slave < 0) return 0;
        termios t{};
        if (::tcgetattr(own_slave, &t) != 0) return 0;
        return speed_value(::cfgetospeed(&t));
    }

    void feed(const std::uint8_t* bytes, std::size_t count, Clock::time_point now) {
        received.append(reinterpret_cast<const char*>(bytes), count);
        if (pace_baud) line_free = std::max(line_free, now) + byte_time() * static_cast<long>(count);
        if (config.only_baud != 0 && tool_baud() != config.only_baud) {
            state = State::Idle;
            return;
        }
        for (std::size_t i = 0; i < count; ++i) feed_byte(static_cast<char>(bytes[i]), now);
    }

    void feed_byte(char c, Clock::time_point now) {
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
        if (bootloader && !ascii_mode() && body == "@" && (c == ':' || c == 'C')) {
            binary_kind = c;
            binary_1536 = version != "01";
            const std::size_t address = binary_1536 ? 3 : 2;
            const std::size_t data = c == ':' ? (binary_1536 ? 1536 : 96) : 0;
            binary_need = address + data + 1;
            binary.clear();
            state = State::Binary;
            return;
        }
        body += c;
        if (body.size() > kMaxTextFrame) state = State::Idle;
    }

    // The motor that answers a frame with this target, if it is one of ours.
    std::optional<int> addressed(const std::string& t) const {
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

    std::string prefix(int id) const {
        return config.padded_ids ? three_digits(id) : std::to_string(id);
    }

    void on_text_frame(Clock::time_point now) {
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

    void on_bootloader_command(int id, const std::string& command, Clock::time_point now) {
        if (command == " ") {
            reply("BLV:" + version + "\r", now);
        } else if (command == "@S") {
            reply(prefix(id) + "@OK\r", now);
        } else if (command == "@E") {
            bootloader = false;
            restart_zeros_left = config.restart_zero_answers;
            reply(prefix(id) + "@E\r", now);
        }
        // A bootloader knows nothing else and stays quiet.
    }

    void on_firmware_command(int id, const std::string& command, Clock::time_point now) {
        const std::string p = prefix(id);
        if (responder) {
            if (auto r = responder(command)) {
                reply(p + *r + "\r", now);
                return;
            }
        }
        if (command == "@S") {
            if (never_start) return;
            bootloader = true;
            reply(p + "@OK\r", now);
            return;
        }
        if (command == " ") {
            reply(p + "FW 2.41\r", now);
            return;
        }
        if (command == "i") {
            int value = 1;
            if (restart_zeros_left > 0) {
                --restart_zeros_left;
                value = 0;
            }
            reply(p + std::to_string(value) + "\r", now);
            return;
        }
        if (command == "~") {
            std::fill(eeprom.begin(), eeprom.end(), 0xFF);
            ++eeprom_clears;
            const std::string who = short_ack ? std::to_string(id) : three_digits(id);
            reply(who + "~\r", now + std::chrono::milliseconds(config.eeprom_clear_delay_ms));
            return;
        }
        if (command.rfind("(E", 0) == 0) {
            const auto address = read_integer(std::string_view(command).substr(2));
            const int value = address && *address >= 0 && *address < kEepromSize ? eeprom[*address] : 0;
            reply(p + "+" + std::to_string(value) + "\r", now);
            return;
        }
        if (command.rfind("(J", 0) == 0) {
            std::string echo = command;
            if (command == "(JS") {
                upload_line = 0;
            } else if (all_digits(command.substr(2))) {
                if (upload_line == wrong_echo) echo[1] = 'j';
                ++upload_line;
            }
            reply(p + echo + "\r", now);
            return;
        }
        const std::size_t eq = command.find('=');
        if (eq != std::string::npos && eq > 0) {
            if (const auto value = read_integer(std::string_view(command).substr(eq + 1))) {
                registers[command.substr(0, eq)] = *value;
            }
            reply(p + command + "\r", now);
            return;
        }
        if (const auto r = registers.find(command); r != registers.end()) {
            reply(p + command + (config.register_plus ? "+" : "") + std::to_string(r->second) + "\r", now);
            return;
        }
        reply(p + command + "\r", now);
    }

    // The acknowledgement of bootloader frame `index`, with the faults applied;
    // empty when no acknowledgement is to be sent.
    std::optional<char> ack_for(int index, char good) const {
        if (silent_after >= 0 && index >= silent_after) return std::nullopt;
        if (const auto r = refused.find(index); r != refused.end()) return r->second;
        if (garbled_acks.count(index)) return '?';
        return good;
    }

    void send_ack(char ack, Clock::time_point now) {
        std::string bytes = config.usb_cr_acks ? "\r" : "";
        bytes += ack;
        bytes += '\r';
        reply(bytes, now);
    }

    void on_binary_frame() {
        const auto id = addressed(target);
        if (!id) return;
        const Clock::time_point now = Clock::now();
        const int index = static_cast<int>(frames.size());
        const bool clear = binary_kind == 'C';

        SimFrame f{};
        f.kind = binary_1536 ? (clear ? SimFrame::Clear1536 : SimFrame::Data1536)
                             : (clear ? SimFrame::Clear96 : SimFrame::Data96);
        f.length = 1 + target.size() + 2 + binary.size();
        f.checksum_ok = FrameChecksum(binary.data(), binary.size() - 1) == binary.back();
        const std::size_t address_bytes = binary_1536 ? 3 : 2;
        for (std::size_t i = 0; i < address_bytes; ++i) f.address = (f.address << 8) | binary[i];
        const std::uint32_t first = 2 * f.address;
        const std::uint32_t span = binary_1536 ? 2048 : 128;
        const bool in_range = first + span <= kImageSize;
        frames.push_back(f);

        const char good = binary_1536 ? 'k' : (clear ? 'C' : 'Y');
        const auto ack = ack_for(index, f.checksum_ok && in_range ? good : 'n');
        const bool accepted = f.checksum_ok && in_range && !refused.count(index);
        if (accepted) {
            std::uint8_t* words = flash->bytes.data() + first;
            if (clear) {
                std::fill(words, words + span, 0xFF);
            } else {
                const std::uint8_t* data = binary.data() + address_bytes;
                for (std::uint32_t w = 0; w < span / 4; ++w) {
                    words[4 * w] = data[3 * w + 2];
                    words[4 * w + 1] = data[3 * w + 1];
                    words[4 * w + 2] = data[3 * w];
                    words[4 * w + 3] = 0x00;
                }
            }
        }
        if (ack) send_ack(*ack, now);
    }

    void on_ascii_line(const std::string& line, Clock::time_point now) {
        const int index = static_cast<int>(frames.size());
        SimFrame f{};
        f.kind = SimFrame::AsciiLine;
        f.line = line;
        f.length = 1 + target.size() + 1 + line.size() + 1;
        int result = kHexOk;
        if (!refused.count(index)) result = ParseHexLine(*flash, line);
        f.checksum_ok = result != kHexDataChecksum && result != kHexUpperChecksum;
        frames.push_back(f);

        if (silent_after >= 0 && index >= silent_after) return;
        if (const auto r = refused.find(index); r != refused.end()) {
            reply(std::string(1, r->second) + "\r", now);
        } else if (!f.checksum_ok) {
            reply("ERR\r", now);
        } else if (garbled_acks.count(index)) {
            reply("?KLINE\r", now);
        } else {
            reply("OKLINE\r", now);
        }
    }

    // ------------------------------------------------------------------ loop

    void run() {
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
};

SimController::SimController(SimConfig config) : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.config = std::move(config);
    m.version = m.config.bootloader_version;
    m.bootloader = m.config.start_in_bootloader;
    m.pace_baud = m.config.pace_baud;
    FillImage(*m.flash);
    for (int a = 0; a < kEepromSize; ++a) m.eeprom[a] = a & 0xFF;
    m.registers[":baud"] = 19200;
    m.registers["C"] = 0;
    m.registers["o"] = 1000;

    auto fail = [&](const char* what) {
        const std::string text = std::string("simulator: ") + what + ": " + std::strerror(errno);
        m.close_line();
        for (int& fd : m.wake_pipe) {
            if (fd >= 0) ::close(fd);
        }
        throw std::runtime_error(text);
    };
    m.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m.master < 0) fail("posix_openpt");
    if (::grantpt(m.master) != 0 || ::unlockpt(m.master) != 0) fail("grantpt");
    const char* name = ::ptsname(m.master);
    if (!name) fail("ptsname");
    m.path = name;
    // Raw at once: until the tool opens the line, echo and CR translation
    // would otherwise mangle whatever arrives.
    termios t{};
    if (::tcgetattr(m.master, &t) != 0) fail("tcgetattr");
    ::cfmakeraw(&t);
    if (::tcsetattr(m.master, TCSANOW, &t) != 0) fail("tcsetattr");
    // Our own slave descriptor keeps the master from seeing a hang-up each
    // time the tool closes and re-opens the line.
    m.own_slave = ::open(m.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m.own_slave < 0) fail("open slave");
    ::fcntl(m.master, F_SETFL, ::fcntl(m.master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m.master, F_SETFD, FD_CLOEXEC);
    if (::pipe2(m.wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) fail("pipe");
    if (!m.config.link_path.empty()) {
        struct stat st{};
        if (::lstat(m.config.link_path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            ::unlink(m.config.link_path.c_str());
        }
        if (::symlink(m.path.c_str(), m.config.link_path.c_str()) != 0) fail("symlink");
    }
    m.thread = std::thread([&m] { m.run(); });
}

SimController::~SimController() { stop(); }

const std::string& SimController::path() const { return impl_->path; }

void SimController::stop() {
    Impl& m = *impl_;
    {
        std::lock_guard<std::recursive_mutex> lock(m.mutex);
        if (m.stopped) return;
        m.stopping = true;
        m.wake();
    }
    if (m.thread.joinable()) m.thread.join();
    std::lock_guard<std::recursive_mutex> lock(m.mutex);
    m.close_line();
    for (int& fd : m.wake_pipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    if (!m.config.link_path.empty()) ::unlink(m.config.link_path.c_str());
    m.stopped = true;
}

bool SimController::in_bootloader() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->bootloader;
}

std::vector<std::uint8_t> SimController::flash() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return {impl_->flash->bytes.begin(), impl_->flash->bytes.end()};
}

std::vector<SimFrame> SimController::frames() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->frames;
}

std::vector<SimController::Command> SimController::commands() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->commands;
}

std::string SimController::received() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->received;
}

void SimController::clear_log() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->frames.clear();
    impl_->commands.clear();
    impl_->received.clear();
    impl_->sent.clear();
}

std::string SimController::sent() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->sent;
}

int SimController::eeprom(int address) const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    if (address < 0 || address >= kEepromSize) return 0;
    return impl_->eeprom[address];
}

void SimController::set_eeprom(int address, int value) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    if (address >= 0 && address < kEepromSize) impl_->eeprom[address] = value;
}

int SimController::eeprom_clears() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->eeprom_clears;
}

void SimController::set_register(const std::string& name, long value) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->registers[name] = value;
}

std::optional<long> SimController::get_register(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    const auto r = impl_->registers.find(name);
    if (r == impl_->registers.end()) return std::nullopt;
    return r->second;
}

std::uint32_t SimController::line_baud() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->tool_baud();
}

void SimController::set_responder(std::function<std::optional<std::string>(const std::string&)> f) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->responder = std::move(f);
}

void SimController::send_raw(const std::string& bytes) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->queue(bytes, Clock::now());
    impl_->wake();
}

void SimController::set_debug_every(std::chrono::milliseconds period, const std::string& line) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->debug_period = period;
    impl_->debug_line = line;
    impl_->next_debug = Clock::now() + period;
    impl_->wake();
}

void SimController::set_silent(bool silent) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->silent = silent;
}

void SimController::drop_replies(int count) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->drop = count;
}

void SimController::garble_replies(int count) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->garble = count;
}

void SimController::split_replies(bool split) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->split = split;
}

void SimController::never_start_bootloader(bool never) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->never_start = never;
}

void SimController::refuse_frame(int index, char ack) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->refused[index] = ack;
}

void SimController::garble_ack(int index) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->garbled_acks.insert(index);
}

void SimController::silent_after_frames(int count) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->silent_after = count;
}

void SimController::wrong_echo_at(int upload_line) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->wrong_echo = upload_line;
}

void SimController::short_eeprom_ack(bool one_digit) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->short_ack = one_digit;
}

void SimController::vanish() {
    Impl& m = *impl_;
    std::unique_lock<std::recursive_mutex> lock(m.mutex);
    if (m.vanished) return;
    if (m.stopping || m.stopped || !m.thread.joinable() ||
        std::this_thread::get_id() == m.thread.get_id()) {
        m.close_line();
        m.vanished = true;
        return;
    }
    m.vanish_requested = true;
    m.wake();
    m.vanished_cv.wait(lock, [&m] { return m.vanished; });
}

void SimController::set_pace_baud(std::uint32_t baud) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->pace_baud = baud;
    impl_->line_free = Clock::time_point();
    impl_->front_active = false;  // the next byte is timed afresh
    impl_->wake();
}

void SimController::set_version_code(const std::string& code) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->version = code;
}
