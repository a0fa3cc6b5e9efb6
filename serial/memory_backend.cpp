#include "serial/memory_backend.h"

#include <algorithm>

bool MemoryBackend::open_device(const std::string& device, int&) {
    device_ = device;
    open_ = true;
    ++opens;
    return true;
}

bool MemoryBackend::apply_state(std::uint32_t baud) {
    baud_ = baud;
    return open_;
}

void MemoryBackend::restore_and_close() { close_device(); }

void MemoryBackend::close_device() {
    if (open_) ++closes;
    open_ = false;
    rts = false;
}

long MemoryBackend::read_bytes(std::uint8_t* buffer, std::size_t n, int) {
    if (!open_) return -1;
    const std::size_t count = std::min(n, input.size());
    std::copy_n(input.begin(), count, buffer);
    input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(count));
    bytes_read += count;
    return static_cast<long>(count);
}

long MemoryBackend::write_bytes(const std::uint8_t* data, std::size_t n, int) {
    if (!open_) return -1;
    written.insert(written.end(), data, data + n);
    if (on_write) on_write(data, n);
    return static_cast<long>(n);
}

bool MemoryBackend::drain_output(int) { return open_; }
