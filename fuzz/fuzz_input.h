#pragma once
// Helpers shared by the fuzz targets: taking structured choices out of the
// raw fuzz input, and the check that turns a broken property into a crash
// the fuzzer records (and the replay test reports).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Aborts with a readable reason. Used instead of assert so that the checks
// stay on in optimised builds, where the replay test runs them.
[[noreturn]] inline void fuzz_fail(const char* file, int line, const char* condition,
                                   const std::string& detail) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n  %s\n", file, line, condition,
                 detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                          \
    do {                                                                       \
        if (!(condition)) fuzz_fail(__FILE__, __LINE__, #condition, (detail)); \
    } while (0)

// Bytes shown with C escapes, so that a failure message stays one line.
inline std::string escaped(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

// Lines one after another, each in brackets and with C escapes.
inline std::string bracketed(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) out += "[" + escaped(line) + "]";
    return out;
}

// Reads the input front to back. Once it is used up every read gives zeros
// (and empty texts), so a target never needs to look before it reads.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::size_t remaining() const { return empty() ? 0 : size_ - at_; }

    std::uint8_t byte() { return empty() ? 0 : data_[at_++]; }
    bool flag() { return (byte() & 1) != 0; }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
        return v;
    }
    // A value in lo ... hi (both included).
    int in_range(int lo, int hi) {
        const std::uint32_t span = static_cast<std::uint32_t>(hi - lo) + 1;
        return lo + static_cast<int>(u32() % span);
    }
    int small(int hi) { return static_cast<int>(byte() % (hi + 1)); }

    // A text of up to `max` bytes: a length byte, then that many bytes.
    std::string text(std::size_t max = 255) {
        std::size_t n = byte();
        if (n > max) n = max;
        return take(n);
    }
    // A text of up to `max` bytes behind a two-byte length.
    std::string long_text(std::size_t max) {
        std::size_t n = (static_cast<std::size_t>(byte()) << 8) | byte();
        if (n > max) n = max;
        return take(n);
    }
    std::string rest() { return take(remaining()); }

private:
    std::string take(std::size_t n) {
        if (n > remaining()) n = remaining();
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return s;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A file of this process for a target that must write real files (saved
// scripts, logs, dumps): in memory when the machine has /dev/shm, as a disk
// file system would turn every rewrite into a flush. Removed at exit.
class FuzzTempFile {
public:
    explicit FuzzTempFile(const std::string& what) {
        const std::filesystem::path shm = "/dev/shm";
        const std::filesystem::path dir =
            std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
        path = (dir / ("kfu-fuzz-" + std::to_string(::getpid()) + "-" + what)).string();
    }
    ~FuzzTempFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    FuzzTempFile(const FuzzTempFile&) = delete;
    FuzzTempFile& operator=(const FuzzTempFile&) = delete;

    std::string path;
};
