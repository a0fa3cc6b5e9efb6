// The command line's parsing and exit codes, and the commands that talk to a
// running controller one exchange at a time, against the simulator.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

#include "bootloader/bootloader_support.h"
#include "cli_support.h"
#include "sim/sim.h"

namespace {

using nlohmann::json;

class LineCommands : public CliTest {};

TEST_F(LineCommands, UsageErrorsExitWithTwoAndSayWhy) {
    struct Case {
        std::vector<std::string> args;
        const char* said;
    };
    const Case cases[] = {
        {{"frobnicate"}, "frobnicate"},
        {{"send", "VER"}, "--port"},
        {{"flash", "-p", "x", "--motor", "*", "f.hex"}, "not *"},
        {{"clear-eeprom", "-p", "x", "--motor", "*"}, "not *"},
        {{"send", "-p", "x", "--motor", "256", "VER"}, "1 ... 255"},
        {{"send", "-p", "x", "--motor", "0", "VER"}, "1 ... 255"},
        {{"send", "-p", "x", "-p", "y", "VER"}, "--port"},
        {{"scan", "-p", "x", "--from", "9", "--to", "3"}, "--from"},
        {{"dump", "flash", "-p", "x", "-o", "f.eed"}, "KIND"},
        {{"send", "-p", "x", "--baud", "fast", "VER"}, "--baud"},
    };
    for (const Case& c : cases) {
        const KfuRun run = RunKfu(c.args);
        EXPECT_EQ(run.exit_code, 2) << c.args[0];
        EXPECT_NE(run.err.find(c.said), std::string::npos) << c.args[0] << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
}

TEST_F(LineCommands, HelpListsTheExitCodesAndAUsageErrorCanBeJson) {
    const KfuRun help = RunKfu({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* code : {"0 ", "1 ", "2 ", "3 ", "4 ", "130"}) {
        EXPECT_NE(help.out.find("  " + std::string(code)), std::string::npos) << code;
    }
    const KfuRun run = RunKfu({"send", "--json", "VER"});
    ASSERT_EQ(run.exit_code, 2);
    const json doc = run.json();
    EXPECT_EQ(doc["exit_code"], 2);
    EXPECT_EQ(doc["result"], "usage");
    EXPECT_FALSE(doc["errors"].empty());
}

TEST_F(LineCommands, SendPrintsEachReplyAsTheConsoleShowsIt) {
    SimController sim;
    // Stale bytes from before the command must not be taken for its reply.
    sim.send_raw("001junk\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const KfuRun run = RunKfu({"send", "-p", sim.path(), ":baud", "(E5", "VER"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, ":baud+19200\n+5\nVER\n");
    const auto commands = sim.commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].target, "1");
    EXPECT_EQ(commands[1].command, "(E5");
}

TEST_F(LineCommands, SendToASilentMotorExitsWithOne) {
    SimConfig config;
    config.motor_ids = {2};
    SimController sim(config);
    const KfuRun run = RunKfu({"send", "-p", sim.path(), "--timeout", "20", "VER"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "\n");  // the console's empty line
    EXPECT_NE(run.err.find("no reply"), std::string::npos);

    const KfuRun all = RunKfu({"send", "-p", sim.path(), "--motor", "*", "VER"});
    EXPECT_EQ(all.exit_code, 0) << all.err;
    EXPECT_EQ(sim.commands().back().target, "*");
}

TEST_F(LineCommands, JsonHoldsTheResultLinesAndFigures) {
    SimController sim;
    const KfuRun run = RunKfu({"send", "--json", "-p", sim.path(), "VER", "(E7"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json doc = run.json();
    EXPECT_EQ(doc["command"], "send");
    EXPECT_EQ(doc["result"], "ok");
    EXPECT_EQ(doc["lines"], json({"VER", "+7"}));
    EXPECT_EQ(doc["figures"]["replies"][1]["reply"], "+7");
    EXPECT_EQ(doc["ports"][0]["port"], sim.path());
}

TEST_F(LineCommands, APortThatCannotBeOpenedExitsWithThree) {
    const KfuRun run = RunKfu({"test", "-p", "/nonexistent/ttyX"});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_TRUE(run.printed("Error: Unable to open Com port /nonexistent/ttyX"));
    EXPECT_NE(run.err.find("No such file"), std::string::npos);

    const KfuRun json_run = RunKfu({"send", "--json", "-p", "/nonexistent/ttyX", "VER"});
    EXPECT_EQ(json_run.exit_code, 3);
    EXPECT_EQ(json_run.json()["result"], "port");
}

TEST_F(LineCommands, TestAndPollShowTheExchangeAndExitByTheAnswer) {
    SimController sim;
    const KfuRun test = RunKfu({"test", "-p", sim.path()});
    EXPECT_EQ(test.exit_code, 0);
    EXPECT_EQ(test.out, "-> #1 \n<- 001FW 2.41\n");

    const KfuRun poll = RunKfu({"poll", "-p", sim.path()});
    EXPECT_EQ(poll.exit_code, 0);
    EXPECT_EQ(poll.out, "-> #1@S\r\n<- 001@OK\nDevice detected\n");

    SimController stubborn;
    stubborn.never_start_bootloader(true);
    const KfuRun gave_up =
        RunKfu({"poll", "-p", stubborn.path(), "--tries", "2", "--timeout", "20"});
    EXPECT_EQ(gave_up.exit_code, 1);
    EXPECT_EQ(std::count(gave_up.out.begin(), gave_up.out.end(), '\n'), 4);
    EXPECT_NE(gave_up.err.find("after 2 polls"), std::string::npos);
}

TEST_F(LineCommands, ScanListsTheMotorsThatAnswer) {
    SimConfig config;
    config.motor_ids = {3, 5};
    SimController sim(config);
    const KfuRun run =
        RunKfu({"scan", "--json", "-p", sim.path(), "--from", "1", "--to", "6", "--timeout", "20"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json answering = run.json()["figures"]["answering"];
    ASSERT_EQ(answering.size(), 2u);
    EXPECT_EQ(answering[0]["motor"], 3);
    EXPECT_EQ(answering[0]["reply"], "003FW 2.41");
    EXPECT_EQ(answering[1]["motor"], 5);

    const KfuRun none =
        RunKfu({"scan", "-p", sim.path(), "--from", "6", "--to", "7", "--timeout", "20"});
    EXPECT_EQ(none.exit_code, 1);
}

TEST_F(LineCommands, DoctorFindsTheRateTheControllerAnswersAt) {
    SimConfig config;
    config.only_baud = 19200;
    SimController sim(config);
    const KfuRun run = RunKfu({"doctor", "--json", "-p", sim.path(), "--timeout", "30"});
    EXPECT_EQ(run.exit_code, 1);
    const json doc = run.json();
    EXPECT_EQ(doc["figures"]["answering_baud"], 19200);
    const std::string verdict = doc["lines"].back();
    EXPECT_EQ(verdict,
              "Verdict: a controller answers at 19200 baud, not at 115200: use --baud 19200.");

    const KfuRun right = RunKfu({"doctor", "-p", sim.path(), "--baud", "19200", "--timeout", "30"});
    EXPECT_EQ(right.exit_code, 0) << right.out;
}

TEST_F(LineCommands, DoctorSeesAWaitingBootloaderAndABusyPort) {
    SimConfig config;
    config.start_in_bootloader = true;
    config.bootloader_version = "01";
    SimController sim(config);
    const KfuRun waiting = RunKfu({"doctor", "-p", sim.path()});
    EXPECT_EQ(waiting.exit_code, 0);
    EXPECT_NE(waiting.out.find("(version 01)"), std::string::npos) << waiting.out;
    EXPECT_NE(waiting.out.find("Verdict: the bootloader of motor 1 is waiting"), std::string::npos);

    const int holder = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const KfuRun busy = RunKfu({"doctor", "-p", sim.path()});
    ::close(holder);
    EXPECT_EQ(busy.exit_code, 3);
    EXPECT_NE(busy.out.find("Verdict: " + sim.path() + " is busy"), std::string::npos) << busy.out;
}

TEST_F(LineCommands, PortsListsWhatTheDialogWouldShow) {
    ::setenv("KFU_EXTRA_PORTS", "/tmp/kfu-test-a:/tmp/kfu-test-b", 1);
    const KfuRun run = RunKfu({"ports", "--json"});
    ::unsetenv("KFU_EXTRA_PORTS");
    ASSERT_EQ(run.exit_code, 0);
    const json ports = run.json()["figures"]["ports"];
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[0], "/tmp/kfu-test-a");
    EXPECT_EQ(ports[1], "/tmp/kfu-test-b");
}

TEST_F(LineCommands, AStopEndsPollingAtOnceWithTheStoppedCode) {
    SimController sim;
    sim.never_start_bootloader(true);
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cli::request_stop_for_tests();
    });
    const auto started = std::chrono::steady_clock::now();
    const KfuRun run = RunKfu({"poll", "-p", sim.path(), "--timeout", "20"});
    stopper.join();
    EXPECT_EQ(run.exit_code, 130);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_NE(run.err.find("stopped"), std::string::npos);
    EXPECT_TRUE(run.printed("Stopped: the poll was interrupted")) << run.out;
}

TEST_F(LineCommands, AStopEndsAScriptsTimerWaitAtOnce) {
    TempDir dir;
    const std::string script = dir.file("wait.cfg");
    WriteLines(script, {"#tm 60000", "VER"});
    SimController sim;
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cli::request_stop_for_tests();
    });
    const auto started = std::chrono::steady_clock::now();
    const KfuRun run = RunKfu({"run", "-p", sim.path(), script});
    stopper.join();
    EXPECT_EQ(run.exit_code, 130);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_TRUE(run.printed("Stopped: the script was interrupted")) << run.out;
    EXPECT_EQ(sim.received().find("VER"), std::string::npos);
}

TEST(ProgressBar, ShowsPercentageRateAndTimeLeft) {
    cli::Output out(stderr, stderr, false, false);
    EXPECT_EQ(out.progress_text(80), "");
    const int a = out.add_progress("ttyA");
    out.set_progress(a, 0.25, 1000);
    const std::string one = out.progress_text(80);
    EXPECT_NE(one.find("25%"), std::string::npos) << one;
    EXPECT_NE(one.find("B/s"), std::string::npos) << one;
    EXPECT_NE(one.find("left"), std::string::npos) << one;
    EXPECT_LE(one.size(), 79u);

    const int b = out.add_progress("ttyB");
    out.set_progress(b, 0.5, 1000);
    const std::string two = out.progress_text(200);
    EXPECT_NE(two.find("ttyA 25% | ttyB 50%"), std::string::npos) << two;
    out.end_progress(a);
    out.end_progress(b);
    EXPECT_EQ(out.progress_text(80), "");
    EXPECT_EQ(cli::format_duration(75), "1:15");
    EXPECT_EQ(cli::format_rate(11520), "11.5 kB/s");
}

}  // namespace
