// Traced firmware writes and script runs against the simulated controller:
// the trace, read back, must hold exactly the bytes the controller received
// and sent, in calls bracketed by RTS and inside their operation's marks.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "bootloader/bootloader.h"
#include "bootloader/bootloader_support.h"
#include "motor/motor_com.h"
#include "script/script.h"
#include "serial/serial.h"
#include "serial/wire_trace.h"
#include "sim/sim.h"
#include "support/recorder.h"
#include "support/trace_support.h"

namespace {

std::shared_ptr<WireTrace> start(const std::string& path) {
    std::string error;
    auto trace = WireTrace::start(path, {"test 1", nullptr, WireTrace::kPartBytes}, error);
    EXPECT_TRUE(trace) << error;
    return trace;
}

// What every trace of a whole operation must show, whatever it did.
void expect_well_formed(const ReadBack& back) {
    EXPECT_TRUE(back.summary.read);
    EXPECT_TRUE(back.summary.ended);
    EXPECT_TRUE(back.summary.problems.empty());
    const auto& r = back.records;
    for (std::size_t i = 0; i < r.size(); ++i) {
        if (i > 0) {
            EXPECT_LE(r[i - 1].time_us, r[i].time_us) << r[i].line;
        }
        // Every write goes out between RTS on and RTS off.
        if (r[i].kind == "tx") {
            ASSERT_TRUE(i > 0 && i + 1 < r.size());
            EXPECT_EQ(r[i - 1].line.substr(r[i - 1].line.find(" rts")), " rts on");
            EXPECT_EQ(r[i + 1].line.substr(r[i + 1].line.find(" rts")), " rts off");
        }
    }
}

FirmwareImage TestImage() {
    FirmwareImage image;
    FillImage(image);
    // Programmed stretches with blank blocks between them, so that data and
    // clear frames both go out, and bytes of every value, CR and '#' too.
    for (std::uint32_t a = 0; a < 0x2000; ++a) {
        if (a % 4 != 3) image.bytes[a] = static_cast<std::uint8_t>(a * 7);
    }
    for (std::uint32_t a = 0x8000; a < 0x8100; ++a) {
        if (a % 4 != 3) image.bytes[a] = static_cast<std::uint8_t>(a);
    }
    return image;
}

class TracedWrite : public ::testing::TestWithParam<const char*> {};

TEST_P(TracedWrite, TheTraceHoldsWhatTheControllerReceivedAndSent) {
    ScratchDir dir;
    const std::string path = dir.file("write.trace");
    SimConfig config;
    config.start_in_bootloader = true;
    config.bootloader_version = GetParam();
    SimController sim(config);
    Recorder rec;
    TestWindow window;
    FirmwareImage image = TestImage();
    WriteLines(dir.file("fw.hex"), HexLinesOf(image));
    OpenHex(dir.file("fw.hex"), image, window);

    bool written = false;
    {
        serial port(rec, sim.path(), 20);
        port.set_trace(start(path));
        TraceOperation op(port, "write");
        written = WriteFirmware(port, image, rec, window);
        op.set_result(written);
        op.set_text(rec.last());
    }
    ASSERT_TRUE(written) << rec.last();
    ASSERT_FALSE(sim.frames().empty());

    const ReadBack back = read_back(path);
    expect_well_formed(back);
    EXPECT_EQ(back.bytes("tx"), sim.received());
    EXPECT_EQ(back.bytes("rx"), sim.sent());

    // Every frame went out in one write call; the marks hold the whole write.
    EXPECT_EQ(back.of_kind("tx").size(), sim.frames().size() + 1) << "the version query first";
    ASSERT_GE(back.records.size(), 3u);
    EXPECT_EQ(back.records.front().line.substr(back.records.front().line.find(" begin")),
              " begin write");
    const auto ends = back.of_kind("end");
    ASSERT_EQ(ends.size(), 1u);
    const auto end = parse_mark(ends[0]);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->result, "ok");
    EXPECT_EQ(end->text, "Firmware successfully written");
}

INSTANTIATE_TEST_SUITE_P(Modes, TracedWrite, ::testing::Values("02", "01", "4J"));

// A program killed in the middle of a write: what it recorded stays whole, and
// the trace lacks at most the one call that was under way.
TEST(TracedWrite, AProgramKilledMidWriteLeavesAReadableTrace) {
    ScratchDir dir;
    const std::string path = dir.file("killed.trace");
    TestWindow window;
    FirmwareImage image = TestImage();
    WriteLines(dir.file("fw.hex"), HexLinesOf(image));
    OpenHex(dir.file("fw.hex"), image, window);

    // The writer is forked before the simulator's threads exist, and learns
    // the simulator's port through a pipe.
    int to_child[2];
    ASSERT_EQ(::pipe(to_child), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(to_child[1]);
        std::string port_path;
        char c = 0;
        while (::read(to_child[0], &c, 1) == 1) port_path += c;
        std::string error;
        Recorder rec;
        // The paced simulator takes a whole frame's line time to acknowledge.
        serial port(rec, port_path, 150);
        port.set_trace(WireTrace::start(path, {"test 1", nullptr, WireTrace::kPartBytes}, error));
        if (!port.trace()) ::_exit(2);
        TraceOperation op(port, "write");
        op.set_result(WriteFirmware(port, image, rec, window));
        // The write was meant to be cut short; the parent shows why it was not.
        for (const auto& line : rec.lines) std::fprintf(stderr, "writer: %s\n", line.c_str());
        ::_exit(3);
    }
    ::close(to_child[0]);
    SimConfig config;
    config.start_in_bootloader = true;
    config.pace_baud = 115200;
    SimController sim(config);
    ASSERT_EQ(::write(to_child[1], sim.path().data(), sim.path().size()),
              static_cast<ssize_t>(sim.path().size()));
    ::close(to_child[1]);

    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sim.frames().size() < 3 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;
    // The bytes the writer had handed to the line reach the simulator still.
    std::size_t seen = 0;
    do {
        seen = sim.received().size();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    } while (sim.received().size() != seen);

    std::ifstream file(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << "a record was cut in two";

    const ReadBack back = read_back(path);
    EXPECT_TRUE(back.summary.read);
    EXPECT_TRUE(back.summary.problems.empty()) << back.summary.problems.front();
    EXPECT_FALSE(back.summary.ended);
    EXPECT_TRUE(back.of_kind("end").empty());
    ASSERT_EQ(back.of_kind("begin").size(), 1u);

    const std::string sent = back.bytes("tx");
    const std::string received = sim.received();
    ASSERT_GE(sim.frames().size(), 3u);
    ASSERT_LE(sent.size(), received.size());
    EXPECT_EQ(received.substr(0, sent.size()), sent);
    // Frames follow the version query; at most the frame under way is missing.
    std::size_t largest = 0;
    for (const SimFrame& f : sim.frames()) largest = std::max(largest, f.length);
    EXPECT_LE(received.size() - sent.size(), largest);
    EXPECT_GE(back.of_kind("tx").size(), 3u);
    const std::string got = back.bytes("rx");
    EXPECT_EQ(sim.sent().substr(0, got.size()), got);
}

// The window as a script run sees it.
class Host : public ScriptHost {
public:
    explicit Host(motor_com& motor) : motor_(motor) {}
    std::vector<std::string> lines;
    int line_count() override { return static_cast<int>(lines.size()); }
    std::string line(int index) override { return lines.at(static_cast<std::size_t>(index)); }
    bool save_log_checked() override { return false; }
    bool log_send_checked() override { return false; }
    bool repeat_checked() override { return false; }
    void set_motor_id_text(const std::string& text) override { motor_.set_id(std::stoi(text)); }
    std::string timeout_box_text() override { return "100"; }
    std::optional<std::string> ask_log_file_name() override { return std::nullopt; }
    void wait_cmd_timer(int ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

private:
    motor_com& motor_;
};

TEST(TracedScript, EachLineIsMarkedAndHoldsItsOwnExchange) {
    ScratchDir dir;
    const std::string path = dir.file("script.trace");
    SimConfig config;
    config.motor_ids = {1, 2};
    SimController sim(config);
    sim.set_register("pos", 5);
    Recorder rec;
    {
        serial port(rec, sim.path(), 100);
        motor_com motor(port);
        motor.set_id(1);
        Host host(motor);
        host.lines = {"pos", "", "#motor 2", "#tm10", "#ifeq(pos,5){", "  pos=7", "#}", "pos"};
        ScriptRunner runner(port, motor, rec, host);
        port.set_trace(start(path));
        runner.RunConfigScript(0);
    }
    ASSERT_EQ(rec.last(), "<- pos+7");

    const ReadBack all = read_back(path);
    expect_well_formed(all);
    EXPECT_EQ(all.bytes("tx"), sim.received());
    EXPECT_EQ(all.bytes("rx"), sim.sent());

    // One marked operation per line that is not empty, numbered from 1.
    std::vector<std::string> begun;
    for (const auto& r : all.of_kind("begin")) begun.push_back(parse_mark(r)->text);
    const std::vector<std::string> expected = {
        "line 1: pos",   "line 3: #motor 2", "line 4: #tm10", "line 5: #ifeq(pos,5){",
        "line 6: pos=7", "line 7: #}",       "line 8: pos"};
    EXPECT_EQ(begun, expected);

    // Within a command line's marks: its frame out, its reply in.
    struct Exchange {
        std::string line;
        std::string out;
        std::string in;
    };
    std::vector<Exchange> exchanges;
    ReadBack lines = read_back(path, {"script-line", {}, {}});
    for (const auto& r : lines.records) {
        if (r.kind == "begin") exchanges.push_back({parse_mark(r)->text, {}, {}});
        if (auto t = parse_transfer(r))
            (r.kind == "tx" ? exchanges.back().out : exchanges.back().in) += t->bytes;
    }
    ASSERT_EQ(exchanges.size(), 7u);
    EXPECT_EQ(exchanges[0].out, "#1pos\r");
    EXPECT_EQ(exchanges[0].in, "001pos+5\r");
    EXPECT_EQ(exchanges[2].out, "") << "a wait sends nothing";
    EXPECT_EQ(exchanges[3].out, "#2pos\r") << "the if asks motor 2";
    EXPECT_EQ(exchanges[4].out, "#2pos=7\r");
    EXPECT_EQ(exchanges[6].out, "#2pos\r");
    EXPECT_EQ(exchanges[6].in, "002pos+7\r");
    const auto last_end = parse_mark(lines.records.back());
    ASSERT_TRUE(last_end);
    EXPECT_EQ(last_end->text, "<- pos+7");
}

}  // namespace
