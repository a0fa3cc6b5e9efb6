// motor_com end to end: the real serial class on a pseudo-terminal with the
// simulated controller at the other end.

#include "motor/motor_com.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "serial/serial.h"
#include "sim/sim.h"
#include "support/recorder.h"
#include "support/sim_bench.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Waits until the simulator has received `count` bytes (frames to motors it
// does not simulate get no reply to wait for).
std::string received_bytes(const SimController& sim, std::size_t count) {
    const auto end = Clock::now() + 2s;
    while (sim.received().size() < count && Clock::now() < end) std::this_thread::sleep_for(1ms);
    return sim.received();
}

using Bench = SimBench;

// Every command is answered with `reply_proper` behind the motor number.
void answer_with(SimController& sim, const std::string& reply_proper) {
    sim.set_responder([reply_proper](const std::string&) -> std::optional<std::string> { return reply_proper; });
}

TEST(MotorCom, FramesOnTheWire) {
    Bench b;
    b.motor.set_id(7);
    b.motor.send("(E100");
    EXPECT_EQ(received_bytes(b.sim, 8), "\x23\x37\x28\x45\x31\x30\x30\x0D");

    const struct {
        int id;
        std::string command;
        std::string frame;
    } cases[] = {
        {0, "@S", "#*@S\r"}, {300, "A", "#255A\r"}, {-4, "A", "#*A\r"}, {3, "", "#3\r"}, {1, "A", "#1A\r"},
    };
    for (const auto& c : cases) {
        b.sim.clear_log();
        b.motor.set_id(c.id);
        b.motor.send(c.command);
        EXPECT_EQ(received_bytes(b.sim, c.frame.size()), c.frame) << "set_id(" << c.id << ")";
    }
    EXPECT_EQ(b.motor.id(), 1);
    const auto commands = b.sim.commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back().target, "1");
    EXPECT_EQ(commands.back().command, "A");
}

TEST(MotorCom, ReplyLinesLoseMotorNumberAndCr) {
    Bench b(plain_ids());
    const struct {
        std::string proper;  // behind the simulator's "1"
        std::string text;
    } cases[] = {{"A", "A"}, {"2", "2"}, {"", "1"}, {"23A", "A"}, {"+5", "+5"}};
    for (const auto& c : cases) {
        answer_with(b.sim, c.proper);
        EXPECT_EQ(b.motor.query("x"), c.text) << "reply 1" << c.proper;
    }
    EXPECT_EQ(b.sim.received(), "#1x\r#1x\r#1x\r#1x\r#1x\r");
}

TEST(MotorCom, NumbersInReplies) {
    Bench b(plain_ids());
    const struct {
        std::string proper;
        int number;
    } cases[] = {{"Z123", 123}, {"-45", -45}, {"A5", 0}, {":baud+19200", 19200}, {"+7", 7}, {"x12ms", 12}};
    for (const auto& c : cases) {
        answer_with(b.sim, c.proper);
        EXPECT_EQ(b.motor.query_number("q"), c.number) << c.proper;
    }
    b.sim.set_silent(true);
    EXPECT_EQ(b.motor.query_number("q"), 0);
}

TEST(MotorCom, ReplyWithoutCrEndsAtTheTimeOut) {
    Bench b(plain_ids(), 50);
    b.sim.send_raw("1A");
    const auto start = Clock::now();
    EXPECT_EQ(b.motor.read_reply(), "A");
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 50ms);
    EXPECT_LT(waited, 500ms);
}

TEST(MotorCom, CompleteRepliesCostNoTimeOut) {
    Bench b({}, 300);
    const auto start = Clock::now();
    for (int a = 0; a < 20; ++a) EXPECT_EQ(b.motor.query("(E" + std::to_string(a)), "+" + std::to_string(a));
    EXPECT_LT(Clock::now() - start, 300ms);
}

TEST(MotorCom, LongReplyIsCutAndTheRestStays) {
    Bench b;
    std::string long_line;
    for (int i = 0; i < 300; ++i) long_line += static_cast<char>('a' + i % 26);
    b.sim.send_raw(long_line);
    EXPECT_EQ(b.motor.read_reply(), long_line.substr(0, 256));
    EXPECT_EQ(b.motor.read_reply(), long_line.substr(256));
}

TEST(MotorCom, GarbageAndSplitReplies) {
    Bench b;
    // Nothing is discarded before a query: a stray line is read as the reply,
    // and the real reply is the next one.
    b.sim.send_raw(std::string("\x01\xFFjunk\0\r", 8));
    EXPECT_EQ(b.motor.query("(E5"), std::string("\x01\xFFjunk\0", 7));
    EXPECT_EQ(b.motor.read_reply(), "+5");

    b.sim.garble_replies(1);
    EXPECT_EQ(b.motor.query_number("(E9"), 0);
    EXPECT_EQ(b.motor.query_number("(E9"), 9);

    b.sim.split_replies(true);
    EXPECT_EQ(b.motor.query("(E77"), "+77");
    EXPECT_EQ(b.motor.query_number(":baud"), 19200);
}

TEST(MotorCom, BytesToText) {
    const unsigned char buffer[] = {0x40, 0x4F, 0x4B, 0x0D, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(bytes_to_text(buffer, sizeof buffer), "@OK\r");
    const unsigned char inner[] = {0x31, 0x00, 0x0A, 0x32, 0xFF};
    EXPECT_EQ(bytes_to_text(inner, 4), "12");
    EXPECT_EQ(bytes_to_text(inner, 0), "");
}

}  // namespace

namespace {

// A controller that talks without a pause must not hold any of the discard
// loops: each gives up after a bounded number of bytes.
TEST(DiscardInput, EndsAgainstAControllerThatNeverStopsTalking) {
    Bench b;
    b.sim.set_debug_every(1ms, std::string(60, 'x') + "\r");
    std::this_thread::sleep_for(20ms);

    Recorder events;
    const auto start = Clock::now();
    discard_input(b.port, &events);
    EXPECT_GT(events.events, 0);
    EXPECT_LE(events.events, kMaxDiscardBytes);
    b.port.flush_input();
    b.port.set_timeout(1);
    discard_input(b.port);
    EXPECT_LT(Clock::now() - start, 20s);
    b.sim.set_debug_every(0ms, "");
}

}  // namespace
