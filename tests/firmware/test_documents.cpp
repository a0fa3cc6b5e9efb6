#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "firmware/documents.h"
#include "support/recorder.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

class Documents : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("kfu_documents_" + std::to_string(::getpid()) + "_" + info->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    fs::path dir_;
};

std::unique_ptr<FirmwareImage> NewImage() {
    auto image = std::make_unique<FirmwareImage>();
    image->bytes.fill(0);
    return image;
}

}  // namespace

TEST(DocumentKind, LastFourCharactersUpperCased) {
    EXPECT_EQ(KindOfFile("/tmp/motor.hex"), DocumentKind::Hex);
    EXPECT_EQ(KindOfFile("MOTOR.HeX"), DocumentKind::Hex);
    EXPECT_EQ(KindOfFile("a.prg"), DocumentKind::Prg);
    EXPECT_EQ(KindOfFile(".CFG"), DocumentKind::Cfg);
    EXPECT_EQ(KindOfFile("cfg"), DocumentKind::None);
    EXPECT_EQ(KindOfFile(""), DocumentKind::None);
    EXPECT_EQ(KindOfFile("notes.txt"), DocumentKind::None);
    EXPECT_EQ(KindOfFile("motor.hex.bak"), DocumentKind::None);
    EXPECT_EQ(KindOfFile("motorhex"), DocumentKind::None);
}

TEST_F(Documents, LinesSplitAtEveryKindOfLineEnd) {
    EXPECT_EQ(*ReadTextLines(Write("mixed.txt", "a\r\nb\nc\rd")), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(*ReadTextLines(Write("crlf.txt", "a\r\nb\r\n")), (Lines{"a", "b"}));
    EXPECT_EQ(*ReadTextLines(Write("blank.txt", "a\n\n b\t \n")), (Lines{"a", "", " b\t "}));
    EXPECT_EQ(*ReadTextLines(Write("lfcr.txt", "a\n\rb")), (Lines{"a", "", "b"}));
    EXPECT_EQ(*ReadTextLines(Write("only.txt", "\n")), (Lines{""}));
    EXPECT_TRUE(ReadTextLines(Write("empty.txt", ""))->empty());
    EXPECT_FALSE(ReadTextLines((dir_ / "missing.txt").string()).has_value());
}

TEST_F(Documents, PrgWordsWithTheirOffsets) {
    EXPECT_EQ(*ReadPrgFile(Write("a.prg", "\x34\x12\x78\x56")), (Lines{"(J4660", "(J153208"}));
    // The odd last byte has no partner and gives no line.
    EXPECT_EQ(*ReadPrgFile(Write("odd.prg", "\x34\x12\x78")), (Lines{"(J4660"}));
    EXPECT_TRUE(ReadPrgFile(Write("empty.prg", ""))->empty());
    EXPECT_FALSE(ReadPrgFile((dir_ / "missing.prg").string()).has_value());

    // Offsets keep their low 16 bits; the number is unsigned.
    std::string big(65538, '\0');
    big[65534] = '\xFF';
    big[65535] = '\xFF';
    big[65536] = '\x01';
    big[65537] = '\x02';
    const Lines lines = *ReadPrgFile(Write("big.prg", big));
    ASSERT_EQ(lines.size(), 32769u);
    EXPECT_EQ(lines[1], "(J131072");
    EXPECT_EQ(lines[32767], "(J4294901759");  // 0xFFFEFFFF
    EXPECT_EQ(lines[32768], "(J513");
}

TEST_F(Documents, FilesAboveTheLimitAreRefusedWithALine) {
    // Sparse: the size is there without the bytes.
    const std::string big = Write("big.hex", "");
    fs::resize_file(big, kMaxDocumentBytes + 1);
    std::string refusal;
    EXPECT_FALSE(ReadTextLines(big, &refusal).has_value());
    EXPECT_EQ(refusal, "Error: " + big + " is too large to open (more than 64 MiB)");
    refusal.clear();
    EXPECT_FALSE(ReadPrgFile(big, &refusal).has_value());
    EXPECT_FALSE(refusal.empty());

    // (Devices without a size: test_documents_posix.cpp.)

    // Within the limit nothing is said; a missing file stays silent.
    refusal.clear();
    EXPECT_EQ(*ReadTextLines(Write("small.cfg", "a\n"), &refusal), Lines{"a"});
    EXPECT_FALSE(ReadTextLines((dir_ / "missing.cfg").string(), &refusal).has_value());
    EXPECT_EQ(refusal, "");
}

TEST_F(Documents, SavedScriptReadsBackAndReplacesTheOldFile) {
    const std::string path = Write("script.cfg", "an old and much longer script\nline 2\nline 3\n");
    const Lines script{"#motor 1", "\tA=100", "", "#}"};
    EXPECT_EQ(SaveScript(path, script), "");
    EXPECT_EQ(*ReadTextLines(path), script);
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(bytes, "#motor 1\n\tA=100\n\n#}\n");

    EXPECT_EQ(SaveScript(path, {}), "");
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(Documents, FailedSaveIsReported) {
    const std::string nowhere = (dir_ / "no such folder" / "script.cfg").string();
    const std::string error = SaveScript(nowhere, {"A=1"});
    EXPECT_EQ(error.rfind("Error: could not save " + nowhere, 0), 0u) << error;

    EXPECT_NE(SaveScript(dir_.string(), {"A=1"}), "");
    if (fs::exists("/dev/full")) {
        // The device takes the open but no data: the failure shows at flush.
        const std::string full = SaveScript("/dev/full", {"A=1"});
        EXPECT_NE(full.find("completely"), std::string::npos) << full;
    }
}

TEST(HexLoad, CleanFileWithTrailingBlankLineGivesNoWarning) {
    auto image = NewImage();
    const Lines lines{":020000040000FA", ":040000001122334452", ":00000001FF", ""};
    const HexLoadReport report = LoadHexDocument(*image, lines);
    EXPECT_EQ(report.lines_parsed, 4u);
    EXPECT_TRUE(HexLoadWarnings(report).empty());
    EXPECT_EQ(image->bytes[0], 0x11);
    EXPECT_EQ(image->bytes[4], 0xFF);  // the image was filled first
}

TEST(HexLoad, UnreadableLinesCountedWithTheFirstLineNumber) {
    auto image = NewImage();
    const Lines lines{
        ":020000040000FA",
        "",
        ":040000001122334453",  // line 3: wrong checksum, data kept
        "garbage that is not a record",
        ":1000000001020304",  // truncated
        ":00000007F9",        // no such record type
        ":020000040001F8",    // wrong checksum
        ":00000001FF",
    };
    Recorder recorder;
    const HexLoadReport report = LoadHexDocument(*image, lines);
    ReportHexLoad(report, recorder);
    EXPECT_EQ(report.unreadable, 5u);
    EXPECT_EQ(report.first_unreadable, 3u);
    EXPECT_EQ(recorder.lines,
              (Lines{"Warning: 5 lines of the HEX file could not be read (first: line 3)"}));
    EXPECT_EQ(image->bytes[0], 0x11);
}

TEST(HexLoad, DataPastTheImageWarnsButConfigurationRecordsDoNot) {
    auto image = NewImage();
    const Lines config{":020000040000FA", ":0200000401F009", ":04000000aaaaaaaa54", ":00000001FF"};
    EXPECT_TRUE(HexLoadWarnings(LoadHexDocument(*image, config)).empty());

    const Lines beyond{":020000040000FA", ":020000040004F6",     ":040000001122334452",
                       ":020000040003F7", ":04FFFD001122334456", ":00000001FF"};
    const HexLoadReport report = LoadHexDocument(*image, beyond);
    EXPECT_EQ(report.dropped, 2u);
    EXPECT_EQ(report.first_dropped, 3u);
    EXPECT_EQ(HexLoadWarnings(report),
              (Lines{"Warning: 2 data records lie beyond 0x40000 and will not be written "
                     "(first: line 3)"}));
}

TEST(HexLoad, OnlySegmentRecordsThatMoveDataAreWarnedAbout) {
    auto image = NewImage();
    const Lines harmless{":020000020000FC", ":0400000300001000E9", ":0400000500001000E7",
                         ":00000001FF"};
    EXPECT_TRUE(HexLoadWarnings(LoadHexDocument(*image, harmless)).empty());

    const Lines segment{":020000021000EC", ":040000001122334452", ":020000021000EC"};
    const HexLoadReport report = LoadHexDocument(*image, segment);
    EXPECT_EQ(report.segment_records, 2u);
    EXPECT_EQ(report.first_segment_record, 1u);
    EXPECT_EQ(HexLoadWarnings(report),
              (Lines{"Warning: segment address records are not applied, data may be placed "
                     "wrongly (2 records, first: line 1)"}));
}

TEST(HexLoad, OpeningCapsTheLinesTheReloadDoesNot) {
    auto image = NewImage();
    Lines lines(kMaxHexLines, "");
    lines.push_back(":040000001122334452");

    HexLoadReport capped = LoadHexDocument(*image, lines);
    EXPECT_EQ(capped.lines_parsed, kMaxHexLines);
    EXPECT_EQ(capped.lines_not_parsed, 1u);
    EXPECT_EQ(image->bytes[0], 0xFF);
    EXPECT_EQ(HexLoadWarnings(capped),
              (Lines{"Warning: only the first 262144 lines of the HEX file were read "
                     "(1 line left out)"}));

    const HexLoadReport all = LoadHexDocument(*image, lines, HexLines::All);
    EXPECT_EQ(all.lines_parsed, kMaxHexLines + 1);
    EXPECT_EQ(image->bytes[0], 0x11);
    EXPECT_TRUE(HexLoadWarnings(all).empty());
}
