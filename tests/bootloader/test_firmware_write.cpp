#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "sim_line_test.h"
#include "support/shared_data.h"

namespace {

constexpr std::uint32_t kReadTimeout = 20;
constexpr std::uint32_t kEnd1536 = 0x2B000;  // image bytes the 1536-byte mode covers
constexpr std::uint32_t kEnd96 = 0xFF80;

class WriteTest : public SimLineTest {
protected:
    void Start(SimConfig config) {
        config.start_in_bootloader = true;
        OpenLine(std::move(config), kReadTimeout);
        FillImage(image);
    }
    void Start(const std::string& version, int motor_id = 1) {
        SimConfig config;
        config.bootloader_version = version;
        config.motor_ids = {motor_id};
        window.motor = std::to_string(motor_id);
        Start(std::move(config));
    }
    void OpenImage(const FirmwareImage& wanted) { OpenImageFile("firmware.hex", wanted); }
    bool Write() { return WriteFirmware(*port, image, rec, window); }

    std::vector<std::size_t> WriteSizes() const {
        std::vector<std::size_t> sizes;
        for (const auto& w : log->writes) sizes.push_back(w.size());
        return sizes;
    }
    bool HasLine(const std::string& line) const {
        return std::find(rec.lines.begin(), rec.lines.end(), line) != rec.lines.end();
    }
};

FirmwareImage Blank() {
    FirmwareImage image;
    FillImage(image);
    return image;
}

TEST_F(WriteTest, Mode1536SendsDataBlocksAndClearsBlankOnes) {
    Start("02");
    FirmwareImage wanted = Blank();
    Program(wanted, 0, 0x800);          // block 0, full
    Program(wanted, 0x4100, 0x4104);    // one word of block 8
    Program(wanted, 0x2A800, 0x2B000);  // the last block
    Program(wanted, 0x2B000, 0x2B100);  // beyond the mode's range
    OpenImage(wanted);

    EXPECT_TRUE(Write());

    const std::vector<SimFrame> frames = sim->frames();
    ASSERT_EQ(frames.size(), 86u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const bool data = i == 0 || i == 8 || i == 85;
        EXPECT_EQ(frames[i].kind, data ? SimFrame::Data1536 : SimFrame::Clear1536) << i;
        EXPECT_EQ(frames[i].address, i * 1024) << i;
        EXPECT_EQ(frames[i].length, data ? 1544u : 8u) << i;
        EXPECT_TRUE(frames[i].checksum_ok) << i;
    }
    const std::vector<std::uint8_t> flash = sim->flash();
    EXPECT_EQ(FirstDifference(flash, wanted.bytes.data(), 0, kEnd1536), -1);
    EXPECT_EQ(flash[0x2B000], 0xFF);

    // Without USB compatibility a data frame goes out in one write.
    const auto sizes = WriteSizes();
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 1544u), 3);

    EXPECT_EQ(rec.max, 0x15800);
    ASSERT_EQ(rec.positions.size(), 87u);
    EXPECT_EQ(rec.positions[1], 0);
    EXPECT_EQ(rec.positions.back(), 0x15400);
    EXPECT_EQ(rec.repaints, 86);
    EXPECT_EQ(rec.events, 86);
    // The words above the mode's range are the bootloader's own: said, but no
    // failure.
    EXPECT_EQ(rec.lines, (std::vector<std::string>{
                             "Writing in 1536 Byte binary mode !",
                             "Warning: 64 words at 0x2B000 ... 0x2B0FF not written (the 1536 Byte "
                             "binary mode writes 0x00000 ... 0x2AFFF)",
                             "Firmware successfully written"}));
    // The drains leave the port its own read time-out.
    EXPECT_EQ(port->get_timeout(), kReadTimeout);
}

class MotorDigits : public WriteTest, public ::testing::WithParamInterface<int> {};

TEST_P(MotorDigits, FrameCarriesTheNumberAndUsbSplitsIt) {
    const int motor = GetParam();
    Start("03", motor);
    window.usb = true;
    FirmwareImage wanted = Blank();
    Program(wanted, 0x800, 0x1000);  // block 1
    OpenImage(wanted);

    EXPECT_TRUE(Write());

    const std::vector<SimFrame> frames = sim->frames();
    ASSERT_EQ(frames.size(), 86u);
    const std::string digits = std::to_string(motor);
    const std::size_t length = 1543 + digits.size();
    EXPECT_EQ(frames[1].kind, SimFrame::Data1536);
    EXPECT_EQ(frames[1].length, length);

    // The data frame leaves as 512, 512, 512 and the rest; nothing is longer.
    const auto sizes = WriteSizes();
    EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), 512u);
    const std::string head = "#" + digits + "@:";
    auto piece = std::find_if(log->writes.begin(), log->writes.end(), [&](const auto& w) {
        return std::string(w.begin(), w.begin() + std::min(w.size(), head.size())) == head;
    });
    ASSERT_NE(piece, log->writes.end());
    ASSERT_LE(piece + 4, log->writes.end());
    EXPECT_EQ(piece[0].size(), 512u);
    EXPECT_EQ(piece[1].size(), 512u);
    EXPECT_EQ(piece[2].size(), 512u);
    EXPECT_EQ(piece[3].size(), length - 1536);

    EXPECT_EQ(FirstDifference(sim->flash(), wanted.bytes.data(), 0, kEnd1536), -1);
    EXPECT_EQ(rec.last(), "Firmware successfully written");
}

INSTANTIATE_TEST_SUITE_P(Motors, MotorDigits, ::testing::Values(7, 42, 123));

TEST_F(WriteTest, Mode1536AcceptsAcksBehindACarriageReturn) {
    SimConfig config;
    config.bootloader_version = "02";
    config.usb_cr_acks = true;
    Start(std::move(config));
    FirmwareImage wanted = Blank();
    Program(wanted, 0x1000, 0x1800);  // block 2
    OpenImage(wanted);

    EXPECT_TRUE(Write());

    EXPECT_EQ(std::count(rec.lines.begin(), rec.lines.end(), "USB1"), 85);
    EXPECT_EQ(std::count(rec.lines.begin(), rec.lines.end(), "USB2"), 1);
    const auto usb2 = std::find(rec.lines.begin(), rec.lines.end(), "USB2");
    EXPECT_EQ(std::count(rec.lines.begin(), usb2, "USB1"), 2);  // after blocks 0 and 1
    EXPECT_EQ(FirstDifference(sim->flash(), wanted.bytes.data(), 0, kEnd1536), -1);
    EXPECT_EQ(rec.last(), "Firmware successfully written");
}

TEST_F(WriteTest, Mode96SendsEveryBlockUpTo0xFF00) {
    Start("01");
    FirmwareImage wanted = Blank();
    Program(wanted, 0, 0x100);
    Program(wanted, 0x8040, 0x8044);
    Program(wanted, 0xFF00, 0xFF80);  // the last block sent
    OpenImage(wanted);

    EXPECT_TRUE(Write());

    const std::vector<SimFrame> frames = sim->frames();
    ASSERT_EQ(frames.size(), 511u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const bool data = i <= 1 || i == 0x100 || i == 510;
        EXPECT_EQ(frames[i].kind, data ? SimFrame::Data96 : SimFrame::Clear96) << i;
        EXPECT_EQ(frames[i].address, i * 64) << i;  // the byte address halved
        EXPECT_EQ(frames[i].length, data ? 103u : 7u) << i;
        EXPECT_TRUE(frames[i].checksum_ok) << i;
    }
    EXPECT_EQ(FirstDifference(sim->flash(), wanted.bytes.data(), 0, kEnd96), -1);
    EXPECT_EQ(rec.max, 0x10000);
    EXPECT_EQ(rec.positions.back(), 0xFF00);
    EXPECT_EQ(rec.events, 511);
    EXPECT_EQ(rec.lines.front(), "Writing in 96 Byte binary mode !");
    EXPECT_EQ(rec.last(), "Firmware successfully written");
}

// Both stretches the 96-byte mode never sends, its last block and all above
// 0x10000, follow the one rule of the 1536-byte mode.
TEST_F(WriteTest, Mode96WarnsAboutWhatItNeverSendsAndStillSucceeds) {
    Start("01");
    FirmwareImage wanted = Blank();
    Program(wanted, 0, 0x100);
    Program(wanted, 0xFFF0, 0xFFF4);
    Program(wanted, 0x12000, 0x12008);
    OpenImage(wanted);

    EXPECT_TRUE(Write());

    EXPECT_EQ(sim->frames().size(), 511u);
    EXPECT_EQ(sim->flash()[0xFFF0], 0xFF);
    EXPECT_EQ(rec.lines, (std::vector<std::string>{
                             "Writing in 96 Byte binary mode !",
                             "Warning: 3 words at 0x0FFF0 ... 0x12007 not written (the 96 Byte "
                             "binary mode writes 0x00000 ... 0x0FF7F)",
                             "Firmware successfully written"}));
}

// Opening another HEX file while the write lets events run refills the
// window's image; the controller must still get only the file the write
// started with, not the first blocks of one and the rest of another.
TEST_F(WriteTest, BinaryModesKeepToTheImageTheyStartedWith) {
    for (const char* version : {"02", "01"}) {
        SCOPED_TRACE(version);
        rec = Recorder();
        Start(version);
        FirmwareImage wanted = Blank();
        Program(wanted, 0, 0x100);
        Program(wanted, 0x4000, 0x4100);
        OpenImage(wanted);
        rec.on_events = [this] {
            if (rec.events != 2) return;
            FillImage(image);
            Program(image, 0x8000, 0x8100);
        };

        EXPECT_TRUE(Write());

        EXPECT_EQ(FirstDifference(sim->flash(), wanted.bytes.data(), 0, kEnd96), -1);
        EXPECT_EQ(rec.last(), "Firmware successfully written");
    }
}

TEST_F(WriteTest, AsciiModeSendsEveryLineOfTheView) {
    Start("4J", 42);
    FirmwareImage wanted = Blank();
    Program(wanted, 0x100, 0x140);
    Program(wanted, 0x12340, 0x12350);  // behind a type 04 record
    OpenImage(wanted);
    const std::size_t count = window.firmware.size();

    EXPECT_TRUE(Write());

    const std::vector<SimFrame> frames = sim->frames();
    ASSERT_EQ(frames.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(frames[i].kind, SimFrame::AsciiLine);
        EXPECT_EQ(frames[i].line, window.firmware[i]);
        EXPECT_EQ(frames[i].length, window.firmware[i].size() + 5);  // "#42@" ... CR
    }
    EXPECT_EQ(frames.back().line, ":00000001FF");
    EXPECT_EQ(FirstDifference(sim->flash(), wanted.bytes.data(), 0, kImageSize), -1);
    EXPECT_EQ(rec.max, static_cast<int>(count));
    ASSERT_EQ(rec.positions.size(), count + 2);
    EXPECT_EQ(rec.positions[count], static_cast<int>(count));
    EXPECT_EQ(rec.position, 0);
    EXPECT_EQ(rec.events, static_cast<int>(count));
    EXPECT_EQ(rec.last(), "Firmware successfully written");
}

TEST_F(WriteTest, RefusesMotorNumbersItCannotFrameBeforeSendingAnything) {
    Start("02");
    for (const char* text : {"*", "", "-1", "abc"}) {
        window.motor = text;
        EXPECT_FALSE(Write());
        EXPECT_EQ(rec.last(), "Error: you must select a motor ID !") << text;
    }
    for (const char* text : {"1000", "-2"}) {
        window.motor = text;
        EXPECT_FALSE(Write());
        EXPECT_EQ(rec.last(), "Error: motor ID " + std::string(text) +
                                  " can not be written to the bootloader (0 ... 999) !");
    }
    EXPECT_TRUE(log->writes.empty());
    EXPECT_EQ(rec.lines.size(), 6u);
}

TEST_F(WriteTest, VersionReplyDecidesWhetherToWrite) {
    Start("0");  // "BLV:0" CR: six bytes
    window.motor = "01";
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.last(), "Can not get Bootloader Version !");
    // The query carries the number as typed.
    ASSERT_FALSE(log->writes.empty());
    EXPECT_EQ(std::string(log->writes.back().begin(), log->writes.back().end()), "#01 \r");

    sim->set_version_code("07");
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.last(), "Unknown Bootloader Version !");
    EXPECT_TRUE(sim->frames().empty());
    EXPECT_TRUE(port->is_open());
    EXPECT_EQ(rec.lines.size(), 2u);
}

TEST_F(WriteTest, Mode1536StopsAtARefusedClearFrame) {
    Start("02");
    Program(image, 0x20000, 0x20004);
    sim->refuse_frame(3, 'n');
    EXPECT_FALSE(Write());
    EXPECT_EQ(sim->frames().size(), 4u);
    EXPECT_EQ(rec.last(), "Error during autoclear n");
    EXPECT_EQ(rec.positions.back(), 2048);
    EXPECT_TRUE(port->is_open());
}

TEST_F(WriteTest, Mode1536StopsAtARefusedDataFrame) {
    Start("02");
    Program(image, 0, kEnd1536);
    sim->refuse_frame(2, 'x');
    EXPECT_FALSE(Write());
    EXPECT_EQ(sim->frames().size(), 3u);
    ASSERT_GE(rec.lines.size(), 2u);
    EXPECT_EQ(rec.lines[rec.lines.size() - 2], "<-    >x< >2< >2048<");
    EXPECT_EQ(rec.last(), "Error during Write x\r");
    EXPECT_EQ(rec.positions.back(), 1024);
    EXPECT_FALSE(HasLine("Firmware successfully written"));
}

TEST_F(WriteTest, Mode1536StopsWhenTheControllerFallsSilent) {
    Start("02");
    Program(image, 0, kEnd1536);
    sim->silent_after_frames(2);
    EXPECT_FALSE(Write());
    ASSERT_GE(rec.lines.size(), 3u);
    EXPECT_EQ(rec.lines[rec.lines.size() - 3], "<-    >< >0< >2048<");
    EXPECT_EQ(rec.lines[rec.lines.size() - 2], "Error during Write ");
    EXPECT_EQ(rec.last(), "Error: no reply from the controller");
    EXPECT_FALSE(HasLine("Firmware successfully written"));

    // The same for a clear frame and for the 96-byte mode.
    rec = Recorder();
    Start("02");
    Program(image, 0x20000, 0x20004);
    sim->silent_after_frames(1);
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.lines[rec.lines.size() - 2], "Error during autoclear ");
    EXPECT_EQ(rec.last(), "Error: no reply from the controller");

    rec = Recorder();
    Start("01");
    Program(image, 0, 0x200);
    sim->silent_after_frames(1);
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.lines[rec.lines.size() - 2], "Error during Write ");
    EXPECT_EQ(rec.last(), "Error: no reply from the controller");
}

TEST_F(WriteTest, Mode96StopsAtRefusedFramesAndIgnoresUsbCarriageReturns) {
    // A refused clear frame.
    Start("01");
    Program(image, 0x8000, 0x8004);
    sim->refuse_frame(0, 'n');
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.last(), "Error during autoclear n");
    EXPECT_EQ(sim->frames().size(), 1u);

    // A refused data frame: the reply's first two bytes are shown.
    rec = Recorder();
    Start("01");
    Program(image, 0, 0x200);
    sim->refuse_frame(2, 'n');
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.last(), "Error during Write n\r");
    EXPECT_EQ(rec.positions.back(), 128);

    // Acks behind a CR are accepted without the lines of the 1536-byte mode.
    rec = Recorder();
    SimConfig config;
    config.bootloader_version = "01";
    config.usb_cr_acks = true;
    Start(std::move(config));
    Program(image, 0, 0x200);
    EXPECT_TRUE(Write());
    EXPECT_FALSE(HasLine("USB1"));
    EXPECT_FALSE(HasLine("USB2"));
    EXPECT_EQ(FirstDifference(sim->flash(), image.bytes.data(), 0, kEnd96), -1);
}

TEST_F(WriteTest, AsciiModeStopsAtAShortReplyAndClosesThePort) {
    Start("4J");
    window.firmware = {":0400000001020304F2", ":0400040005060708DE", ":00000001FF"};
    sim->refuse_frame(1, 'n');  // "n" CR: two bytes
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.last(), "Error writing Firmware (2)");
    EXPECT_FALSE(port->is_open());
    EXPECT_EQ(rec.position, 0);
    EXPECT_EQ(sim->frames().size(), 2u);

    rec = Recorder();
    Start("4J");
    window.firmware = {":0400000001020304F2", ":00000001FF"};
    sim->silent_after_frames(1);
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.lines[rec.lines.size() - 2], "Error writing Firmware (0)");
    EXPECT_EQ(rec.last(), "Error: no reply from the controller");
    EXPECT_FALSE(port->is_open());
    EXPECT_EQ(rec.position, 0);
}

// On Linux every close drops DTR and RTS and every open raises them again,
// which resets boards and keys RS-485 transceivers mid-write; the drains
// between blocks only read.
TEST_F(WriteTest, AWholeWriteOpensTheDeviceOnce) {
    Start("02");
    window.usb = true;
    FirmwareImage wanted = Blank();
    Program(wanted, 0, kEnd1536);
    OpenImage(wanted);

    EXPECT_TRUE(Write());

    EXPECT_EQ(sim->frames().size(), 86u);
    EXPECT_EQ(log->opens, 1);
    EXPECT_EQ(log->closes, 0);
    EXPECT_EQ(port->get_timeout(), kReadTimeout);
}

// Writing an image with nothing in it would clear every block of the
// controller and end with the success line.
TEST_F(WriteTest, FilesWithoutProgramDataAreRefusedBeforeAnythingIsSent) {
    Start("02");
    const std::string refused = "Error: no program data in the firmware file, nothing was written";
    const struct {
        const char* name;
        std::string bytes;
        std::string line;
    } cases[] = {
        {"empty", "", refused},
        {"binary renamed",
         "\x7f"
         "ELF\x02\x01\x01" +
             std::string(40, '\0') + "\n\x90\xff>\r\n\x01",
         refused},
        // Sets the upper address to 0x01F0 and leaves it there.
        {"configuration only", ":0200000401F009\n:06000000010203000405EB\n:00000001FF\n",
         refused + " (1 data record lies beyond 0x3FFFF)"},
        // No type 04 record: lands behind the last one seen, beyond the image.
        {"no upper address", ":06000000010203000405EB\n:00000001FF\n",
         refused + " (1 data record lies beyond 0x3FFFF)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("firmware.hex");
        std::ofstream(path, std::ios::binary) << c.bytes;
        OpenHex(path, image, window);
        EXPECT_FALSE(FirmwareWriteAllowed(image, rec));
        EXPECT_EQ(rec.last(), c.line);
    }
    EXPECT_TRUE(rec.questions.empty());
    EXPECT_EQ(rec.lines.size(), 4u);
    EXPECT_TRUE(log->writes.empty());
}

// A mode whose range holds none of the image would only clear every block.
TEST_F(WriteTest, ModesWithNothingInTheirRangeClearNothing) {
    Start("02");
    Program(image, 0x30000, 0x30010);
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.last(),
              "Error: no program data in 0x00000 ... 0x2AFFF for the 1536 Byte binary mode, "
              "nothing was written");

    rec = Recorder();
    Start("01");
    Program(image, 0xFF80, 0xFF84);
    EXPECT_FALSE(Write());
    EXPECT_EQ(rec.last(),
              "Error: no program data in 0x00000 ... 0x0FF7F for the 96 Byte binary mode, "
              "nothing was written");
    EXPECT_TRUE(sim->frames().empty());
}

TEST_F(WriteTest, UnreadableLinesAreAskedAboutAndNoWritesNothing) {
    Start("02");
    const std::string path = dir.file("firmware.hex");
    WriteLines(path, {":06000000010203000405EB", "this is no record", ":0600100001020300040500",
                      ":00000001FF"});
    OpenHex(path, image, window);
    const std::string trouble = "2 lines of the HEX file could not be read (first: line 2)";

    EXPECT_FALSE(FirmwareWriteAllowed(image, rec));
    ASSERT_EQ(rec.questions.size(), 1u);
    EXPECT_EQ(rec.questions[0], trouble + ".\nWrite the firmware all the same?");
    EXPECT_EQ(rec.lines, std::vector<std::string>{"Firmware not written: " + trouble});

    rec.answer_yes = true;
    EXPECT_TRUE(FirmwareWriteAllowed(image, rec));
    EXPECT_EQ(rec.questions.size(), 2u);
    EXPECT_EQ(rec.lines.size(), 1u);

    // Lines already accepted are not asked about again; other ones are.
    rec.answer_yes = false;
    const HexLoadReport accepted = image.load_report;
    EXPECT_TRUE(FirmwareWriteAllowed(image, rec, &accepted));
    HexLoadReport other = accepted;
    other.unreadable = 1;
    EXPECT_FALSE(FirmwareWriteAllowed(image, rec, &other));
    EXPECT_EQ(rec.questions.size(), 3u);
    EXPECT_TRUE(log->writes.empty());
}

TEST_F(WriteTest, AStopEndsEveryModeWithoutTheSuccessLine) {
    for (const char* version : {"02", "01", "4J"}) {
        SCOPED_TRACE(version);
        rec = Recorder();
        Start(version);
        FirmwareImage wanted = Blank();
        Program(wanted, 0, 0x1000);
        OpenImage(wanted);
        rec.stop_when = [this] { return rec.events >= 3; };

        EXPECT_FALSE(Write());

        EXPECT_EQ(sim->frames().size(), 2u);
        EXPECT_EQ(rec.last(),
                  "Stopped: the firmware write was interrupted, the firmware on the controller is "
                  "incomplete");
        EXPECT_FALSE(HasLine("Firmware successfully written"));
    }
}

// Real compiler output: the flash must end up as the reference image says.
class RealFile : public WriteTest, public ::testing::WithParamInterface<const char*> {
protected:
    void WriteRealFile(const std::string& version, std::uint32_t end) {
        const std::string base = std::string(KFU_SHARED_DIR) + "/testdata/hex/" + GetParam();
        std::ifstream img(base + ".img", std::ios::binary);
        KFU_REQUIRE_SHARED_DATA(img && std::filesystem::exists(base + ".hex"), base);
        std::vector<char> expected((std::istreambuf_iterator<char>(img)),
                                   std::istreambuf_iterator<char>());
        ASSERT_EQ(expected.size(), kImageSize);

        Start(version);
        OpenHex(base + ".hex", image, window);
        EXPECT_TRUE(Write());
        EXPECT_EQ(rec.last(), "Firmware successfully written");
        EXPECT_EQ(FirstDifference(sim->flash(),
                                  reinterpret_cast<const std::uint8_t*>(expected.data()), 0, end),
                  -1);
    }
};

TEST_P(RealFile, Mode1536) { WriteRealFile("02", kEnd1536); }

INSTANTIATE_TEST_SUITE_P(
    Hex, RealFile,
    ::testing::Values("dspic33fj128mc802_blink_small", "dspic33ep32mc202_microarrays_crlf",
                      "pic24fj128ga010_fileio_crlf", "dspic30f4013_tictoc_c30_crlf",
                      "dspic33ep512gm310_ps040_large", "dspic33fj256gp506_audiofx_c30_large"));

class SmallRealFile : public RealFile {};

TEST_P(SmallRealFile, Mode96) { WriteRealFile("01", kEnd96); }
TEST_P(SmallRealFile, AsciiMode) { WriteRealFile("4J", kImageSize); }

INSTANTIATE_TEST_SUITE_P(Hex, SmallRealFile,
                         ::testing::Values("dspic33fj128mc802_blink_small",
                                           "dspic33ep32mc202_microarrays_crlf"));

}  // namespace
