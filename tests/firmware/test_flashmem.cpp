#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "firmware/flashmem.h"

namespace {

std::unique_ptr<FirmwareImage> ErasedImage() {
    auto image = std::make_unique<FirmwareImage>();
    FillImage(*image);
    return image;
}

bool AllErased(const FirmwareImage& image) {
    for (std::uint8_t b : image.bytes) {
        if (b != 0xFF) return false;
    }
    return true;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& v, std::size_t from,
                                std::size_t count) {
    return std::vector<std::uint8_t>(v.begin() + from, v.begin() + from + count);
}

}  // namespace

TEST(HexToInt, DigitsOfEitherCaseAndOtherCharactersAsZero) {
    EXPECT_EQ(HexToInt(""), 0u);
    EXPECT_EQ(HexToInt("fA"), 0xFAu);
    EXPECT_EQ(HexToInt("1F00"), 0x1F00u);
    EXPECT_EQ(HexToInt("G1"), 0x01u);
    EXPECT_EQ(HexToInt("1 "), 0x10u);
}

TEST(ParseHexLine, ShapeErrorsLeaveTheImageAlone) {
    auto image = ErasedImage();
    EXPECT_EQ(ParseHexLine(*image, ":00000001F"), kHexTooShort);
    EXPECT_EQ(ParseHexLine(*image, ""), kHexTooShort);
    EXPECT_EQ(ParseHexLine(*image, " :00000001FF"), kHexNoColon);
    // The count promises 16 bytes; the line holds 4.
    EXPECT_EQ(ParseHexLine(*image, ":100000000102030405"), kHexTruncated);
    EXPECT_EQ(ParseHexLine(*image, ":00000001FF"), kHexUnsupportedType);
    EXPECT_EQ(ParseHexLine(*image, ":020000021000EC"), kHexUnsupportedType);
    EXPECT_TRUE(AllErased(*image));
    EXPECT_EQ(image->upper_address, 0u);
}

TEST(ParseHexLine, DataRecordStoredAndCheckedEvenWhenTheChecksumIsWrong) {
    auto image = ErasedImage();
    const char* good = ":10000000000102030405060708090a0b0c0d0e0f78";
    EXPECT_EQ(ParseHexLine(*image, good), kHexOk);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(image->bytes[i], i);
    EXPECT_EQ(image->bytes[16], 0xFF);

    FillImage(*image);
    EXPECT_EQ(ParseHexLine(*image, ":10000000000102030405060708090a0b0c0d0e0f79"),
              kHexDataChecksum);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(image->bytes[i], i);

    // Text after the checksum does not count.
    EXPECT_EQ(ParseHexLine(*image, std::string(good) + "junk"), kHexOk);
}

TEST(ParseHexLine, UpperAddressRecords) {
    auto image = ErasedImage();
    EXPECT_EQ(ParseHexLine(*image, ":020000040000FA"), kHexOk);
    EXPECT_EQ(image->upper_address, 0u);
    EXPECT_EQ(ParseHexLine(*image, ":020000040001f9"), kHexOk);
    EXPECT_EQ(image->upper_address, 0x10000u);
    // Wrong checksum: the upper address stays.
    EXPECT_EQ(ParseHexLine(*image, ":020000040002F9"), kHexUpperChecksum);
    EXPECT_EQ(image->upper_address, 0x10000u);
    // A count of 0 does not stop the value being read from its positions.
    EXPECT_EQ(ParseHexLine(*image, ":00000004000AF2"), kHexOk);
    EXPECT_EQ(image->upper_address, 0xA0000u);
    // Too short to hold value and checksum: read as far as it goes, no crash.
    EXPECT_EQ(ParseHexLine(*image, ":0000000400"), kHexUpperChecksum);
    EXPECT_EQ(image->upper_address, 0xA0000u);
    EXPECT_TRUE(AllErased(*image));
}

TEST(ParseHexLine, ImageEndIsInclusiveAndNothingPastItIsStored) {
    auto image = ErasedImage();
    ASSERT_EQ(ParseHexLine(*image, ":020000040003F7"), kHexOk);
    EXPECT_EQ(ParseHexLine(*image, ":04FFFD001122334456"), kHexBeyondImage);
    EXPECT_TRUE(AllErased(*image));
    EXPECT_EQ(ParseHexLine(*image, ":04FFFC001122334457"), kHexOk);
    EXPECT_EQ(Bytes({image->bytes[0x3FFFC], image->bytes[0x3FFFD], image->bytes[0x3FFFE],
                     image->bytes[0x3FFFF]}),
              Bytes({0x11, 0x22, 0x33, 0x44}));

    // An upper address near 4 GiB must not wrap round into the image.
    ASSERT_EQ(ParseHexLine(*image, ":02000004FFFFFC"), kHexOk);
    FillImage(*image);
    EXPECT_EQ(ParseHexLine(*image, ":04FFFF001122334454"), kHexBeyondImage);
    EXPECT_EQ(ParseHexLine(*image, ":040000001122334452"), kHexBeyondImage);
    EXPECT_TRUE(AllErased(*image));
}

TEST(ParseHexLine, RecordCrossingA64KiBBoundaryIsNotWrapped) {
    auto image = ErasedImage();
    ASSERT_EQ(ParseHexLine(*image, ":10fff8000a0037008880fb00a08180000118780083"), kHexOk);
    EXPECT_EQ(image->bytes[0xFFF8], 0x0A);
    EXPECT_EQ(image->bytes[0x10000], 0xA0);
    EXPECT_EQ(image->bytes[0x10007], 0x00);
    EXPECT_EQ(image->bytes[0x0000], 0xFF);
}

TEST(ParseHexLine, LaterFileLandsRelativeToTheLastUpperAddress) {
    auto image = ErasedImage();
    ASSERT_EQ(ParseHexLine(*image, ":020000040001F9"), kHexOk);
    FillImage(*image);  // a new load keeps the upper address
    EXPECT_EQ(ParseHexLine(*image, ":040000001122334452"), kHexOk);
    EXPECT_EQ(image->bytes[0x10000], 0x11);
    EXPECT_EQ(image->bytes[0x00000], 0xFF);
}

TEST(BlankBlocks, OnlyTheThreeDataBytesOfEachWordCount) {
    auto image = ErasedImage();
    const std::uint32_t a = 0x100;  // 96-byte block: bytes 0x100 ... 0x17F
    const std::uint32_t w = 0x400;  // 1536-byte block: bytes 0x800 ... 0xFFF
    image->bytes[a + 3] = 0x00;     // padding bytes
    image->bytes[a + 127] = 0x00;
    image->bytes[2 * w + 2047] = 0x00;
    image->bytes[a + 128] = 0x00;  // first byte after each block
    image->bytes[2 * w + 2048] = 0x00;
    EXPECT_TRUE(IsBlankBlock96(*image, a));
    EXPECT_TRUE(IsBlankBlock1536(*image, w));

    image->bytes[a + 126] = 0x7F;  // high byte of the last word
    image->bytes[2 * w + 2046] = 0x7F;
    EXPECT_FALSE(IsBlankBlock96(*image, a));
    EXPECT_FALSE(IsBlankBlock1536(*image, w));
    EXPECT_TRUE(IsBlankBlock96(*image, a + 128 + 4));
}

TEST(BlankBlocks, BlockRunningOffTheImageReadsAsErased) {
    auto image = ErasedImage();
    EXPECT_TRUE(IsBlankBlock96(*image, kImageSize - 64));
    EXPECT_TRUE(IsBlankBlock1536(*image, kImageSize / 2 - 256));
    image->bytes[kImageSize - 4] = 0x01;
    EXPECT_FALSE(IsBlankBlock96(*image, kImageSize - 64));
}

TEST(Frames, ReadBlockGivesHighMiddleLowAndSkipsPadding) {
    auto image = ErasedImage();
    const std::uint8_t words[] = {0x11, 0x22, 0x33, 0x00, 0x44, 0x55, 0x66, 0x00};
    std::copy(std::begin(words), std::end(words), image->bytes.begin());
    std::uint8_t out[6] = {};
    ReadBlockBootloaderOrder(*image, 0, 2, out);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 6), Bytes({0x33, 0x22, 0x11, 0x66, 0x55, 0x44}));
}

TEST(Frames, MotorNumberDigitsAndFrameLengths) {
    auto image = ErasedImage();
    std::vector<std::uint8_t> out;
    EXPECT_EQ(BuildDataFrame1536(*image, 7, 0, out), 1544u);
    EXPECT_EQ(Slice(out, 0, 4), Bytes({'#', '7', '@', ':'}));
    EXPECT_EQ(BuildDataFrame1536(*image, 42, 0, out), 1545u);
    EXPECT_EQ(Slice(out, 0, 5), Bytes({'#', '4', '2', '@', ':'}));
    EXPECT_EQ(BuildDataFrame1536(*image, 123, 0, out), 1546u);
    EXPECT_EQ(Slice(out, 0, 6), Bytes({'#', '1', '2', '3', '@', ':'}));
    EXPECT_EQ(out.size(), kMaxFrameSize);
    EXPECT_EQ(BuildDataFrame1536(*image, 100, 0, out), 1546u);
    EXPECT_EQ(Slice(out, 0, 4), Bytes({'#', '1', '0', '0'}));
    EXPECT_EQ(BuildDataFrame96(*image, 0, 0, out), 103u);
    EXPECT_EQ(Slice(out, 0, 4), Bytes({'#', '0', '@', ':'}));

    // Numbers that do not fit the field give no frame at all.
    for (int motor : {-1, 1000}) {
        EXPECT_EQ(BuildDataFrame1536(*image, motor, 0, out), 0u);
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(BuildDataFrame96(*image, motor, 0, out), 0u);
        EXPECT_EQ(BuildClearFrame(FrameMode::Binary1536, motor, 0, out), 0u);
        EXPECT_TRUE(out.empty());
    }
}

TEST(Frames, DataFrame1536BytesAndChecksum) {
    auto image = ErasedImage();
    image->bytes[0x800] = 0x11;
    image->bytes[0x801] = 0x22;
    image->bytes[0x802] = 0x33;
    image->bytes[0x803] = 0x44;  // padding, not sent
    std::vector<std::uint8_t> out;
    ASSERT_EQ(BuildDataFrame1536(*image, 7, 0x400, out), 1544u);
    EXPECT_EQ(Slice(out, 4, 3), Bytes({0x00, 0x04, 0x00}));
    EXPECT_EQ(Slice(out, 7, 4), Bytes({0x33, 0x22, 0x11, 0xFF}));
    // 4 + 1533 * 0xFF + 0x66, hand-computed.
    EXPECT_EQ(out.back(), 0x93);
}

TEST(Frames, DataFrame96BytesAndChecksum) {
    auto image = ErasedImage();
    image->bytes[0x100] = 0x01;
    image->bytes[0x101] = 0x02;
    image->bytes[0x102] = 0x03;
    image->bytes[0x103] = 0x55;
    std::vector<std::uint8_t> out;
    ASSERT_EQ(BuildDataFrame96(*image, 5, 0x100, out), 103u);
    EXPECT_EQ(Slice(out, 4, 5), Bytes({0x00, 0x80, 0x03, 0x02, 0x01}));
    EXPECT_EQ(out[6 + 95], 0xFF);
    // 0x80 + 93 * 0xFF + 6, hand-computed.
    EXPECT_EQ(out.back(), 0xD7);
}

TEST(Frames, ClearFrames) {
    std::vector<std::uint8_t> out;
    EXPECT_EQ(BuildClearFrame(FrameMode::Binary1536, 42, 0x15400, out), 9u);
    EXPECT_EQ(out, Bytes({'#', '4', '2', '@', 'C', 0x01, 0x54, 0x00, 0xAB}));
    EXPECT_EQ(BuildClearFrame(FrameMode::Binary96, 7, 0xFF00, out), 7u);
    EXPECT_EQ(out, Bytes({'#', '7', '@', 'C', 0x7F, 0x80, 0x01}));
    // A zero sum gives checksum 0, not 256 cut to a byte by accident.
    EXPECT_EQ(BuildClearFrame(FrameMode::Binary96, 1, 0, out), 7u);
    EXPECT_EQ(out.back(), 0x00);
}
