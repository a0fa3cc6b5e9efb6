// clear-eeprom (with its backup), upload, run and dump against the simulator.

#include <fstream>
#include <iterator>

#include "bootloader/bootloader_support.h"
#include "cli_support.h"
#include "sim/sim.h"

namespace {

using nlohmann::json;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class MaintenanceCommands : public CliTest {
protected:
    SimConfig Fast() {
        SimConfig config;
        config.eeprom_clear_delay_ms = 50;
        return config;
    }
    TempDir dir;
};

TEST_F(MaintenanceCommands, ClearEepromReportsOkOrFailed) {
    SimController sim(Fast());
    const KfuRun run = RunKfu({"clear-eeprom", "-p", sim.path()});
    EXPECT_EQ(run.exit_code, 0) << run.out;
    EXPECT_EQ(run.out, "Clear EEPROM\n001~\r\nOK\n");
    EXPECT_EQ(sim.eeprom_clears(), 1);

    SimController one_digit(Fast());
    one_digit.short_eeprom_ack(true);
    const KfuRun failed = RunKfu({"clear-eeprom", "-p", one_digit.path(), "--timeout", "20"});
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_TRUE(failed.printed("FAILED"));
}

TEST_F(MaintenanceCommands, TheBackupComesFirstAndWhole) {
    SimController sim(Fast());
    sim.set_eeprom(0x4000, 0x5A);
    const std::string backup = dir.file("before.eed");
    const KfuRun run = RunKfu({"clear-eeprom", "-p", sim.path(), "--backup", backup});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(sim.eeprom_clears(), 1);
    const std::string text = ReadFile(backup);
    EXPECT_EQ(text.substr(0, 13), "0x0000\t 00 01");
    EXPECT_EQ(text.substr(text.size() - 10), "0x4000\t 5A");
    EXPECT_EQ(sim.eeprom(0x4000), 0xFF);
}

TEST_F(MaintenanceCommands, NoClearWithoutACompleteBackup) {
    // The file cannot be created.
    SimController sim(Fast());
    const KfuRun unwritable =
        RunKfu({"clear-eeprom", "-p", sim.path(), "--backup", dir.file("no/such/dir/b.eed")});
    EXPECT_EQ(unwritable.exit_code, 4);
    EXPECT_NE(unwritable.err.find("the EEPROM was not cleared"), std::string::npos);
    EXPECT_EQ(sim.eeprom_clears(), 0);

    // An address went unanswered: the file would hold a made-up value.
    SimController lossy(Fast());
    int asked = 0;  // counted on the simulator's thread only
    lossy.set_responder([&](const std::string& command) -> std::optional<std::string> {
        if (command.rfind("(E", 0) == 0 && ++asked == 100) lossy.drop_replies(1);
        return std::nullopt;
    });
    const std::string backup = dir.file("lossy.eed");
    const KfuRun partial = RunKfu(
        {"clear-eeprom", "-p", lossy.path(), "--backup", backup, "--timeout", "30", "--json"});
    EXPECT_EQ(partial.exit_code, 1) << partial.err;
    EXPECT_EQ(lossy.eeprom_clears(), 0);
    EXPECT_EQ(partial.json()["figures"]["backup"]["unanswered"], 1);
}

TEST_F(MaintenanceCommands, UploadSendsTheProgramAndChecksEveryEcho) {
    const std::string prg = dir.file("program.prg");
    std::ofstream(prg, std::ios::binary) << std::string("\x34\x12\x78\x56\x01\x00", 6);

    SimController sim;
    const KfuRun run = RunKfu({"upload", "-p", sim.path(), prg});
    EXPECT_EQ(run.exit_code, 0) << run.out;
    EXPECT_EQ(run.out, "(JS\n(JI\n");
    const auto commands = sim.commands();
    ASSERT_EQ(commands.size(), 5u);
    EXPECT_EQ(commands[1].command, "(J4660");
    EXPECT_EQ(commands[2].command, "(J153208");

    SimController wrong;
    wrong.wrong_echo_at(1);
    const KfuRun failed = RunKfu({"upload", "-p", wrong.path(), prg});
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_NE(failed.out.find("comm error:\n->(J153208\n<-(j153208\n"), std::string::npos)
        << failed.out;

    const std::string empty = dir.file("empty.prg");
    std::ofstream(empty, std::ios::binary) << "x";
    EXPECT_EQ(RunKfu({"upload", "-p", sim.path(), empty}).exit_code, 4);
}

TEST_F(MaintenanceCommands, RunRepeatsTheScriptAndKeepsItsLog) {
    const std::string script = dir.file("setup.cfg");
    WriteLines(script, {"#output start", "o=250", "#ifeq(o, 250){", "#output set", "#}", "#tm1"});
    const std::string log = dir.file("setup.log");

    SimController sim;
    const KfuRun run =
        RunKfu({"run", "--json", "-p", sim.path(), script, "--log", log, "--repeat", "2"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const json doc = run.json();
    EXPECT_EQ(doc["figures"]["passes"], 2);
    const auto& lines = doc["lines"];
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "->  set"), 2) << lines;
    EXPECT_EQ(sim.get_register("o"), 250);

    const std::string written = ReadFile(log);
    EXPECT_EQ(written.rfind("<-  start\r\n-> o=250\r\n<- o=250\r\n", 0), 0u) << written;
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2 * 9);
}

TEST_F(MaintenanceCommands, RunExitsWithOneWhenTheControllerDoesNotAnswer) {
    const std::string script = dir.file("broken.cfg");
    WriteLines(script, {"VER", "#ifeq(VER,1)"});  // no "{": the run stops there
    SimController sim;
    const KfuRun stopped = RunKfu({"run", "-p", sim.path(), script});
    EXPECT_EQ(stopped.exit_code, 1);
    EXPECT_TRUE(stopped.printed("Missing '{' at end of Line 1"));

    WriteLines(script, {"VER", "#motor 9", "VER"});
    const KfuRun unanswered = RunKfu({"run", "-p", sim.path(), script, "--timeout", "20"});
    EXPECT_EQ(unanswered.exit_code, 1);
    EXPECT_NE(unanswered.err.find("1 command lines got no reply (first: line 3)"),
              std::string::npos)
        << unanswered.err;
}

TEST_F(MaintenanceCommands, RunWithALogThatCannotBeWrittenSendsNothing) {
    const std::string script = dir.file("s.cfg");
    WriteLines(script, {"VER"});
    SimController sim;
    const KfuRun run = RunKfu({"run", "-p", sim.path(), script, "--log", dir.file("no/dir/x.log")});
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_EQ(sim.received(), "");
}

TEST_F(MaintenanceCommands, DumpWritesTheFileAndSaysWhenAddressesWentUnanswered) {
    SimController sim;
    const std::string file = dir.file("crash.eed");
    const KfuRun run = RunKfu({"dump", "crash", "-p", sim.path(), "-o", file});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const std::string text = ReadFile(file);
    EXPECT_EQ(text.substr(0, 24), "0x1D00\t 00 01 02 03 04 0");
    EXPECT_EQ(text.substr(text.size() - 8), "\n0x1E00\t");

    SimConfig elsewhere;
    elsewhere.motor_ids = {2};
    SimController silent(elsewhere);
    const KfuRun lost =
        RunKfu({"dump", "crash", "-p", silent.path(), "-o", file, "--timeout", "1"});
    EXPECT_EQ(lost.exit_code, 1);
    EXPECT_TRUE(
        lost.printed("Warning: 256 addresses got no reply and read 00 in the dump (first: 0x1D00)"))
        << lost.out;
    EXPECT_NE(lost.err.find("is incomplete"), std::string::npos) << lost.err;

    const KfuRun unwritable = RunKfu({"dump", "core", "-p", sim.path(), "-o", dir.file("x/y.eed")});
    EXPECT_EQ(unwritable.exit_code, 4);
}

// The link test reads ten bytes of an eleven-byte reply and leaves its CR
// waiting; whatever runs next on the line must not take it for its own.
TEST_F(MaintenanceCommands, WhatFollowsTheLinkTestIsNotShiftedByItsLeftOver) {
    const std::string file = dir.file("core.eed");
    const struct {
        std::vector<std::string> args;
        std::string wanted;  // in stdout, or at the start of the file
    } cases[] = {
        {{"test"}, "<- 001FW 2.41\n"},
        {{"clear-eeprom"}, "\nOK\n"},
        {{"dump", "core", "-o", file}, "0x1E00\t 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"},
    };
    for (const auto& c : cases) {
        SimController sim(Fast());
        ASSERT_EQ(RunKfu({"test", "-p", sim.path()}).exit_code, 0);
        std::vector<std::string> args = c.args;
        args.insert(args.begin() + 1, {"-p", sim.path()});
        const KfuRun run = RunKfu(args);
        EXPECT_EQ(run.exit_code, 0) << c.args[0] << run.out << run.err;
        const std::string seen = c.args[0] == "dump" ? ReadFile(file) : run.out;
        EXPECT_NE(seen.find(c.wanted), std::string::npos) << c.args[0] << ": " << seen;
    }
}

}  // namespace
