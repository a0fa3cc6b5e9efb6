// Documents read from a device rather than a file. Kept apart because the
// endless device it reads is a POSIX one.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "firmware/documents.h"

namespace fs = std::filesystem;

TEST(DocumentsFromDevices, ReadStopsPastTheLimit) {
    // A device has no size to look at; the read itself stops past the limit.
    const fs::path dir =
        fs::temp_directory_path() / ("kfu_documents_dev_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path device = dir / "x.hex";
    fs::create_symlink("/dev/zero", device);
    std::string refusal;
    EXPECT_FALSE(ReadTextLines(device.string(), &refusal).has_value());
    EXPECT_FALSE(refusal.empty());
    fs::remove_all(dir);
}
