#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "sim_line_test.h"

namespace {

constexpr std::uint32_t kEnd1536 = 0x2B000;

class AutoFlashTest : public SimLineTest {
protected:
    void Start(std::uint32_t baud) {
        SimConfig config;
        config.restart_zero_answers = 2;
        OpenLine(config);
        port->set_baud(baud);
        OpenMotor(1);
        FillImage(image);
    }
    // A file opened in the window (`opened`) that has since changed on disk
    // (`on_disk`).
    void OpenChangedFile(const FirmwareImage& opened, const FirmwareImage& on_disk) {
        WriteLines(OpenImageFile("motor.hex", opened), HexLinesOf(on_disk));
    }
    void Run() { AutoFlashButtonClick(*port, *motor, image, rec, window); }
};

FirmwareImage Programmed(std::uint32_t begin, std::uint32_t end) {
    FirmwareImage image;
    FillImage(image);
    Program(image, begin, end);
    return image;
}

TEST_F(AutoFlashTest, WritesTheFileAsItIsOnDiskAtBootloaderSpeed) {
    Start(19200);
    window.baud_switch = true;
    window.baud_text = "19200";
    sim->set_register(":baud", 38400);
    const FirmwareImage on_disk = Programmed(0x1000, 0x2000);
    OpenChangedFile(Programmed(0, 0x800), on_disk);
    std::vector<std::uint32_t> rates_while_writing;
    rec.on_events = [&] { rates_while_writing.push_back(log->bauds.back()); };

    Run();

    EXPECT_EQ(rec.lines, (std::vector<std::string>{
                             ":baud 38400", "setting Baudrate to 115200", "Bootloader started",
                             "HEXFILE loaded", "Writing in 1536 Byte binary mode !",
                             "Firmware successfully written", "Bootloader terminated",
                             ":baud=38400", "restoring Baudrate"}));
    EXPECT_FALSE(window.debug_log);
    EXPECT_EQ(window.firmware, HexLinesOf(on_disk));
    EXPECT_EQ(FirstDifference(sim->flash(), on_disk.bytes.data(), 0, kEnd1536), -1);
    EXPECT_EQ(FirstDifference(std::vector<std::uint8_t>(image.bytes.begin(), image.bytes.end()),
                              on_disk.bytes.data(), 0, kImageSize),
              -1);

    ASSERT_EQ(rates_while_writing.size(), 86u);
    EXPECT_TRUE(std::all_of(rates_while_writing.begin(), rates_while_writing.end(),
                            [](std::uint32_t r) { return r == 115200; }));
    EXPECT_EQ(log->bauds.front(), 19200u);
    EXPECT_EQ(port->get_baud(), 19200u);
    EXPECT_TRUE(port->is_open());
    EXPECT_EQ(sim->line_baud(), 19200u);
    EXPECT_EQ(port->get_timeout(), 20u);

    // One "@S" before the switch and one that found the bootloader running.
    const auto commands = Commands();
    const auto version_query = std::find(commands.begin(), commands.end(), " ");
    ASSERT_NE(version_query, commands.end());
    EXPECT_EQ(std::count(commands.begin(), version_query, "@S"), 2);
    EXPECT_EQ(std::vector<std::string>(version_query + 1, commands.end()),
              (std::vector<std::string>{"@E", "i", "i", "i", ":baud=38400", "@S"}));
    EXPECT_EQ(sim->get_register(":baud"), 38400);
}

TEST_F(AutoFlashTest, WithoutTheSpeedSwitchTheRateNeverChanges) {
    Start(57600);
    // A controller whose ":baud" answer holds no number.
    sim->set_responder([](const std::string& command) -> std::optional<std::string> {
        if (command == ":baud") return std::string(":baud");
        return std::nullopt;
    });
    const FirmwareImage file = Programmed(0, 0x800);
    OpenChangedFile(file, file);

    Run();

    EXPECT_EQ(rec.lines,
              (std::vector<std::string>{":baud 0", "Bootloader started", "HEXFILE loaded",
                                        "Writing in 1536 Byte binary mode !",
                                        "Firmware successfully written", "Bootloader terminated"}));
    EXPECT_TRUE(std::all_of(log->bauds.begin(), log->bauds.end(),
                            [](std::uint32_t r) { return r == 57600; }));
    const auto commands = Commands();
    EXPECT_EQ(commands.back(), "i");
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const std::string& c) { return c.rfind(":baud=", 0) == 0; }),
              0);
}

TEST_F(AutoFlashTest, GivesUpWhenTheBootloaderNeverStarts) {
    Start(19200);
    window.baud_switch = true;
    window.baud_text = "fast";  // no number: back to 115200
    sim->never_start_bootloader(true);
    const FirmwareImage file = Programmed(0, 0x800);
    OpenChangedFile(file, file);

    Run();

    EXPECT_EQ(rec.lines,
              (std::vector<std::string>{":baud 19200", "setting Baudrate to 115200",
                                        "Could not start Bootloader", "restoring Baudrate"}));
    const auto commands = Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "@S"), 20);
    EXPECT_TRUE(sim->frames().empty());
    EXPECT_EQ(port->get_baud(), 115200u);
}

TEST_F(AutoFlashTest, ADeletedFileLeavesTheControllerInItsBootloader) {
    Start(19200);
    window.baud_switch = true;
    window.baud_text = "19200";
    const FirmwareImage file = Programmed(0, 0x800);
    OpenChangedFile(file, file);
    const std::vector<std::string> shown = window.firmware;
    std::filesystem::remove(window.file_name);

    Run();

    EXPECT_EQ(rec.lines, (std::vector<std::string>{":baud 19200", "setting Baudrate to 115200",
                                                   "Bootloader started", "Could not load HEXFILE",
                                                   "restoring Baudrate"}));
    EXPECT_TRUE(sim->in_bootloader());
    EXPECT_TRUE(sim->frames().empty());
    EXPECT_EQ(window.firmware, shown);
    EXPECT_EQ(port->get_baud(), 19200u);
}

// An empty file left AutoFlash enabled, and the run cleared every block of
// the controller and reported success.
TEST_F(AutoFlashTest, AFileWithoutProgramDataIsRefusedBeforeAnythingIsSent) {
    Start(19200);
    window.baud_switch = true;
    const FirmwareImage file = Programmed(0, 0x800);
    OpenChangedFile(file, file);
    std::ofstream(window.file_name, std::ios::trunc | std::ios::binary).flush();

    Run();

    EXPECT_EQ(rec.lines, std::vector<std::string>{
                             "Error: no program data in the firmware file, nothing was written"});
    EXPECT_FALSE(window.debug_log);
    EXPECT_TRUE(log->writes.empty());
    EXPECT_FALSE(sim->in_bootloader());
}

TEST_F(AutoFlashTest, UnreadableLinesAreAskedAboutOnceBeforeAnythingIsSent) {
    Start(115200);
    const std::string path = dir.file("motor.hex");
    std::vector<std::string> lines = HexLinesOf(Programmed(0, 0x800));
    lines.insert(lines.begin() + 1, "garbled");
    WriteLines(path, lines);
    OpenHex(path, image, window);
    const std::string question =
        "1 line of the HEX file could not be read (first: line 2).\nWrite the firmware all the "
        "same?";

    Run();  // No
    EXPECT_EQ(rec.questions, std::vector<std::string>{question});
    EXPECT_EQ(rec.lines, std::vector<std::string>{
                             "Firmware not written: 1 line of the HEX file could not be read "
                             "(first: line 2)"});
    EXPECT_TRUE(log->writes.empty());

    rec = Recorder();
    rec.answer_yes = true;
    Run();
    EXPECT_EQ(rec.questions, std::vector<std::string>{question});  // not again after the reload
    const auto shown = std::find(rec.lines.begin(), rec.lines.end(), "HEXFILE loaded");
    ASSERT_NE(shown, rec.lines.end());
    EXPECT_EQ(shown[1], "Warning: 1 line of the HEX file could not be read (first: line 2)");
    EXPECT_NE(std::find(rec.lines.begin(), rec.lines.end(), "Firmware successfully written"),
              rec.lines.end());
}

// Every waiting loop of AutoFlash ends on a stop, and a stopped run neither
// claims success nor restarts a controller whose write was cut short.
TEST_F(AutoFlashTest, AStopEndsEachWaitWithoutSuccess) {
    const FirmwareImage file = Programmed(0, 0x800);
    const std::string stopped = "Stopped: AutoFlash was interrupted";

    // While the bootloader does not answer.
    Start(19200);
    OpenChangedFile(file, file);
    sim->never_start_bootloader(true);
    int checks = 0;
    rec.stop_when = [&] { return ++checks > 3; };
    Run();
    EXPECT_EQ(rec.lines, (std::vector<std::string>{":baud 19200", stopped}));
    const auto commands = Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "@S"), 4);

    // In the middle of the write: no "@E", the controller stays in its
    // bootloader.
    rec = Recorder();
    Start(19200);
    OpenChangedFile(file, file);
    window.baud_switch = true;
    rec.stop_when = [this] { return rec.events >= 5; };
    Run();
    const auto cut = std::find_if(rec.lines.begin(), rec.lines.end(),
                                  [](const std::string& l) { return l.starts_with("Stopped: "); });
    ASSERT_NE(cut, rec.lines.end());
    EXPECT_EQ(*cut,
              "Stopped: the firmware write was interrupted, the firmware on the controller is "
              "incomplete");
    EXPECT_EQ(std::vector<std::string>(cut + 1, rec.lines.end()),
              std::vector<std::string>{"restoring Baudrate"});
    EXPECT_EQ(sim->frames().size(), 4u);
    EXPECT_TRUE(sim->in_bootloader());
    EXPECT_EQ(port->get_baud(), 115200u);  // the box's rate

    // While waiting for the restarted controller.
    rec = Recorder();
    Start(19200);
    OpenChangedFile(file, file);
    window.baud_switch = false;
    sim->set_register(":baud", 38400);
    rec.stop_when = [this] {
        return std::find(rec.lines.begin(), rec.lines.end(), "Bootloader terminated") !=
               rec.lines.end();
    };
    Run();
    EXPECT_EQ(rec.last(), stopped);
    EXPECT_EQ(std::count(rec.lines.begin(), rec.lines.end(), "Firmware successfully written"), 1);
    EXPECT_EQ(Commands().back(), "@E");
}

TEST_F(AutoFlashTest, RefusesAllMotorsBeforeSendingAnything) {
    Start(115200);
    window.motor = "*";
    Run();
    EXPECT_EQ(rec.lines, std::vector<std::string>{"Error: you must select a motor ID !"});
    EXPECT_FALSE(window.debug_log);
    EXPECT_TRUE(log->writes.empty());
}

}  // namespace
