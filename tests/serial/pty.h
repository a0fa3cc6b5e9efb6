#pragma once
// The far end of a real pseudo-terminal, standing in for a controller.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <string_view>

class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            slave_ = ptsname(master_);
    }
    ~Pty() { hang_up(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return !slave_.empty(); }
    const std::string& path() const { return slave_; }
    int fd() const { return master_; }

    void send(std::string_view bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    // What the port sent, until `max` bytes are in or the line stays quiet
    // for `quiet_ms`.
    std::string receive(std::size_t max, int quiet_ms = 200) const {
        std::string got;
        char buf[512];
        while (got.size() < max) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, quiet_ms) <= 0) break;
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Termios calls on the master act on the slave's settings.
    termios attrs() const {
        termios t{};
        tcgetattr(master_, &t);
        return t;
    }
    void set_attrs(const termios& t) const { tcsetattr(master_, TCSANOW, &t); }

    void hang_up() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slave_;
};
