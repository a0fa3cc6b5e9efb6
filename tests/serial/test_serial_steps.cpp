// Refusals that a real device cannot be made to give on demand: each step of
// the open and the write retry's order of calls.

#include <gtest/gtest.h>

#include "scripted_backend.h"
#include "serial/serial.h"
#include "support/recorder.h"

namespace {

TEST(SerialOpenSteps, EachRefusalGivesItsBoxAndLineAndLeavesThePortClosedAsFound) {
    const struct {
        const char* step;
        const char* box;
        const char* line;
    } cases[] = {
        {"save", "Unable to get Com timeouts", "Error: Unable to get Com timeouts"},
        {"timeouts", "Unable to set Com timeouts", "Error: Unable to set Com timeouts"},
        {"get_state", "Unable to get Com state", "Error: Unable to get Com state"},
        {"set_state", "Unable to set Com state", "Error: Unable toset Com state"},
        {"arm", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        Script s;
        s.refuse_step = c.step;
        Recorder rec;
        serial port(rec, "ttyS0", 100, std::make_unique<ScriptedBackend>(s));
        port.open();
        EXPECT_FALSE(port.is_open()) << c.step;
        // The driver may have taken part of a refused step: settings back.
        EXPECT_EQ(s.calls.back(), "restore") << c.step;
        if (c.box == nullptr) {
            EXPECT_TRUE(rec.boxes.empty());
            EXPECT_TRUE(rec.lines.empty());
            continue;
        }
        ASSERT_EQ(rec.boxes.size(), 1u) << c.step;
        EXPECT_EQ(rec.boxes[0].text, c.box);
        EXPECT_EQ(rec.boxes[0].caption, "Error");
        EXPECT_EQ(rec.boxes[0].icon, BoxIcon::Error);
        EXPECT_EQ(rec.lines, std::vector<std::string>{c.line});
    }
}

TEST(SerialWrite, RetriesOnceAfterReopenAndFramesWithRts) {
    Script s;
    s.write_failures = 1;
    Recorder rec;
    serial port(rec, "ttyS0", 100, std::make_unique<ScriptedBackend>(s));
    EXPECT_EQ(port.write("abc", 3), 3);
    EXPECT_EQ(rec.lines, std::vector<std::string>{"Warning: Re-Opening Com port while writing"});
    const std::vector<std::string> expected = {
        "open",  "save",    "timeouts", "get_state", "set_state", "arm",       "rts+",
        "write", "restore", "open",     "save",      "timeouts",  "get_state", "set_state",
        "arm",   "rts+",    "write",    "drain",     "rts-"};
    EXPECT_EQ(s.calls, expected);
    EXPECT_EQ(s.timeouts, (std::vector<int>{80, 80}));  // 10 * 3 + 50

    s.write_failures = 2;
    s.calls.clear();
    EXPECT_EQ(port.write("abc", 3), -1);
    EXPECT_EQ(rec.lines.back(), "Error: Unable to write to Com portxxx");
    EXPECT_EQ(s.calls.back(), "rts-");

    s.timeouts.clear();
    char buf[10];
    port.read(buf, 10);
    EXPECT_EQ(s.timeouts, std::vector<int>{200});  // 10 * 10 + 100
}

// A time-out change must not cycle the device: on Linux a close drops DTR and
// RTS and the next open raises them, which resets boards and keys RS-485
// transceivers in the middle of a transfer.
TEST(SerialTimeout, ChangeKeepsThePortOpenAndAppliesToTheNextRead) {
    Script s;
    Recorder rec;
    serial port(rec, "ttyS0", 100, std::make_unique<ScriptedBackend>(s));
    char buf[4];
    port.read(buf, 1);
    ASSERT_TRUE(port.is_open());
    s.calls.clear();
    s.timeouts.clear();

    port.set_timeout(1);
    port.read(buf, 1);
    port.flush_input();
    port.set_timeout(30);
    port.read(buf, 4);

    EXPECT_TRUE(port.is_open());
    EXPECT_TRUE(s.calls.empty());  // no close, no open, no settings
    EXPECT_EQ(s.timeouts, (std::vector<int>{11, 11, 70}));
    EXPECT_EQ(port.get_timeout(), 30u);

    // The saved settings still come back when the port is finally closed.
    port.close();
    EXPECT_EQ(s.calls, std::vector<std::string>{"restore"});
}

// Throwing away stale input reads single bytes with a 1 ms time-out either
// way. A failing read ends it without a word, or (for the drains between
// firmware blocks) is handled as any read is: the port opened anew and read
// once more.
TEST(SerialFlush, AFailingReadEndsItOrReopensThePort) {
    Script s;
    Recorder rec;
    serial port(rec, "ttyS0", 100, std::make_unique<ScriptedBackend>(s));
    s.read_failures = 1;
    port.flush_input();
    EXPECT_TRUE(rec.lines.empty());
    EXPECT_EQ(s.timeouts, std::vector<int>{11});
    ASSERT_TRUE(port.is_open());

    s.calls.clear();
    s.timeouts.clear();
    s.read_failures = 1;
    port.flush_input(serial::OnReadFailure::Reopen);
    EXPECT_EQ(rec.lines, std::vector<std::string>{"Warning: Re-Opening Com port while reading"});
    EXPECT_EQ(s.timeouts, (std::vector<int>{11, 11}));
    ASSERT_GE(s.calls.size(), 2u);
    EXPECT_EQ(s.calls[0], "restore");
    EXPECT_EQ(s.calls[1], "open");
    EXPECT_TRUE(port.is_open());
    EXPECT_EQ(port.get_timeout(), 100u);
}

}  // namespace
