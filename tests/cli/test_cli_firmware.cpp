// flash, autoflash and info against the simulated bootloader, from HEX files
// on disk.

#include <memory>

#include "bootloader/bootloader_support.h"
#include "cli_support.h"
#include "sim/sim.h"

namespace {

using nlohmann::json;

class FirmwareCommands : public CliTest {
protected:
    FirmwareCommands() {
        FillImage(wanted);
        Program(wanted, 0, 0x800);        // block 0 of every mode
        Program(wanted, 0x4100, 0x4104);  // one word further up
        hex = dir.file("firmware.hex");
        WriteLines(hex, HexLinesOf(wanted));
    }

    std::unique_ptr<SimController> Bootloader(const std::string& version) {
        SimConfig config;
        config.start_in_bootloader = true;
        config.bootloader_version = version;
        return std::make_unique<SimController>(config);
    }

    TempDir dir;
    FirmwareImage wanted;
    std::string hex;
};

TEST_F(FirmwareCommands, FlashWritesTheFileInEachMode) {
    struct Mode {
        const char* version;
        const char* announced;
        std::uint32_t covered;  // image bytes the mode sends
    };
    for (const Mode& m : {Mode{"02", "Writing in 1536 Byte binary mode !", 0x2B000},
                          Mode{"01", "Writing in 96 Byte binary mode !", 0xFF80},
                          Mode{"4J", "Writing in 16 Byte ASCII mode !", 0x40000}}) {
        auto sim = Bootloader(m.version);
        const KfuRun run = RunKfu({"flash", "-p", sim->path(), "--timeout", "50", hex});
        EXPECT_EQ(run.exit_code, 0) << m.version << run.out << run.err;
        EXPECT_TRUE(run.printed(m.announced)) << run.out;
        EXPECT_TRUE(run.printed("Firmware successfully written")) << run.out;
        EXPECT_EQ(FirstDifference(sim->flash(), wanted.bytes.data(), 0, m.covered), -1)
            << m.version;
    }
}

TEST_F(FirmwareCommands, ARefusedBlockExitsWithOne) {
    auto sim = Bootloader("02");
    sim->refuse_frame(0, 'n');
    const KfuRun run = RunKfu({"flash", "--json", "-p", sim->path(), "--timeout", "50", hex});
    EXPECT_EQ(run.exit_code, 1);
    const json doc = run.json();
    EXPECT_EQ(doc["result"], "refused");
    const auto& lines = doc["lines"];
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Error during Write n\r"), lines.end())
        << lines;
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "Firmware successfully written"), lines.end());
}

TEST_F(FirmwareCommands, AFileThatCannotBeReadSendsNothingAndExitsWithFour) {
    auto sim = Bootloader("02");
    const std::string empty = dir.file("empty.hex");
    WriteLines(empty, {});
    for (const std::string& file : {dir.file("missing.hex"), empty}) {
        for (const char* command : {"flash", "autoflash"}) {
            const KfuRun run = RunKfu({command, "-p", sim->path(), file});
            EXPECT_EQ(run.exit_code, 4) << command << " " << file;
            EXPECT_FALSE(run.err.empty());
        }
    }
    EXPECT_EQ(sim->received(), "");
}

TEST_F(FirmwareCommands, AutoFlashStartsTheBootloaderWritesAndRestarts) {
    SimController sim;
    const KfuRun run = RunKfu({"autoflash", "-p", sim.path(), "--timeout", "50", hex});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    for (const char* line :
         {":baud 19200", "setting Baudrate to 115200", "Bootloader started", "HEXFILE loaded",
          "Firmware successfully written", "Bootloader terminated", "restoring Baudrate"}) {
        EXPECT_TRUE(run.printed(line)) << line << "\n" << run.out;
    }
    EXPECT_EQ(FirstDifference(sim.flash(), wanted.bytes.data(), 0, 0x2B000), -1);

    SimController other;
    const KfuRun slow = RunKfu({"autoflash", "-p", other.path(), "--baud", "19200",
                                "--no-bootloader-baud", "--timeout", "50", hex});
    EXPECT_EQ(slow.exit_code, 0) << slow.out;
    EXPECT_FALSE(slow.printed("setting Baudrate to 115200"));
}

TEST_F(FirmwareCommands, AFileWithoutProgramDataIsRefusedBeforeAnythingIsSent) {
    // Configuration words only: the image stays blank, and writing it would
    // clear every block of the controller.
    const std::string config_only = dir.file("config-only.hex");
    WriteLines(config_only,
               {":020000040000FA", ":020000040200F8", ":04000000FFFFFFFF00", ":00000001FF"});
    for (const char* command : {"flash", "autoflash"}) {
        auto sim = Bootloader("02");
        const KfuRun run = RunKfu({command, "--json", "-p", sim->path(), config_only});
        EXPECT_EQ(run.exit_code, 4) << command << run.out;
        const json doc = run.json();
        EXPECT_EQ(doc["result"], "file");
        EXPECT_EQ(doc["lines"][0].get<std::string>().rfind("Error: no program data", 0), 0u)
            << doc["lines"];
        EXPECT_EQ(sim->received(), "") << command;
    }

    // Data only where the waiting bootloader's mode sends nothing is the
    // file's failure too, found out after the version query.
    FirmwareImage high;
    FillImage(high);
    Program(high, 0x2B000, 0x2B100);
    const std::string above = dir.file("above.hex");
    WriteLines(above, HexLinesOf(high));
    auto sim = Bootloader("02");
    const KfuRun run = RunKfu({"flash", "-p", sim->path(), "--timeout", "50", above});
    EXPECT_EQ(run.exit_code, 4) << run.out;
    EXPECT_TRUE(sim->frames().empty());
}

TEST_F(FirmwareCommands, UnreadableLinesAreWrittenOnlyWithYes) {
    std::vector<std::string> lines = HexLinesOf(wanted);
    lines.insert(lines.begin() + 1, "this is no record");
    const std::string file = dir.file("damaged.hex");
    WriteLines(file, lines);

    auto refused = Bootloader("02");
    const KfuRun no = RunKfu({"flash", "-p", refused->path(), "--timeout", "50", file});
    EXPECT_EQ(no.exit_code, 4) << no.out;
    EXPECT_NE(no.out.find("Warning: 1 line of the HEX file could not be read (first: line 2). "
                          "Write the firmware all the same?\n"),
              std::string::npos)
        << no.out;
    EXPECT_TRUE(no.printed("Answered No (give --yes to answer Yes)."));
    EXPECT_TRUE(
        no.printed("Firmware not written: 1 line of the HEX file could not be read "
                   "(first: line 2)"));
    EXPECT_EQ(refused->received(), "");

    auto accepted = Bootloader("02");
    const KfuRun yes = RunKfu({"flash", "--yes", "-p", accepted->path(), "--timeout", "50", file});
    EXPECT_EQ(yes.exit_code, 0) << yes.out << yes.err;
    EXPECT_TRUE(yes.printed("Answered Yes (--yes)."));
    EXPECT_TRUE(yes.printed("Firmware successfully written"));
    EXPECT_EQ(FirstDifference(accepted->flash(), wanted.bytes.data(), 0, 0x2B000), -1);
}

TEST_F(FirmwareCommands, DataTheModeDoesNotSendIsAWarningNotAFailure) {
    FirmwareImage image = wanted;
    Program(image, 0xFF80, 0xFF90);  // the 96-byte bootloader's own block
    const std::string file = dir.file("with-boot-block.hex");
    WriteLines(file, HexLinesOf(image));
    auto sim = Bootloader("01");
    const KfuRun run = RunKfu({"flash", "-p", sim->path(), "--timeout", "50", file});
    EXPECT_EQ(run.exit_code, 0) << run.out;
    EXPECT_TRUE(
        run.printed("Warning: 4 words at 0x0FF80 ... 0x0FF8F not written (the 96 Byte "
                    "binary mode writes 0x00000 ... 0x0FF7F)"))
        << run.out;
    EXPECT_TRUE(run.printed("Firmware successfully written"));
}

TEST_F(FirmwareCommands, InfoReportsRecordsRangesAndWhatEachModeSends) {
    FirmwareImage image = wanted;
    Program(image, 0xFF80, 0xFF90);    // the 96-byte mode's last block: never sent there
    Program(image, 0x2B000, 0x2B100);  // past the 1536-byte mode's blocks
    std::vector<std::string> lines = HexLinesOf(image);
    lines.insert(lines.begin() + 2, ":10000000ZZ");  // line 3: truncated
    lines.insert(lines.begin() + 6, "garbage");      // line 7: no record at all
    const std::string file = dir.file("info.hex");
    WriteLines(file, lines);

    const KfuRun run = RunKfu({"info", "--json", file});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json f = run.json()["figures"];
    EXPECT_EQ(f["unreadable_lines"], json({3, 7}));
    EXPECT_EQ(f["lines"], lines.size());
    EXPECT_EQ(f["data_ranges"][0], json({{"begin", 0}, {"end", 0x800}}));
    EXPECT_EQ(f["data_ranges"].size(), 4u);

    const json& m1536 = f["modes"][0];
    EXPECT_EQ(m1536["mode"], "1536");
    EXPECT_EQ(m1536["data_frames"], 3);
    EXPECT_EQ(m1536["clear_frames"], 83);
    EXPECT_EQ(m1536["unsent_words"], 64);
    EXPECT_EQ(m1536["unsent"][0], json({{"begin", 0x2B000}, {"end", 0x2B100}}));

    const json& m96 = f["modes"][1];
    EXPECT_EQ(m96["data_frames"], 17);
    EXPECT_EQ(m96["clear_frames"], 494);
    EXPECT_EQ(m96["unsent_words"], 4 + 64);

    const json& ascii = f["modes"][2];
    EXPECT_EQ(ascii["data_frames"], lines.size());
    EXPECT_EQ(ascii["unsent_words"], 0);

    // A slower line takes longer; the text says the same as the figures.
    const KfuRun slow = RunKfu({"info", "--baud", "19200", file});
    EXPECT_NE(slow.out.find("Unreadable lines (2): 3, 7"), std::string::npos) << slow.out;
    EXPECT_NE(slow.out.find("not sent: 64 words in 0x02B000-0x02B0FF"), std::string::npos);
    const double fast_s = m1536["estimated_seconds"];
    const KfuRun slow_json = RunKfu({"info", "--json", "--baud", "19200", file});
    EXPECT_GT(slow_json.json()["figures"]["modes"][0]["estimated_seconds"].get<double>(),
              fast_s * 1.5);
}

TEST_F(FirmwareCommands, InfoRefusesAFileWithoutProgramData) {
    const std::string file = dir.file("config-only.hex");
    WriteLines(file, {":020000040000FA", ":00000001FF"});
    const KfuRun run = RunKfu({"info", file});
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_NE(run.err.find("no program data"), std::string::npos);
}

}  // namespace
