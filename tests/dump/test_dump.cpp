#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "dump/dump.h"
#include "motor/motor_com.h"
#include "serial/memory_backend.h"
#include "serial/serial.h"
#include "sim/sim.h"
#include "support/recorder.h"

namespace fs = std::filesystem;

namespace {

class TestDumpHost : public DumpHost {
public:
    std::optional<std::string> answer;
    int dialogs = 0;
    std::optional<std::string> ask_dump_file_name() override {
        ++dialogs;
        return answer;
    }
};

class DumpTest : public ::testing::Test {
protected:
    DumpTest() : port(rec, sim.path(), 100), motor(port) {
        char pattern[] = "/tmp/kfu-dump-XXXXXX";
        dir = mkdtemp(pattern);
        host.answer = dir + "/out.eed";
    }
    ~DumpTest() override { fs::remove_all(dir); }

    std::string written() const {
        std::ifstream in(*host.answer, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void expect_progress_reset() const {
        EXPECT_EQ(rec.min, 0);
        EXPECT_EQ(rec.max, 255);
        EXPECT_EQ(rec.position, 0);
    }

    SimController sim;
    Recorder rec;
    serial port;
    motor_com motor;
    TestDumpHost host;
    std::string dir;
};

TEST(DumpValue, NumberAfterTheFirstPlusOrTheWholeReply) {
    EXPECT_EQ(dump_value("+255"), 255);
    EXPECT_EQ(dump_value("(E7+4096"), 4096);
    EXPECT_EQ(dump_value("77"), 77);
    EXPECT_EQ(dump_value("+"), 0);
    EXPECT_EQ(dump_value(""), 0);
    EXPECT_EQ(dump_value("abc"), 0);
    EXPECT_EQ(dump_value("+1+2"), 0);
    EXPECT_EQ(dump_value("x+$1F"), 31);
}

TEST_F(DumpTest, BootloaderCrashDumpOfAllFF) {
    for (int a = kBootCrashDump.first; a <= kBootCrashDump.last; ++a) sim.set_eeprom(a, 255);
    // An existing, longer file is replaced, not overwritten in part.
    std::ofstream(*host.answer) << std::string(10000, 'z');

    DumpMemory(motor, rec, host, kBootCrashDump);

    std::string expected;
    for (int line = 0; line < 16; ++line) {
        char header[16];
        std::snprintf(header, sizeof header, "0x1D%X0\t", line);
        expected += header;
        for (int i = 0; i < 16; ++i) expected += " FF";
        expected += '\n';
    }
    expected += "0x1E00\t";
    EXPECT_EQ(written(), expected);
    EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 16);

    ASSERT_EQ(sim.commands().size(), 256u);
    EXPECT_EQ(sim.commands().front().command, "(E7424");
    EXPECT_EQ(sim.commands().back().command, "(E7679");
    EXPECT_EQ(rec.positions.front(), 0x1D00);
    EXPECT_EQ(rec.positions[255], 0x1DFF);
    EXPECT_GE(rec.events, 256);
    EXPECT_TRUE(rec.lines.empty());
    expect_progress_reset();
}

TEST_F(DumpTest, EEPromDumpWithWideAndOddReplies) {
    sim.set_eeprom(0x10, 4096);
    sim.set_eeprom(0x11, 0xAB);
    sim.set_responder([](const std::string& command) -> std::optional<std::string> {
        if (command == "(E1") return std::string(" 77");  // no "+": the whole reply counts
        if (command == "(E2") return std::string("+");
        if (command == "(E3") return std::string("junk");
        return std::nullopt;
    });

    DumpMemory(motor, rec, host, kEEPromDump);

    const std::string text = written();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1024);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(sim.commands().size(), 16385u);
    char first[32];
    std::snprintf(first, sizeof first, "0x0000\t %02X 4D 00 00 ",
                  static_cast<unsigned>(sim.eeprom(0)));
    EXPECT_EQ(text.substr(0, 20), first);
    const std::size_t line_10 = text.find("0x0010\t");
    ASSERT_NE(line_10, std::string::npos);
    EXPECT_EQ(text.substr(line_10, 16), "0x0010\t 1000 AB ");
    const std::string last = text.substr(text.rfind('\n') + 1);
    EXPECT_EQ(last.substr(0, 7), "0x4000\t");
    EXPECT_EQ(last.size(), 10u);
    expect_progress_reset();
}

TEST_F(DumpTest, CoreDumpEndsWithTheHeaderAfterTheRange) {
    DumpMemory(motor, rec, host, kCoreDump);
    const std::string text = written();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 32);
    EXPECT_EQ(text.substr(0, 7), "0x1E00\t");
    EXPECT_EQ(text.substr(text.size() - 8), "\n0x2000\t");
}

TEST_F(DumpTest, CancelledDialogSendsAndTouchesNothing) {
    host.answer.reset();
    rec.set_progress_max(50);
    rec.set_progress_position(7);
    rec.positions.clear();

    DumpMemory(motor, rec, host, kCoreDump);

    EXPECT_EQ(host.dialogs, 1);
    EXPECT_TRUE(sim.commands().empty());
    EXPECT_TRUE(rec.positions.empty());
    EXPECT_EQ(rec.max, 50);
    EXPECT_EQ(rec.position, 7);
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(DumpTest, UnwritableFileIsReported) {
    host.answer = dir + "/no/such/dir/out.eed";
    DumpMemory(motor, rec, host, kBootCrashDump);
    EXPECT_EQ(rec.lines,
              (std::vector<std::string>{"Error: Could not create dump file " + dir +
                                        "/no/such/dir/out.eed: No such file or directory"}));
    expect_progress_reset();

    // A full disk fails at the write or the close rather than the open.
    if (fs::exists("/dev/full")) {
        rec.lines.clear();
        host.answer = "/dev/full";
        DumpMemory(motor, rec, host, kBootCrashDump);
        ASSERT_EQ(rec.lines.size(), 1u);
        EXPECT_EQ(rec.lines[0],
                  "Error: Could not write dump file /dev/full: No space left on device");
    }
}

// Ranges the three buttons never use, on an in-memory line that answers
// every read with 171 (AB).
TEST(DumpRange, BackwardsIsRefusedAndTheLargestIntEndsTheDump) {
    Recorder rec;
    auto backend = std::make_unique<MemoryBackend>();
    MemoryBackend& line = *backend;
    line.on_write = [&line](const std::uint8_t*, std::size_t) { line.queue("1(E+171\r"); };
    serial port(rec, "mem0", 100, std::move(backend));
    motor_com motor(port);
    char pattern[] = "/tmp/kfu-dump-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    TestDumpHost host;
    host.answer = dir + "/out.eed";
    const auto written = [&] {
        std::ifstream in(*host.answer, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    std::string ab16;
    for (int i = 0; i < 16; ++i) ab16 += " AB";

    DumpMemory(motor, rec, host, {10, 9});
    EXPECT_EQ(rec.lines, (std::vector<std::string>{"Error: the dump range ends before it starts"}));
    EXPECT_EQ(host.dialogs, 0);
    EXPECT_TRUE(line.written.empty());
    EXPECT_FALSE(fs::exists(*host.answer));

    DumpMemory(motor, rec, host, {INT_MAX - 17, INT_MAX});
    EXPECT_EQ(written(), "0x7FFFFFEE\t" + ab16 + "\n0x7FFFFFFE\t AB AB");
    const std::string text = line.written_text();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 18);
    EXPECT_EQ(text.substr(text.size() - 15), "#1(E2147483647\r");

    // Sixteen values up to the largest int: the header after them names the
    // address that follows, as a 32-bit value.
    DumpMemory(motor, rec, host, {INT_MAX - 15, INT_MAX});
    EXPECT_EQ(written(), "0x7FFFFFF0\t" + ab16 + "\n0x80000000\t");
    fs::remove_all(dir);
}

// Unanswered addresses read 00 like real zeros; the file keeps its form, and
// a warning says how many there were and where they began.
TEST_F(DumpTest, AddressesWithoutReplyAreCountedAfterTheDump) {
    for (int a = kBootCrashDump.first; a <= kBootCrashDump.last; ++a) sim.set_eeprom(a, 255);
    sim.drop_replies(2);
    DumpMemory(motor, rec, host, kBootCrashDump);
    EXPECT_EQ(written().substr(0, 16), "0x1D00\t 00 00 FF");
    EXPECT_EQ(rec.lines, std::vector<std::string>{
                             "Warning: 2 addresses got no reply and read 00 in the dump (first: "
                             "0x1D00)"});

    // A released port answers nothing at all.
    rec.lines.clear();
    port.set_port("0");
    DumpMemory(motor, rec, host, kCoreDump);
    std::string zeros;
    for (int line = 0; line < 32; ++line) {
        char header[16];
        std::snprintf(header, sizeof header, "0x%04X\t", 0x1E00 + 16 * line);
        zeros += header;
        for (int i = 0; i < 16; ++i) zeros += " 00";
        zeros += '\n';
    }
    EXPECT_EQ(written(), zeros + "0x2000\t");
    EXPECT_EQ(rec.lines, std::vector<std::string>{
                             "Warning: 512 addresses got no reply and read 00 in the dump "
                             "(first: 0x1E00)"});
}

// Half a dump in a file would pass for a whole one.
TEST_F(DumpTest, AStopEndsTheDumpWithoutAFile) {
    rec.stop_when = [this] { return rec.events >= 20; };
    DumpMemory(motor, rec, host, kEEPromDump);
    EXPECT_EQ(sim.commands().size(), 20u);
    EXPECT_EQ(rec.lines,
              std::vector<std::string>{"Stopped: the dump was interrupted, no file was written"});
    EXPECT_TRUE(fs::is_empty(dir));
    expect_progress_reset();
    // The last reply was taken in: nothing is left for the next exchange.
    char c = 0;
    EXPECT_EQ(port.read(&c, 1), 0);
}

// A byte left over from before, and a reply that comes only after its
// address was given up (while the window's events ran), are thrown away:
// every other address reads its own value.
TEST_F(DumpTest, LeftOverAndLateRepliesShiftNoValue) {
    sim.send_raw("\r");
    constexpr int kLate = 0x1E05;
    sim.set_responder([](const std::string& command) -> std::optional<std::string> {
        if (command != "(E" + std::to_string(kLate)) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return "+" + std::to_string(kLate & 0xFF);
    });
    rec.stop_when = [this] {
        if (rec.position == kLate) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return false;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.open();
    DumpMemory(motor, rec, host, kCoreDump);
    std::string wanted = "0x1E00\t";
    for (int a = 0; a < 32; ++a) {
        char field[8];
        std::snprintf(field, sizeof field, " %02X", a == 5 ? 0 : a);
        wanted += field + std::string(a == 15 ? "\n0x1E10\t" : "");
    }
    EXPECT_EQ(written().substr(0, wanted.size()), wanted);
    EXPECT_EQ(rec.lines, std::vector<std::string>{"Warning: 1 address got no reply and reads 00 "
                                                  "in the dump (first: 0x1E05)"});
}

}  // namespace
