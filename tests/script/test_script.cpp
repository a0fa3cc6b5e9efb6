#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "motor/motor_com.h"
#include "motor/motor_id.h"
#include "script/script.h"
#include "serial/memory_backend.h"
#include "serial/serial.h"
#include "sim/sim.h"
#include "support/recorder.h"

namespace fs = std::filesystem;

namespace {

// The window as a script run sees it.
class TestHost : public ScriptHost {
public:
    TestHost(motor_com& motor, Reporter& out) : motor_(motor), out_(out) {}

    std::vector<std::string> lines;
    bool save_log = false;
    bool log_send = true;
    bool repeat = false;
    std::string motor_box = "1";
    std::string timeout_text = "100";
    std::deque<std::optional<std::string>> dialog_answers;
    int dialogs = 0;
    std::vector<int> waits;

    int line_count() override { return static_cast<int>(lines.size()); }
    std::string line(int index) override { return lines.at(static_cast<std::size_t>(index)); }
    bool save_log_checked() override { return save_log; }
    bool log_send_checked() override { return log_send; }
    bool repeat_checked() override { return repeat; }
    void set_motor_id_text(const std::string& text) override {
        const MotorIdChoice choice = choose_motor_id(text);
        motor_box = choice.text;
        motor_.set_id(choice.id);
    }
    std::string timeout_box_text() override { return timeout_text; }
    std::optional<std::string> ask_log_file_name() override {
        ++dialogs;
        if (dialog_answers.empty()) return std::nullopt;
        auto answer = dialog_answers.front();
        dialog_answers.pop_front();
        return answer;
    }
    void wait_cmd_timer(int ms) override {
        waits.push_back(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        out_.process_events();
    }

private:
    motor_com& motor_;
    Reporter& out_;
};

SimConfig two_motors() {
    SimConfig config;
    config.motor_ids = {1, 2};
    return config;
}

class ScriptTest : public ::testing::Test {
protected:
    ScriptTest()
        : sim(two_motors()),
          port(rec, sim.path(), 100),
          motor(port),
          host(motor, rec),
          runner(port, motor, rec, host) {
        sim.set_register("pos", 5);
        char pattern[] = "/tmp/kfu-script-XXXXXX";
        dir = mkdtemp(pattern);
    }
    ~ScriptTest() override { fs::remove_all(dir); }

    std::string slurp(const std::string& name) const {
        std::ifstream in(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> sent() const {
        std::vector<std::string> out;
        for (const auto& c : sim.commands()) out.push_back(c.target + ":" + c.command);
        return out;
    }

    SimController sim;
    Recorder rec;
    serial port;
    motor_com motor;
    TestHost host;
    ScriptRunner runner;
    std::string dir;
};

using Lines = std::vector<std::string>;

TEST_F(ScriptTest, MixedScriptShowsAndLogsEveryStepAndAppendsOnLaterPassesAndRuns) {
    host.lines = {
        "#output hello",      // 0
        "pos",                // 1
        "  #motor 2",         // 2
        "pos",                // 3
        "#tm20",              // 4
        "#ifeq( pos , 5 ){",  // 5: holds
        "  #ifgt(pos,+10){",  // 6: does not hold, skips to 8
        "    never",          // 7
        "  #}",               // 8
        "  inner",            // 9
        "#} end of block",    // 10
        "",                   // 11
        "last",               // 12
    };
    host.save_log = true;
    host.repeat = true;
    host.dialog_answers.push_back(dir + "/run1");
    // "Repeat" is unchecked while the second pass ends.
    rec.on_events = [&] {
        if (std::count(rec.lines.begin(), rec.lines.end(), "<- last") == 2) host.repeat = false;
    };

    runner.RunConfigScript(0);

    const Lines pass = {"->  hello",   "-> pos",   "<- pos+5", "-> pos", "<- pos+5",
                        "== Timer 20", "-> pos",   "<- pos+5", "-> pos", "<- pos+5",
                        "-> inner",    "<- inner", "-> last",  "<- last"};
    Lines both = pass;
    both.insert(both.end(), pass.begin(), pass.end());
    EXPECT_EQ(rec.lines, both);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(host.dialogs, 1);
    EXPECT_EQ(host.waits, (std::vector<int>{20, 20}));
    EXPECT_EQ(host.motor_box, "2");
    // The second pass starts where "#motor" left the motor number.
    EXPECT_EQ(sent(), (Lines{"1:pos", "2:pos", "2:pos", "2:pos", "2:inner", "2:last", "2:pos",
                             "2:pos", "2:pos", "2:pos", "2:inner", "2:last"}));

    const std::string log_pass =
        "<-  hello\r\n"
        "-> pos\r\n<- pos+5\r\n"
        "<- motor: 2\r\n"
        "-> pos\r\n<- pos+5\r\n"
        "==tm20\r\n"
        "==#ifeq( pos , 5 ){\r\n->pos\r\n->pos+5\r\nif-result: true\r\n"
        "==#ifgt(pos,+10){\r\n->pos\r\n->pos+5\r\nif-result: false\r\n"
        "-> inner\r\n<- inner\r\n"
        "-> last\r\n<- last\r\n";
    EXPECT_EQ(runner.ScriptLogName, dir + "/run1.log");
    EXPECT_EQ(slurp(dir + "/run1.log"), log_pass + log_pass);
    EXPECT_EQ(port.get_timeout(), 100u);

    // "Repeat" was unchecked when the run ended, so the next run asks again;
    // the same name goes on appending to the same log.
    EXPECT_FALSE(runner.ScriptRepeating);
    rec.on_events = nullptr;
    host.dialog_answers.push_back(dir + "/run1");
    runner.RunConfigScript(0);
    EXPECT_EQ(host.dialogs, 2);
    EXPECT_EQ(slurp(dir + "/run1.log"), log_pass + log_pass + log_pass);
    EXPECT_FALSE(runner.ScriptRepeating);
}

TEST_F(ScriptTest, EmptyAndBlankLinesAndQuietSendOption) {
    sim.set_responder([](const std::string& command) -> std::optional<std::string> {
        if (command.empty()) return std::string("blank");
        return std::nullopt;
    });
    host.lines = {"", "   ", "#output", "", "\t", "A"};
    host.log_send = false;
    host.save_log = true;
    host.dialog_answers.push_back(dir + "/quiet.log");

    runner.RunConfigScript(0);

    EXPECT_EQ(rec.lines, (Lines{"<- blank", "-> ", "<- blank", "<- A"}));
    EXPECT_EQ(sent(), (Lines{"1:", "1:", "1:A"}));
    // The ".log" ending is added even when the name already has it.
    EXPECT_EQ(slurp(dir + "/quiet.log.log"), "<- blank\r\n<- \r\n<- blank\r\n<- A\r\n");
}

TEST_F(ScriptTest, InterpreterStopsTheRunWithItsMessage) {
    struct Case {
        Lines script;
        Lines messages;
        Lines sent;
    };
    const std::vector<Case> cases = {
        // Text after "{" counts as a missing "{"; the first line is line 0.
        {{"A", "#ifeq(pos,5){ x", "#}", "B"},
         {"-> A", "<- A", "Missing '{' at end of Line 1"},
         {"1:A"}},
        // A broken nested block stops the run before the outer command is sent.
        {{"#ifeq(pos,5){", "  #iflt(pos,9)", "#}", "#}", "B"},
         {"Missing '{' at end of Line 1"},
         {}},
        // The if-type is matched as written, after both numbers were read.
        {{"#IFEQ(pos,5){", "X", "#}"},
         {"-> pos", "<- pos+5", "Unkown IF Statement type in Line: 0"},
         {"1:pos"}},
    };
    for (const Case& c : cases) {
        rec.lines.clear();
        sim.clear_log();
        host.lines = c.script;
        host.repeat = true;  // not looked at after a stop
        host.timeout_text = "150";
        runner.RunConfigScript(0);
        EXPECT_EQ(rec.lines, c.messages) << c.script[1];
        EXPECT_EQ(sent(), c.sent) << c.script[1];
        EXPECT_EQ(port.get_timeout(), 150u);
        EXPECT_TRUE(rec.boxes.empty());
    }
}

TEST_F(ScriptTest, UnreadableNumberEndsTheRunInAnErrorBox) {
    struct Case {
        std::string if_line;
        std::string timeout_text;
        std::string error;
        std::uint32_t timeout;
    };
    const std::vector<Case> cases = {
        {"#ifeq(pos, abc){", "150", "'abc' is not a valid integer value", 150},
        // An echoed command with no number behind it; the reply is read first.
        {"#ifeq(foo, zz){", "junk", "'' is not a valid integer value", 200},
    };
    host.save_log = true;
    host.dialog_answers.push_back(dir + "/err");
    for (const Case& c : cases) {
        rec.boxes.clear();
        sim.clear_log();
        host.lines = {c.if_line, "#}", "B"};
        host.timeout_text = c.timeout_text;
        runner.RunConfigScript(0);
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(rec.boxes[0].text, c.error);
        EXPECT_EQ(rec.boxes[0].caption, "Error");
        EXPECT_EQ(rec.boxes[0].icon, BoxIcon::Error);
        EXPECT_EQ(port.get_timeout(), c.timeout);
        EXPECT_EQ(sent().size(), 1u) << "B must not be sent";
    }
    // Both log files were closed with their entries on disk.
    EXPECT_EQ(slurp(dir + "/err.log"),
              "==#ifeq(pos, abc){\r\n->pos\r\n->pos+5\r\n==#ifeq(foo, zz){\r\n->foo\r\n->foo\r\n");
}

TEST_F(ScriptTest, DirectiveResults) {
    host.lines = {"#ifeq(pos,5){", "A", "#}", "B", "#ifneq(pos,5){", "#iflt(pos,1){", "#}", "C"};
    EXPECT_EQ(runner.ExecuteScriptLine("#ifeq(pos,5){", 0), 1);
    EXPECT_EQ(runner.ExecuteScriptLine("#ifgt(pos,$5){", 0), 2);
    // No closing line for the outer block: the pass ends instead of looping.
    EXPECT_EQ(runner.ExecuteScriptLine("#ifneq(pos,5){", 4), 8);
    EXPECT_EQ(runner.ExecuteScriptLine("#iflt(pos,6){", 4), 5);
    // A reply number with a "+" compares equal to the same number without it.
    sim.set_register("neg", -3);
    EXPECT_EQ(runner.ExecuteScriptLine("#ifeq(neg,-3){", 0), 1);
    for (const char* line : {"#}", "#} done", "# a comment", "#", "#unknown 3"}) {
        EXPECT_EQ(runner.ExecuteScriptLine(line, 3), 4) << line;
    }
    EXPECT_EQ(rec.lines, (Lines{"-> pos", "<- pos+5", "-> pos", "<- pos+5", "-> pos", "<- pos+5",
                                "-> pos", "<- pos+5", "-> neg", "<- neg+-3"}));
}

TEST_F(ScriptTest, RunWithUnclosedFalseBlockEndsThePass) {
    host.lines = {"A", "#ifeq(pos,6){", "B"};
    runner.RunConfigScript(0);
    EXPECT_EQ(sent(), (Lines{"1:A", "1:pos"}));
}

// A reply that comes after its line was given up (here during a "#tm" wait)
// is not taken as the next line's.
TEST_F(ScriptTest, ALateReplyIsNotTakenForTheNextLine) {
    sim.set_responder([](const std::string& command) -> std::optional<std::string> {
        if (command == "SLOW") std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return std::nullopt;
    });
    host.lines = {"SLOW", "#tm 200", "FAST"};
    EXPECT_TRUE(runner.RunConfigScript(0));
    EXPECT_EQ(rec.lines, (Lines{"-> SLOW", "<- ", "== Timer 200", "-> FAST", "<- FAST"}));
}

TEST_F(ScriptTest, MotorOutputAndTimerLines) {
    host.save_log = true;
    runner.ScriptLogName = dir + "/direct.log";
    for (const char* line : {"#motor 3", "#motor3", "#MOTOR 3"}) {
        motor.set_id(1);
        EXPECT_EQ(runner.ExecuteScriptLine(line, 0), 1);
        EXPECT_EQ(host.motor_box, "3");
        EXPECT_EQ(motor.id(), 3);
    }
    EXPECT_EQ(runner.ExecuteScriptLine("#motor 0", 0), 1);
    EXPECT_EQ(host.motor_box, "1");
    EXPECT_EQ(runner.ExecuteScriptLine("#output", 0), 1);
    EXPECT_EQ(runner.ExecuteScriptLine("#Output  two", 0), 1);
    host.log_send = false;
    for (const char* line : {"#tm", "#tm x", "#tm0", "#tm-5"}) {
        EXPECT_EQ(runner.ExecuteScriptLine(line, 7), 8);
    }
    host.log_send = true;
    EXPECT_EQ(runner.ExecuteScriptLine("#TM 30", 0), 1);
    // Without a positive time there is nothing to wait for.
    EXPECT_EQ(host.waits, (std::vector<int>{100, 100, 30}));
    EXPECT_EQ(rec.lines, (Lines{"-> ", "->   two", "== Timer 30"}));
    EXPECT_EQ(slurp(runner.ScriptLogName),
              "<- motor: 3\r\n<- motor: 3\r\n<- motor: 3\r\n<- motor: 0\r\n<- \r\n<-   two\r\n"
              "==tm100\r\n==tm100\r\n==tm0\r\n==tm-5\r\n==tm30\r\n");
    EXPECT_TRUE(sent().empty());
}

TEST_F(ScriptTest, LogFileChoices) {
    host.lines = {"A"};
    host.save_log = true;

    // Cancelled on the first run: the run goes on and nothing is logged.
    runner.RunConfigScript(0);
    EXPECT_EQ(host.dialogs, 1);
    EXPECT_EQ(runner.ScriptLogName, "");
    EXPECT_EQ(rec.lines, (Lines{"-> A", "<- A"}));

    // A log that cannot be created is said once, and the run still goes on.
    rec.lines.clear();
    host.dialog_answers.push_back(dir + "/missing/run");
    runner.RunConfigScript(0);
    EXPECT_EQ(rec.lines, (Lines{"Error: Could not open script log " + dir +
                                    "/missing/run.log: No such file or directory",
                                "-> A", "<- A"}));

    // An empty script with "Repeat" asks once and goes on until unchecked.
    rec.lines.clear();
    host.lines.clear();
    host.repeat = true;
    host.dialog_answers.push_back(dir + "/empty");
    int passes = 0;
    rec.on_events = [&] {
        if (++passes == 5) host.repeat = false;
    };
    runner.RunConfigScript(0);
    EXPECT_EQ(passes, 5);
    EXPECT_EQ(host.dialogs, 3);
    EXPECT_TRUE(fs::exists(dir + "/empty.log"));
    EXPECT_TRUE(rec.lines.empty());
    rec.on_events = nullptr;

    // That run ended with "Repeat" unchecked: the next run with "Save Log"
    // asks for its log instead of going on without one.
    host.lines = {"B"};
    host.dialog_answers.push_back(dir + "/after");
    runner.RunConfigScript(0);
    EXPECT_EQ(host.dialogs, 4);
    EXPECT_EQ(slurp(dir + "/after.log"), "-> B\r\n<- B\r\n");

    // A run stopped while "Repeat" is checked leaves the next run appending to
    // the log it had, without asking (a cancelled question keeps the name).
    host.lines = {"#ifeq(pos,5){ x"};
    host.repeat = true;
    runner.RunConfigScript(0);
    EXPECT_EQ(host.dialogs, 5);
    EXPECT_TRUE(runner.ScriptRepeating);
    host.repeat = false;
    host.lines = {"D"};
    runner.RunConfigScript(0);
    EXPECT_EQ(host.dialogs, 5);
    const std::string log = slurp(dir + "/after.log");
    EXPECT_TRUE(log.starts_with("-> B\r\n<- B\r\n")) << log;
    EXPECT_TRUE(log.ends_with("-> D\r\n<- D\r\n")) << log;
}

TEST_F(ScriptTest, RepeatingStateWithoutALogNameStillAsksForOne) {
    // Stopped by the interpreter while "Repeat" was checked, before any log was
    // chosen: the next run has nothing to append to and asks, once.
    host.lines = {"#ifeq(pos,5){ x"};
    host.repeat = true;
    runner.RunConfigScript(0);
    ASSERT_TRUE(runner.ScriptRepeating);
    EXPECT_EQ(host.dialogs, 0);

    host.lines = {"A"};
    host.save_log = true;
    int passes = 0;
    rec.on_events = [&] {
        if (++passes == 4) host.repeat = false;
    };
    runner.RunConfigScript(0);  // cancelled: the passes go on unlogged, asked once
    EXPECT_EQ(host.dialogs, 1);
    host.dialog_answers.push_back(dir + "/late");
    runner.RunConfigScript(0);
    EXPECT_EQ(host.dialogs, 2);
    EXPECT_EQ(slurp(dir + "/late.log"), "-> A\r\n<- A\r\n");
}

// A controller's reply may hold NUL bytes; the error box quotes it whole.
TEST(ScriptErrors, TheErrorBoxCarriesTheWholeReply) {
    Recorder rec;
    auto backend = std::make_unique<MemoryBackend>();
    MemoryBackend& line = *backend;
    line.on_write = [&line](const std::uint8_t*, std::size_t) {
        line.queue(std::string("1pos\xFF\0abc\r", 10));
    };
    serial port(rec, "mem0", 100, std::move(backend));
    motor_com motor(port);
    TestHost host(motor, rec);
    ScriptRunner runner(port, motor, rec, host);
    host.lines = {"#ifeq(pos,3){", "#}"};

    runner.RunConfigScript(0);

    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, std::string("'\xFF\0abc' is not a valid integer value", 36));
    EXPECT_EQ(rec.boxes[0].caption, "Error");
    EXPECT_EQ(port.get_timeout(), 100u);
}

// A stop (the command line's Ctrl+C, the window closing) ends a repeating
// run between lines and between passes, with one line and the port's read
// time-out given back.
TEST_F(ScriptTest, AStopEndsARepeatingRun) {
    host.lines = {"A", "B"};
    host.repeat = true;
    rec.stop_when = [this] { return sim.commands().size() >= 3; };
    runner.RunConfigScript(0);
    EXPECT_EQ(sent(), (Lines{"1:A", "1:B", "1:A"}));
    EXPECT_EQ(rec.last(), "Stopped: the script was interrupted");
    EXPECT_EQ(port.get_timeout(), 100u);

    // Between passes as well.
    rec.lines.clear();
    sim.clear_log();
    host.lines = {"C"};
    int passes = 0;
    rec.stop_when = [&] { return passes >= 2; };
    rec.on_events = [&] { passes = static_cast<int>(sim.commands().size()); };
    runner.RunConfigScript(0);
    EXPECT_EQ(sent(), (Lines{"1:C", "1:C"}));
    EXPECT_EQ(rec.last(), "Stopped: the script was interrupted");
}

}  // namespace
