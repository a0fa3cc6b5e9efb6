#pragma once
// SHA-256 (FIPS 180-4), for the fingerprint of a file in the production
// record: which firmware went into which controller.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class Sha256 {
public:
    Sha256();
    void add(const void* data, std::size_t size);
    // The digest as 64 lower-case hex digits; the object is used up.
    std::string hex();

private:
    void block(const std::uint8_t* p);

    std::array<std::uint32_t, 8> h_;
    std::uint8_t pending_[64];
    std::size_t pending_size_ = 0;
    std::uint64_t total_ = 0;
};

// The digest of the file's bytes; no value when it cannot be read.
std::optional<std::string> sha256_of_file(const std::string& path);
