// kfu.exe end to end: the Windows command line under Wine, on COM5 to COM9
// of the prefix, against the simulated controller on their pseudo-terminals.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bootloader/bootloader_support.h"
#include "pty_speed.h"
#include "sim/sim.h"
#include "support/record_station.h"
#include "wine_run.h"

namespace {

using nlohmann::json;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class WineKfu : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = wine::missing_setup();
        ASSERT_TRUE(missing.empty())
            << "run through scripts/test-windows.sh (missing " << missing << ")";
    }

    wine::Result Kfu(std::vector<std::string> args, const std::function<void(pid_t)>& tick = {}) {
        args.insert(args.begin(), wine::program("kfu.exe"));
        return wine::run(args, std::chrono::seconds(180), tick);
    }

    // The same command by the Linux program, for the files both write.
    wine::Result LinuxKfu(std::vector<std::string> args) {
        args.insert(args.begin(), KFU_LINUX_PROGRAM);
        return wine::run_linux(args);
    }

    std::unique_ptr<SimController> Bootloader(const std::string& version) {
        SimConfig config;
        config.start_in_bootloader = true;
        config.bootloader_version = version;
        return std::make_unique<SimController>(config);
    }

    TempDir dir;
};

TEST_F(WineKfu, SendGoesOutOnCom5AndPrintsTheReplies) {
    SimController sim;
    sim.set_register("C", 1234);
    ASSERT_TRUE(wine::map_port(5, sim.path()));
    const auto r = Kfu({"send", "-p", "COM5", "C", "VER"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(sim.received(), "#1C\r#1VER\r");
    EXPECT_TRUE(Has(wine::lines(r.out), "C+1234")) << r.out;
}

// Arguments that begin with a slash are commands, not options.
TEST_F(WineKfu, ArgumentsBeginningWithASlashAreNoOptions) {
    SimController sim;
    ASSERT_TRUE(wine::map_port(5, sim.path()));
    const auto r = Kfu({"send", "-p", "COM5", "/S", "/x"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(sim.received(), "#1/S\r#1/x\r");
}

TEST_F(WineKfu, FlashWritesTheFileInEachMode) {
    FirmwareImage wanted;
    FillImage(wanted);
    Program(wanted, 0, 0x800);
    Program(wanted, 0x4100, 0x4104);
    const std::string hex = dir.file("firmware.hex");
    WriteLines(hex, HexLinesOf(wanted));

    struct Mode {
        const char* version;
        const char* announced;
        std::uint32_t covered;  // image bytes the mode sends
    };
    for (const Mode& m : {Mode{"02", "Writing in 1536 Byte binary mode !", 0x2B000},
                          Mode{"01", "Writing in 96 Byte binary mode !", 0xFF80},
                          Mode{"4J", "Writing in 16 Byte ASCII mode !", 0x40000}}) {
        auto sim = Bootloader(m.version);
        ASSERT_TRUE(wine::map_port(5, sim->path()));
        const auto r = Kfu({"flash", "-p", "COM5", "--timeout", "50", wine::windows_path(hex)});
        EXPECT_EQ(r.status, 0) << m.version << r.out << r.err;
        const auto lines = wine::lines(r.out);
        EXPECT_TRUE(Has(lines, m.announced)) << r.out;
        EXPECT_TRUE(Has(lines, "Firmware successfully written")) << r.out;
        EXPECT_EQ(FirstDifference(sim->flash(), wanted.bytes.data(), 0, m.covered), -1)
            << m.version;
    }
}

TEST_F(WineKfu, DumpWritesTheSameFileAsOnLinux) {
    SimController sim;
    for (int a = 0x1E00; a < 0x2000; ++a) sim.set_eeprom(a, (a * 7) & 0xFF);
    ASSERT_TRUE(wine::map_port(5, sim.path()));
    const std::string windows_file = dir.file("core-win.eed");
    const auto r = Kfu({"dump", "core", "-p", "COM5", "-o", wine::windows_path(windows_file)});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const std::string linux_file = dir.file("core-linux.eed");
    const auto l = LinuxKfu({"dump", "core", "-p", sim.path(), "-o", linux_file});
    ASSERT_EQ(l.status, 0) << l.out << l.err;
    const std::string text = ReadFile(windows_file);
    EXPECT_EQ(text.rfind("0x1E00\t", 0), 0u) << text.substr(0, 40);
    EXPECT_EQ(text, ReadFile(linux_file));
}

TEST_F(WineKfu, TwoLinesAtOnceEachWithItsOwnFile) {
    FirmwareImage wanted;
    FillImage(wanted);
    Program(wanted, 0, 0x3000);
    const std::string hex = dir.file("two.hex");
    WriteLines(hex, HexLinesOf(wanted));
    auto five = Bootloader("02");
    auto six = Bootloader("02");
    ASSERT_TRUE(wine::map_port(5, five->path()));
    ASSERT_TRUE(wine::map_port(6, six->path()));

    const auto r = Kfu({"flash", "--json", "-p", "COM5", "-p", "COM6", "--timeout", "50",
                        wine::windows_path(hex)});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const json doc = json::parse(r.out);
    ASSERT_EQ(doc["ports"].size(), 2u);
    EXPECT_EQ(doc["ports"][0]["port"], "COM5");
    EXPECT_EQ(doc["ports"][1]["port"], "COM6");
    for (const auto* sim : {five.get(), six.get()}) {
        EXPECT_EQ(FirstDifference(sim->flash(), wanted.bytes.data(), 0, 0x2B000), -1);
    }

    // Files written per line are named after the port.
    SimController five_running;
    SimController six_running;
    five_running.set_eeprom(0x1D00, 0x5A);
    six_running.set_eeprom(0x1D00, 0xA5);
    ASSERT_TRUE(wine::map_port(5, five_running.path()));
    ASSERT_TRUE(wine::map_port(6, six_running.path()));
    const auto d = Kfu(
        {"dump", "crash", "-p", "COM5", "-p", "COM6", "-o", wine::windows_path(dir.file("c.eed"))});
    ASSERT_EQ(d.status, 0) << d.out << d.err;
    EXPECT_EQ(ReadFile(dir.file("c-COM5.eed")).rfind("0x1D00\t 5A", 0), 0u);
    EXPECT_EQ(ReadFile(dir.file("c-COM6.eed")).rfind("0x1D00\t A5", 0), 0u);
}

TEST_F(WineKfu, CtrlCStopsThePollAndTheLineGetsItsRateBack) {
    SimController sim;
    sim.never_start_bootloader(true);
    SetLineSpeed(sim.path(), B9600);
    ASSERT_TRUE(wine::map_port(5, sim.path()));
    bool sent = false;
    const auto r = Kfu({"poll", "-p", "COM5"}, [&](pid_t pid) {
        if (!sent && sim.received().size() >= 3 * 3) {
            kill(pid, SIGINT);
            sent = true;
        }
    });
    ASSERT_TRUE(sent) << r.out << r.err;
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_FALSE(Has(wine::lines(r.out), "Device detected")) << r.out;
    EXPECT_EQ(sim.line_baud(), 9600u);
}

TEST_F(WineKfu, DoctorNamesAMissingPortAndThoseThatArePresent) {
    SimController sim;
    ASSERT_TRUE(wine::map_port(5, sim.path()));
    const auto r = Kfu({"doctor", "-p", "COM199"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    const auto lines = wine::lines(r.out);
    EXPECT_TRUE(Has(lines, "Verdict: there is no \\\\.\\COM199.")) << r.out;
    const auto present = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("  ports present: ", 0) == 0;
    });
    ASSERT_NE(present, lines.end()) << r.out;
    EXPECT_NE(present->find("COM5"), std::string::npos) << *present;
}

// The production record's paths as on Linux, on COM5 ... COM9.
class WineRecords : public WineKfu {
protected:
    record_station::Station station{
        [](int i, const std::string& pty) {
            EXPECT_TRUE(wine::map_port(5 + i, pty));
            return "COM" + std::to_string(5 + i);
        },
        [](const std::string& path) { return wine::windows_path(path); },
        [](std::vector<std::string> args, long max_file_size) {
            args.insert(args.begin(), {wine::env("KFU_WINE"), wine::program("kfu.exe")});
            if (max_file_size > 0) {
                // A Windows program cannot ignore SIGXFSZ as kfu does; it is
                // ignored for it, so that its write fails as on a full disk.
                args.insert(args.begin(), {"/bin/sh", "-c",
                                           "trap '' XFSZ; exec /usr/bin/prlimit --fsize=" +
                                               std::to_string(max_file_size) + " -- \"$@\"",
                                           "sh"});
            }
            return wine::run_linux(args, std::chrono::seconds(180));
        }};
};

TEST_F(WineRecords, AGangAndAnotherStationShareOneFile) {
    record_station::GangAndNeighbourShareOneFile(station, dir);
}

TEST_F(WineRecords, NoRoomForTheRecordLeavesTheFlashDone) {
    record_station::NoRoomForTheRecordLeavesTheFlashDone(station, dir);
}

}  // namespace
