#pragma once
// The file under a wire trace: each piece it is given goes to the operating
// system in one write, nothing held back in a buffer of ours, so a program
// killed at any moment leaves every piece written before it intact. One
// implementation per platform (trace_file_posix.cpp, trace_file_win32.cpp).

#include <cstddef>
#include <cstdint>
#include <string>

class TraceFile {
public:
    TraceFile() = default;
    ~TraceFile() { close(); }
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;
    TraceFile(TraceFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
    TraceFile& operator=(TraceFile&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            other.handle_ = kNone;
        }
        return *this;
    }

    // Creates `path`, or empties it when it exists. False, with the system's
    // words in `error`, when it cannot.
    bool create(const std::string& path, std::string& error);
    // Appends all `size` bytes. False, with the reason in `error`, when the
    // system takes fewer.
    bool append(const char* data, std::size_t size, std::string& error);
    void close();
    bool is_open() const { return handle_ != kNone; }

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;  // a descriptor, or a Windows HANDLE
};
