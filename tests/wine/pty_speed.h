#pragma once
// Sets the line rate of a pseudo-terminal, so that a test can see whether a
// program on it gives the rate back when it is done.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <string>

inline void SetLineSpeed(const std::string& pty, speed_t speed) {
    const int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
    ::close(fd);
}
