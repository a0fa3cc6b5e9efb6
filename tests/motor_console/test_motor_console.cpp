// The console, link-test, poll, debug-log and port-settings routines against
// the simulated controller on a pseudo-terminal.

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "motor/console.h"
#include "motor/debug_log.h"
#include "motor/link_test.h"
#include "motor/motor_com.h"
#include "motor/port_settings.h"
#include "serial/serial.h"
#include "sim/sim.h"
#include "support/recorder.h"
#include "support/sim_bench.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Bench : SimBench {
    explicit Bench(SimConfig config = {}) : SimBench(std::move(config), 20) {}
};

bool received_soon(const SimController& sim, const std::string& bytes) {
    for (int i = 0; i < 200 && sim.received().find(bytes) == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return sim.received().find(bytes) != std::string::npos;
}

// Lets bytes the simulator emitted reach the tool's side of the pty.
void settle() { std::this_thread::sleep_for(50ms); }

TEST(Console, DiscardsStaleBytesThenShowsTheReplyOnly) {
    Bench b;
    b.sim.send_raw("stale\r123");
    settle();
    EXPECT_EQ(send_console_command(b.port, b.motor, b.out, "A", true), "A");
    EXPECT_EQ(b.out.lines, std::vector<std::string>{"A"});
    EXPECT_EQ(b.sim.received(), "#1A\r");
    EXPECT_GT(b.out.events, 0);

    // Without events (the Enter key) nothing runs in between.
    b.out = Recorder{};
    b.sim.send_raw("more");
    settle();
    b.motor.set_id(0);
    send_console_command(b.port, b.motor, b.out, "", false);
    EXPECT_EQ(b.out.events, 0);
    EXPECT_EQ(b.sim.received(), "#1A\r#*\r");
}

TEST(Console, SilentControllerGivesAnEmptyLine) {
    Bench b;
    b.sim.set_silent(true);
    send_console_command(b.port, b.motor, b.out, "A", true);
    EXPECT_EQ(b.out.lines, std::vector<std::string>{""});
}

TEST(Console, ChatteringControllerDoesNotKeepTheCommandBack) {
    Bench b;
    b.sim.set_debug_every(1ms, "chatter chatter chatter\r");
    send_console_command(b.port, b.motor, b.out, "A", false);
    b.sim.set_debug_every(0ms, "");
    EXPECT_TRUE(received_soon(b.sim, "#1A\r"));
}

class CommandList : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kfu-commlist-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        file = (dir / "commlist.txt").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    void write_file(const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    fs::path dir;
    std::string file;
    std::vector<std::string> entries;
    bool loaded = false;
};

TEST_F(CommandList, FileReplacesTheListOnceAndNeverGrows) {
    keep_command_list(entries, loaded, "", file);
    keep_command_list(entries, loaded, "X", file);
    write_file("@S\r\n\nVER\rlast");
    EXPECT_EQ(keep_command_list(entries, loaded, "XY", file), ListChange::Replaced);
    EXPECT_EQ(entries, (std::vector<std::string>{"@S", "", "VER", "last"}));
    EXPECT_TRUE(loaded);
    EXPECT_EQ(keep_command_list(entries, loaded, "new", file), ListChange::None);
    write_file("other\n");
    EXPECT_EQ(keep_command_list(entries, loaded, "new2", file), ListChange::None);
    EXPECT_EQ(entries.size(), 4u);
}

// Counts the opens of one file from now on.
class OpenCounter {
public:
    explicit OpenCounter(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK)) {
        EXPECT_GE(fd_, 0);
        EXPECT_GE(inotify_add_watch(fd_, path.c_str(), IN_OPEN), 0);
    }
    ~OpenCounter() { ::close(fd_); }
    int opens() {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (long n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (long at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_OPEN) ++count;
                at += static_cast<long>(sizeof(inotify_event) + event->len);
            }
        }
        return count;
    }

private:
    int fd_;
};

TEST_F(CommandList, LoadedFileIsNotReadAgainButTypedTextsReturnWhenItIsGone) {
    write_file("VER\n");
    EXPECT_EQ(keep_command_list(entries, loaded, "", file), ListChange::Replaced);
    OpenCounter counter(file);
    for (const char* typed : {"A", "AB", "ABC"}) {
        EXPECT_EQ(keep_command_list(entries, loaded, typed, file), ListChange::None);
    }
    EXPECT_EQ(counter.opens(), 0);

    fs::remove(file);
    EXPECT_EQ(keep_command_list(entries, loaded, "ABC", file), ListChange::Appended);
    EXPECT_EQ(keep_command_list(entries, loaded, "ver", file), ListChange::None);
    EXPECT_EQ(entries, (std::vector<std::string>{"VER", "ABC"}));
    write_file("other\n");  // loaded once per run, never again
    EXPECT_EQ(keep_command_list(entries, loaded, "X", file), ListChange::None);
    EXPECT_EQ(entries.size(), 2u);
}

TEST_F(CommandList, AHugeOrEndlessFileGivesOnlyTheWholeLinesOfItsFirstMiB) {
    // Lines of 17 bytes with their LF; the one that crosses the limit is cut
    // there and must not appear in part.
    const std::string line = "#1(E123456789ABC\n";
    std::string text;
    while (text.size() <= kMaxCommandListBytes + 100) text += line;
    write_file(text);
    ASSERT_TRUE(read_list_file(file, entries));
    EXPECT_EQ(entries.size(), kMaxCommandListBytes / line.size());
    EXPECT_EQ(entries.back(), "#1(E123456789ABC");

    // A file name that leads to a device without end is read no further.
    fs::remove(file);
    fs::create_symlink("/dev/zero", file);
    ASSERT_TRUE(read_list_file(file, entries));
    EXPECT_TRUE(entries.empty());
}

TEST(LinkTest, TestShowsTheReplyWithoutLineFeedsAndNuls) {
    Bench b;
    b.sim.set_silent(true);
    b.sim.send_raw(std::string("a\nb\0c\r", 6));
    settle();
    test_connection(b.port, b.out, "1");
    EXPECT_EQ(b.out.last(), "<- abc\r");
}

TEST(LinkTest, PollDetectsSixByteOkReplyOnly) {
    Bench padded;  // "001@OK" CR: bytes 3..5 are "@OK"
    EXPECT_TRUE(poll_cycle(padded.port, padded.out, "1").detected);
    EXPECT_EQ(padded.out.lines, (std::vector<std::string>{"-> #1@S\r", "<- 001@OK"}));

    Bench plain(plain_ids());  // "1@OK" CR: five bytes
    EXPECT_FALSE(poll_cycle(plain.port, plain.out, "1").detected);
    EXPECT_EQ(plain.sim.received(), "#1@S\r");

    Bench all;
    poll_cycle(all.port, all.out, "*");
    EXPECT_EQ(all.sim.received(), "#*@S\r");

    // Only a failed read asks for a pause: a silent line has waited already.
    EXPECT_EQ(plain.port.read_wait_ms(6), 80);
    plain.sim.set_silent(true);
    EXPECT_EQ(poll_cycle(plain.port, plain.out, "1").pause_ms, 0);
    plain.port.set_port("0");  // released
    EXPECT_EQ(poll_cycle(plain.port, plain.out, "1").pause_ms, 80);

    const unsigned char five[] = {'1', '@', 'O', 'K', '\r', 0};
    EXPECT_FALSE(detects_device(five, 5));
    const unsigned char six[] = {'x', 'y', 'z', '@', 'O', 'K'};
    EXPECT_TRUE(detects_device(six, 6));
}

struct TickTimer {
    int stops = 0;
    int restarts = 0;
    DebugLogTimerControl control{[this] { ++stops; }, [this] { ++restarts; }};
};

TEST(DebugLog, EveryWaitingLineInOneTickAndPartialLinesAtTheEnd) {
    Bench b;
    b.sim.set_silent(true);
    TickTimer timer;
    b.sim.send_raw("abc\rdef\r\nghi");
    settle();
    debug_log_tick(b.port, b.out, timer.control);
    EXPECT_EQ(b.out.lines, (std::vector<std::string>{"DEBUG: abc", "DEBUG: def",
                                                     "DEBUG (no ENDLINE): \nghi"}));
    const auto idle_since = std::chrono::steady_clock::now();
    debug_log_tick(b.port, b.out, timer.control);  // nothing waiting: no wait either
    EXPECT_LT(std::chrono::steady_clock::now() - idle_since, 15ms);
    EXPECT_EQ(b.out.lines.size(), 3u);
    EXPECT_EQ(timer.restarts, 2);
    EXPECT_GE(timer.stops, 2);
    EXPECT_EQ(b.sim.received(), "");
}

// A controller that talks every 20 ms, ticks 200 ms apart, for three seconds:
// every line it sent is shown whole, none is lost or cut.
TEST(DebugLog, AChattyControllerLosesNoLine) {
    Bench b;
    b.sim.set_silent(true);
    TickTimer timer;
    b.sim.set_debug_every(20ms, "DBG tick\r");
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < end) {
        debug_log_tick(b.port, b.out, timer.control);
        std::this_thread::sleep_for(200ms);
    }
    b.sim.set_debug_every(0ms, "");
    settle();
    debug_log_tick(b.port, b.out, timer.control);
    const std::string sent = b.sim.sent();
    const auto lines = static_cast<std::size_t>(std::count(sent.begin(), sent.end(), '\r'));
    EXPECT_GT(lines, 100u);
    EXPECT_EQ(b.out.lines, std::vector<std::string>(lines, "DEBUG: DBG tick"));
}

TEST(DebugLog, EndlessLineEndsTheTick) {
    Bench b;
    b.sim.set_silent(true);
    b.sim.send_raw(std::string(kMaxDebugLineBytes + 10, 'x'));
    settle();
    TickTimer timer;
    debug_log_tick(b.port, b.out, timer.control);
    ASSERT_EQ(b.out.lines.size(), 1u);
    EXPECT_EQ(b.out.last(), "DEBUG (no ENDLINE): " + std::string(kMaxDebugLineBytes, 'x'));
}

TEST(PortSettings, AppliesRateAndTimeoutOrRefusesUnusableTimeout) {
    Bench b;
    EXPECT_TRUE(apply_port_settings(b.port, "19200", "30"));
    EXPECT_TRUE(b.port.is_open());
    EXPECT_EQ(b.port.get_baud(), 19200u);
    EXPECT_EQ(b.port.get_timeout(), 30u);

    for (const char* bad : {"abc", "-5", ""}) {
        EXPECT_FALSE(apply_port_settings(b.port, "x", bad)) << bad;
        EXPECT_FALSE(b.port.is_open());
        EXPECT_EQ(b.port.get_timeout(), 100u);
        EXPECT_EQ(b.port.get_baud(), 115200u);
    }
    EXPECT_TRUE(apply_port_settings(b.port, "115200", "0"));
    EXPECT_EQ(b.port.get_timeout(), 0u);
}

}  // namespace
