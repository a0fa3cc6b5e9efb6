// The Windows serial backend end to end: a Windows program under Wine talks
// through COM5 to the simulated controller on a pseudo-terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "pty_speed.h"
#include "serial/serial.h"
#include "sim/sim.h"
#include "wine_run.h"

namespace {

class WineSerial : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = wine::missing_setup();
        ASSERT_TRUE(missing.empty())
            << "run through scripts/test-windows.sh (missing " << missing << ")";
        ASSERT_TRUE(wine::map_port(5, sim.path()));
    }
    wine::Result probe(const std::vector<std::string>& args,
                       const std::function<void(pid_t)>& tick = {}) {
        std::vector<std::string> all = {wine::program("tests/wine/serial_probe.exe")};
        all.insert(all.end(), args.begin(), args.end());
        return wine::run(all, std::chrono::seconds(120), tick);
    }
    SimController sim;
};

TEST_F(WineSerial, CommandsGoOutFramedAndRepliesComeBackAndTheLineIsLeftAsFound) {
    sim.set_register("C", 1234);
    SetLineSpeed(sim.path(), B9600);
    const auto r = probe({"COM5", "exchange", "C", "VER"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(wine::lines(r.out), (std::vector<std::string>{"reply: C+1234", "reply: VER"}));
    EXPECT_EQ(sim.received(), "#1C\r#1VER\r");
    EXPECT_EQ(sim.line_baud(), 9600u);
}

TEST_F(WineSerial, EveryByteValuePassesBothWaysUntouched) {
    // XON, XOFF, EOF, NUL, CR and LF are the bytes a driver likes to act on.
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    bool sent_back = false;
    const auto r = probe({"COM5", "bytes"}, [&](pid_t) {
        if (!sent_back && sim.received().size() >= all.size()) {
            sim.send_raw(all);
            sent_back = true;
        }
    });
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(sim.received(), all);
    std::string hex = "hex:";
    for (int b = 0; b < 256; ++b) {
        char h[4];
        std::snprintf(h, sizeof h, " %02x", b);
        hex += h;
    }
    EXPECT_EQ(wine::lines(r.out), (std::vector<std::string>{"wrote: 256", "read: 256", hex}));
}

TEST_F(WineSerial, QuietReadsEndAtTheirTimeOutAsItChangesBetweenReads) {
    sim.set_silent(true);
    const auto r = probe({"COM5", "quiet", "100", "600", "30"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<long> took;
    for (const auto& line : wine::lines(r.out)) {
        long timeout = 0;
        long got = 0;
        long ms = 0;
        char end = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "timeout %ld: read %ld after %ld ms%c", &timeout, &got,
                              &ms, &end),
                  3)
            << line;
        EXPECT_EQ(got, 0) << line;
        // 10 ms for the byte plus the time-out; the upper bound is loose for
        // a loaded machine, the lower one is not.
        EXPECT_GE(ms, timeout + 10 - 2) << line;
        EXPECT_LE(ms, timeout + 10 + 1500) << line;
        took.push_back(ms);
    }
    ASSERT_EQ(took.size(), 3u);
    EXPECT_GT(took[1], took[2] + 300);
}

TEST_F(WineSerial, PortListComesFromTheRegistryInNaturalOrder) {
    ASSERT_TRUE(wine::map_port(6, sim.path()));
    const auto r = probe({"COM5", "list"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> names;
    for (const auto& line : wine::lines(r.out)) {
        if (line.rfind("port: ", 0) == 0) names.push_back(line.substr(6));
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "COM5"), names.end()) << r.out;
    EXPECT_NE(std::find(names.begin(), names.end(), "COM6"), names.end()) << r.out;
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), natural_less)) << r.out;
}

TEST_F(WineSerial, MissingPortGivesTheOpenErrorLine) {
    const auto r = probe({"COM199", "exchange", "C"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto got = wine::lines(r.out);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "line: Error: Unable to open Com port \\\\.\\COM199");
    EXPECT_TRUE(sim.received().empty());
}

}  // namespace
