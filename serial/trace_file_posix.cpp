// Trace files on POSIX systems: plain descriptors and write(2).

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/trace_file.h"

bool TraceFile::create(const std::string& path, std::string& error) {
    close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    handle_ = fd;
    return true;
}

bool TraceFile::append(const char* data, std::size_t size, std::string& error) {
    if (handle_ == kNone) {
        error = std::strerror(EBADF);
        return false;
    }
    const int fd = static_cast<int>(handle_);
    // A regular file takes the whole piece at once; the loop is for a signal
    // or a disk that fills up half-way.
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        error = std::strerror(n == 0 ? ENOSPC : errno);
        return false;
    }
    return true;
}

void TraceFile::close() {
    if (handle_ == kNone) return;
    ::close(static_cast<int>(handle_));
    handle_ = kNone;
}
