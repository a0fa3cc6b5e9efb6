#include "common/file_read.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

std::optional<std::string> read_file_up_to(const std::string& path, std::uintmax_t limit) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    const std::uintmax_t most = limit + 1;
    std::string bytes;
    std::error_code unknown;
    const std::uintmax_t size = std::filesystem::file_size(path, unknown);
    if (!unknown) bytes.reserve(static_cast<std::size_t>(std::min(size, most)));
    char buffer[65536];
    while (bytes.size() < most) {
        const std::uintmax_t want = std::min<std::uintmax_t>(sizeof buffer, most - bytes.size());
        file.read(buffer, static_cast<std::streamsize>(want));
        if (file.gcount() <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(file.gcount()));
    }
    return bytes;
}
