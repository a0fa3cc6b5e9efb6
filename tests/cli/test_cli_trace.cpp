// The wire trace on the command line: --trace FILE records a command's
// session with the line (one file per port with several), `kfu trace`
// prints it back, and the real program leaves a whole trace when it is
// stopped or killed in the middle of a write.

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>

#include "bootloader/bootloader_support.h"
#include "cli_support.h"
#include "sim/sim.h"
#include "support/trace_support.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// "begin NAME" and "end NAME RESULT TEXT" of every operation mark.
std::vector<std::string> Marks(const ReadBack& back) {
    std::vector<std::string> out;
    for (const auto& r : back.records) {
        if (r.kind != "begin" && r.kind != "end") continue;
        const auto m = parse_mark(r);
        EXPECT_TRUE(m) << r.line;
        if (!m) continue;
        out.push_back(r.kind + " " + m->operation + (r.kind == "end" ? " " + m->result : "") + " " +
                      m->text);
    }
    return out;
}

class CliTrace : public CliTest {
protected:
    TempDir dir;
};

TEST_F(CliTrace, ACommandIsRecordedAndPrintedBackWholeOrByOperationAndTime) {
    SimController sim;
    const std::string path = dir.file("send.trace");
    const KfuRun run = RunKfu({"send", "-p", sim.path(), "--trace", path, "VER", "ABC"});
    ASSERT_EQ(run.exit_code, 0) << run.err;

    const ReadBack back = read_back(path);
    EXPECT_TRUE(back.summary.ended);
    EXPECT_TRUE(back.summary.problems.empty());
    ASSERT_GE(back.header.size(), 2u);
    EXPECT_TRUE(back.header[1].starts_with("# program kfu ")) << back.header[1];
    EXPECT_EQ(back.bytes("tx"), sim.received());
    EXPECT_EQ(back.bytes("rx"), sim.sent());
    const std::vector<std::string> marks = {"begin send ", "end send ok ABC"};
    EXPECT_EQ(Marks(back), marks);
    EXPECT_EQ(back.records.front().kind, "begin") << "nothing happens on the line before";
    EXPECT_EQ(back.of_kind("open").size(), 1u);

    // The whole trace prints as it stands in the file.
    const KfuRun all = RunKfu({"trace", path});
    EXPECT_EQ(all.exit_code, 0) << all.err;
    EXPECT_EQ(all.out, ReadAll(path));
    EXPECT_EQ(all.err, "");

    // An operation keeps its marks and what lies between them, and nothing else.
    const KfuRun none = RunKfu({"trace", path, "--op", "flash"});
    EXPECT_EQ(none.exit_code, 0);
    EXPECT_EQ(std::count(none.out.begin(), none.out.end(), '\n'), 4) << "the header only";
    const KfuRun send = RunKfu({"trace", path, "--op", "send"});
    EXPECT_EQ(send.exit_code, 0);
    EXPECT_EQ(send.out.find(" note "), std::string::npos) << "the closing note lies outside";
    EXPECT_NE(send.out.find(" end send ok "), std::string::npos);

    // A time span keeps the records stamped within it, both ends included.
    const auto& tx = back.of_kind("tx");
    ASSERT_EQ(tx.size(), 2u);
    const std::string from = std::to_string(tx[0].time_us);
    const std::string to = std::to_string(tx[1].time_us);
    const KfuRun span = RunKfu({"trace", path, "--from", from, "--to", to});
    EXPECT_EQ(span.exit_code, 0);
    std::size_t in_span = 0;
    for (const auto& r : back.records)
        in_span += r.time_us >= tx[0].time_us && r.time_us <= tx[1].time_us;
    EXPECT_EQ(static_cast<std::size_t>(std::count(span.out.begin(), span.out.end(), '\n')),
              back.header.size() + in_span);
    EXPECT_NE(span.out.find(tx[0].line + "\n"), std::string::npos);
    EXPECT_NE(span.out.find(tx[1].line + "\n"), std::string::npos);
    EXPECT_EQ(RunKfu({"trace", path, "--from", to, "--to", from}).exit_code, 2);
}

// With several lines, each port's trace holds only that line, under the
// name the line's other files get.
TEST_F(CliTrace, EachLineOfAGangGetsItsOwnTrace) {
    const std::string script = dir.file("setup.cfg");
    WriteLines(script, {"o=250", "", "#ifeq(o, 250){", "#output set", "#}"});
    SimController first;
    SimController second;
    const std::string path = dir.file("gang.trace");
    const KfuRun run =
        RunKfu({"run", "-p", first.path(), "-p", second.path(), "--trace", path, script});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_FALSE(std::filesystem::exists(path));

    for (const SimController* sim : {&first, &second}) {
        const std::string own = cli::file_for_line(path, sim->path(), true);
        ASSERT_NE(own, path);
        const ReadBack back = read_back(own);
        EXPECT_TRUE(back.summary.ended) << own;
        EXPECT_EQ(back.bytes("tx"), sim->received()) << own;
        EXPECT_EQ(back.bytes("rx"), sim->sent()) << own;
        const auto opened = back.of_kind("open");
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].fields.substr(0, sim->path().size() + 2), "\"" + sim->path() + "\"");
        // The script's lines that are not empty, each inside the run.
        const std::vector<std::string> got = Marks(back);
        ASSERT_GE(got.size(), 2u) << own;
        EXPECT_EQ(got.front(), "begin run ");
        EXPECT_TRUE(got.back().starts_with("end run ok ")) << got.back();
        std::vector<std::string> lines;
        for (const auto& m : got) {
            if (m.starts_with("begin script-line ")) lines.push_back(m.substr(18));
        }
        const std::vector<std::string> expected = {"line 1: o=250", "line 3: #ifeq(o, 250){",
                                                   "line 4: #output set", "line 5: #}"};
        EXPECT_EQ(lines, expected) << own;
    }
}

TEST_F(CliTrace, TheOperationEndsWithTheWordOfTheLinesExitCode) {
    SimController sim;
    sim.set_silent(true);
    const std::string path = dir.file("silent.trace");
    const KfuRun run =
        RunKfu({"send", "-p", sim.path(), "--timeout", "20", "--trace", path, "VER"});
    EXPECT_EQ(run.exit_code, 1);
    const std::vector<std::string> marks = {"begin send ",
                                            "end send refused no reply to \"VER\" from motor 1"};
    EXPECT_EQ(Marks(read_back(path)), marks);
}

TEST_F(CliTrace, ATraceThatCannotBeMadeSendsNothing) {
    SimController sim;
    const std::string path = dir.file("no/such/dir/line.trace");
    const KfuRun run = RunKfu({"send", "-p", sim.path(), "--trace", path, "VER"});
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_NE(run.err.find("cannot create the trace file " + path + ": No such file or directory"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(sim.received(), "");
}

// A trace that stops being written partway (here a file size limit, as a
// full disk would) costs the command nothing: every command still goes out
// and is answered, the failure is said once, and the exit code tells that
// the record is incomplete.
// (The simulator answers a command it does not know with the command.)
TEST_F(CliTrace, ATraceThatFailsPartwayLetsTheCommandFinishAndSaysSo) {
    SimController sim;
    const std::string path = dir.file("limited.trace");
    std::vector<std::string> args = {"send", "-p", sim.path(), "--trace", path};
    constexpr int kCommands = 40;
    for (int i = 0; i < kCommands; ++i) args.push_back("VER");

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const KfuRun run = RunKfu(args);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(run.exit_code, 4) << run.err;
    const std::string said =
        "the wire trace could not be written to " + path + ": File too large; tracing has stopped";
    const auto first = run.out.find("Error: " + said + "\n");
    EXPECT_NE(first, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(said, first + said.size()), std::string::npos) << "said once:\n"
                                                                          << run.out;

    std::string expected_sent;
    for (int i = 0; i < kCommands; ++i) expected_sent += "#1VER\r";
    EXPECT_EQ(sim.received(), expected_sent);
    std::size_t replies = 0;
    for (std::size_t at = run.out.find("VER\n"); at != std::string::npos;
         at = run.out.find("VER\n", at + 1)) {
        ++replies;
    }
    EXPECT_EQ(replies, static_cast<std::size_t>(kCommands)) << run.out;

    // What was written stays readable, and the reader says it is cut off.
    const ReadBack back = read_back(path);
    EXPECT_FALSE(back.summary.ended);
    EXPECT_FALSE(back.records.empty());
    EXPECT_LE(ReadAll(path).size(), 4096u);
    EXPECT_NE(RunKfu({"trace", path}).err.find("cut off"), std::string::npos);
}

TEST_F(CliTrace, TheReaderSaysWhatItCannotRead) {
    EXPECT_EQ(RunKfu({"trace", dir.file("missing.trace")}).exit_code, 4);

    SimController sim;
    const std::string path = dir.file("line.trace");
    ASSERT_EQ(RunKfu({"send", "-p", sim.path(), "--trace", path, "VER"}).exit_code, 0);
    std::string text = ReadAll(path);

    // A line that is no record: said with its place, the rest still printed.
    std::string broken = text;
    broken.insert(text.find('\n', text.find(" begin ")) + 1, "garbage\n");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << broken;
    const KfuRun bad = RunKfu({"trace", path});
    EXPECT_EQ(bad.exit_code, 4);
    EXPECT_NE(bad.err.find(path + ":"), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find(": not a trace record"), std::string::npos) << bad.err;
    EXPECT_EQ(bad.out, text);

    // A trace cut off after a whole record is still read, and said to be cut off.
    const std::string cut = text.substr(0, text.rfind(" note ") - 10);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << cut;
    const KfuRun short_run = RunKfu({"trace", path});
    EXPECT_EQ(short_run.exit_code, 0) << short_run.err;
    EXPECT_EQ(short_run.out, cut);
    EXPECT_NE(short_run.err.find("cut off"), std::string::npos) << short_run.err;
}

// The real program in the middle of a paced firmware write: stopped with
// Ctrl+C it ends its trace properly, with the write marked as stopped;
// killed, it leaves everything it recorded whole.
class TracedProgram : public CliTrace {
protected:
    void SetUp() override {
        CliTrace::SetUp();
        FirmwareImage image;
        FillImage(image);
        Program(image, 0, 0x2B000);
        hex = dir.file("full.hex");
        WriteLines(hex, HexLinesOf(image));
        SimConfig config;
        config.start_in_bootloader = true;
        config.pace_baud = 115200;
        sim = std::make_unique<SimController>(config);
    }
    // Starts the write and waits until it is well under way.
    std::unique_ptr<KfuProcess> StartWrite(const std::string& trace) {
        auto kfu = std::make_unique<KfuProcess>(std::vector<std::string>{
            "flash", "-p", sim->path(), "--timeout", "250", "--trace", trace, hex});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (sim->frames().size() < 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_GE(sim->frames().size(), 3u);
        return kfu;
    }
    // What reached the simulator once the line is quiet again.
    std::string SettledReceived() {
        std::size_t seen = 0;
        do {
            seen = sim->received().size();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        } while (sim->received().size() != seen);
        return sim->received();
    }

    std::string hex;
    std::unique_ptr<SimController> sim;
};

TEST_F(TracedProgram, CtrlCEndsTheTraceWithTheWriteMarkedStopped) {
    const std::string path = dir.file("stopped.trace");
    auto kfu = StartWrite(path);
    kfu->signal(SIGINT);
    const KfuRun run = kfu->finish(std::chrono::seconds(30));
    EXPECT_EQ(run.exit_code, 130) << run.err;

    const ReadBack back = read_back(path);
    EXPECT_TRUE(back.summary.ended);
    EXPECT_TRUE(back.summary.problems.empty());
    EXPECT_EQ(back.bytes("tx"), SettledReceived());
    const auto ends = back.of_kind("end");
    ASSERT_EQ(ends.size(), 1u);
    const auto end = parse_mark(ends[0]);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->operation, "flash");
    EXPECT_EQ(end->result, "stopped");
    EXPECT_EQ(back.of_kind("close").size(), 1u) << "the port got its settings back";
}

TEST_F(TracedProgram, AKilledProgramLeavesItsTraceWholeUpToTheLastRecord) {
    const std::string path = dir.file("killed.trace");
    auto kfu = StartWrite(path);
    kfu->signal(SIGKILL);
    EXPECT_EQ(kfu->finish(std::chrono::seconds(30)).exit_code, 128 + SIGKILL);
    const std::string received = SettledReceived();

    const std::string text = ReadAll(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const ReadBack back = read_back(path);
    EXPECT_TRUE(back.summary.problems.empty());
    EXPECT_FALSE(back.summary.ended);
    EXPECT_TRUE(back.of_kind("end").empty());
    // At most the frame that was on its way when the program died is missing.
    const std::string sent = back.bytes("tx");
    ASSERT_LE(sent.size(), received.size());
    EXPECT_EQ(received.substr(0, sent.size()), sent);
    std::size_t largest = 0;
    for (const SimFrame& f : sim->frames()) largest = std::max(largest, f.length);
    EXPECT_LE(received.size() - sent.size(), largest);
    EXPECT_GE(back.of_kind("tx").size(), 3u);

    const KfuRun read = RunKfu({"trace", path});
    EXPECT_EQ(read.exit_code, 0);
    EXPECT_EQ(read.out, text);
}

}  // namespace
