#pragma once
// A file that lives in memory but has a path, so that the real loaders
// (which open files by name) can be fed without touching the disk.

#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <string_view>

class MemFile {
public:
    explicit MemFile(const char* name) : fd_(memfd_create(name, 0)) {
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // Replaces the whole content.
    bool set(std::string_view bytes) {
        if (ftruncate(fd_, 0) != 0) return false;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int fd_;
    std::string path_;
};
