// Real compiler output for 16-bit PIC parts, checked against reference images
// made by an independent tool. The files stay in the shared folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "firmware/documents.h"
#include "support/shared_data.h"

namespace fs = std::filesystem;

namespace {

const fs::path kHexDir = fs::path(KFU_SHARED_DIR) / "testdata" / "hex";

struct Expected {
    const char* name;
    std::size_t lines;
    std::size_t dropped;  // program data past the image, not configuration records
    std::size_t first_dropped;
};

// Line counts and records past the image as listed with the files.
const Expected kFiles[] = {
    {"dspic33fj128mc802_blink_small", 417, 0, 0},
    {"dspic33ep32mc202_microarrays_crlf", 347, 0, 0},
    {"pic24fj128ga010_fileio_crlf", 762, 0, 0},
    {"dspic30f4013_tictoc_c30_crlf", 1329, 0, 0},
    {"dspic33ep512gm310_ps040_large", 5023, 6, 5007},
    {"dspic33fj256gp506_audiofx_c30_large", 5813, 0, 0},
};

std::string ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(RealHexFiles, ImagesMatchTheReferenceAndOnlyLostProgramDataIsWarnedAbout) {
    KFU_REQUIRE_SHARED_DATA(fs::is_directory(kHexDir), kHexDir);
    auto image = std::make_unique<FirmwareImage>();
    for (const Expected& expected : kFiles) {
        SCOPED_TRACE(expected.name);
        const fs::path hex = kHexDir / (std::string(expected.name) + ".hex");
        const fs::path img = kHexDir / (std::string(expected.name) + ".img");
        const auto lines = ReadTextLines(hex.string());
        ASSERT_TRUE(lines.has_value());
        EXPECT_EQ(lines->size(), expected.lines);

        // Each file must stand alone, whatever upper address the last one left.
        image->upper_address = 0;
        const HexLoadReport report = LoadHexDocument(*image, *lines, HexLines::All);
        const std::string reference = ReadBytes(img);
        ASSERT_EQ(reference.size(), kImageSize);
        std::size_t differing = 0;
        std::size_t first_difference = 0;
        for (std::size_t i = 0; i < kImageSize; ++i) {
            if (image->bytes[i] != static_cast<std::uint8_t>(reference[i]) && differing++ == 0) {
                first_difference = i;
            }
        }
        EXPECT_EQ(differing, 0u) << "first at 0x" << std::hex << first_difference;

        EXPECT_EQ(report.unreadable, 0u);
        EXPECT_EQ(report.segment_records, 0u);
        EXPECT_EQ(report.dropped, expected.dropped);
        EXPECT_EQ(report.first_dropped, expected.first_dropped);
        EXPECT_EQ(HexLoadWarnings(report).size(), expected.dropped > 0 ? 1u : 0u);
    }
}
