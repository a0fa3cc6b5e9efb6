// The record file on Linux: O_APPEND, and a lock on the open file (not on
// the process, so every line of a gang would lock on its own as well).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/record_file.h"

namespace cli {
namespace {

std::string reason() { return std::strerror(errno); }

bool lock(int fd, short type) {
    struct flock whole {};
    whole.l_type = type;
    whole.l_whence = SEEK_SET;
    int rc;
    while ((rc = ::fcntl(fd, F_OFD_SETLKW, &whole)) != 0 && errno == EINTR) {
    }
    return rc == 0;
}

}  // namespace

std::string append_under_lock(const std::string& path, const std::string& header,
                              const std::string& row) {
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return reason();
    std::string error;
    struct stat before {};
    if (!lock(fd, F_WRLCK)) {
        error = "cannot lock it: " + reason();
    } else if (::fstat(fd, &before) != 0) {
        error = reason();
    } else {
        char last = '\n';
        if (before.st_size > 0 && ::pread(fd, &last, 1, before.st_size - 1) != 1) last = '\n';
        const std::string text = text_to_append(header, row, before.st_size, last);
        ssize_t written;
        while ((written = ::write(fd, text.data(), text.size())) < 0 && errno == EINTR) {
        }
        if (written != static_cast<ssize_t>(text.size())) {
            error = written < 0 ? reason() : "only part of the row fit";
            // A part of a row would spoil the file for every reader.
            if (written > 0 && ::ftruncate(fd, before.st_size) != 0) {
                error += "; the part written could not be taken out: " + reason();
            }
        }
    }
    // Closing ends the lock; on a network folder it is also where a failed
    // write shows.
    if (::close(fd) != 0 && error.empty()) error = reason();
    return error;
}

std::optional<std::string> read_under_lock(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !lock(fd, F_RDLCK)) {
        error = reason();
        if (fd >= 0) ::close(fd);
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = reason();
            ::close(fd);
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

std::string host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::tm local_fields(std::time_t t) {
    std::tm fields{};
    ::localtime_r(&t, &fields);
    return fields;
}

}  // namespace cli
