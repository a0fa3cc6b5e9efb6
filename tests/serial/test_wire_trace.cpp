// The wire trace: what the serial class records over a real pseudo-terminal,
// the text form of bytes, parts, failures, and reading a trace back.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <stdexcept>
#include <vector>

#include "common/stop.h"
#include "pty.h"
#include "serial/serial.h"
#include "serial/trace_reader.h"
#include "serial/wire_trace.h"
#include "support/recorder.h"
#include "support/trace_support.h"

namespace {

std::shared_ptr<WireTrace> start(const std::string& path, Reporter* tell = nullptr,
                                 std::uint64_t part_bytes = WireTrace::kPartBytes) {
    std::string error;
    auto trace = WireTrace::start(path, {"test 1", tell, part_bytes}, error);
    EXPECT_TRUE(trace) << error;
    return trace;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::uint64_t file_size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

TEST(TraceText, EveryByteReadsBackAndQuotesNeverAppear) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string text = trace_text(all);
    EXPECT_EQ(text.find('"'), std::string::npos);
    EXPECT_EQ(bytes_of_trace_text(text), all);

    EXPECT_EQ(trace_text(std::string("#1A\r\n\0\"~\x7f\xff", 10)), "#1A<CR><LF><00><22>~<7F><FF>");
    // A '<' stays as it is unless what follows would read as an escape.
    EXPECT_EQ(trace_text("<- 001<<\r<CR><0A><0a>"), "<- 001<<<CR><3C>CR><3C>0A><0a>");
    EXPECT_EQ(bytes_of_trace_text("<- 001<<<CR><3C>CR><3C>0A><0a><"), "<- 001<<\r<CR><0A><0a><");
    // Every byte pair and triple after a '<' reads back, whatever it is.
    for (int a = 0; a < 256; ++a) {
        for (const char* tail : {"CR>", "LF>", "0A>", "<CR", "x>", ""}) {
            const std::string bytes = "<" + std::string(1, static_cast<char>(a)) + tail;
            EXPECT_EQ(bytes_of_trace_text(trace_text(bytes)), bytes) << a << tail;
        }
    }
    for (const char* bad : {"a\tb", "x\"y", "\x80"}) {
        EXPECT_FALSE(bytes_of_trace_text(bad)) << bad;
    }
}

class TracedPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        ASSERT_FALSE(dir.path.empty());
        port.set_trace(start(path));
    }
    ReadBack stop_and_read() {
        port.set_trace(nullptr);
        return read_back(path);
    }

    Pty pty;
    Recorder rec;
    serial port{rec, pty.path(), 100};
    ScratchDir dir;
    std::string path = dir.file("line.trace");
};

TEST_F(TracedPort, RecordsTheCallsTheirBytesAndTheLinesStates) {
    const std::string frame = std::string("#1 \r\0\xff", 6);
    ASSERT_EQ(port.write(frame.data(), frame.size()), 6);
    EXPECT_EQ(pty.receive(6), frame);
    pty.send("001FW");
    char reply[10];
    ASSERT_EQ(port.read(reply, sizeof reply), 5);
    port.set_baud(57600);
    port.set_baud(57600);  // no change: nothing to record
    port.set_timeout(20);
    ASSERT_EQ(port.read(reply, 1), 0);
    // A new time-out on an open port is a setting of the next read, no reopening.
    port.set_timeout(5);
    ASSERT_EQ(port.read(reply, 1), 0);
    port.close();

    const ReadBack back = stop_and_read();
    EXPECT_TRUE(back.summary.read);
    EXPECT_TRUE(back.summary.ended);
    EXPECT_TRUE(back.summary.problems.empty());
    ASSERT_GE(back.header.size(), 3u);
    EXPECT_EQ(back.header[0], "# kfu wire trace, format 1");
    EXPECT_EQ(back.header[1], "# program test 1");

    const std::vector<std::string> expected = {"open",  "rts", "tx",      "rts",   "rx",  "timeout",
                                               "close", "set", "set",     "open",  "rx",  "timeout",
                                               "set",   "rx",  "timeout", "close", "note"};
    EXPECT_EQ(back.kinds(), expected);
    const auto& r = back.records;
    EXPECT_EQ(r[0].fields, "\"" + pty.path() + "\" baud=115200 timeout=100ms");
    EXPECT_EQ(r[1].fields, "on");
    EXPECT_EQ(r[3].fields, "off");
    EXPECT_EQ(r[7].fields, "baud=57600");
    EXPECT_EQ(r[8].fields, "timeout=20ms");
    EXPECT_EQ(r[9].fields, "\"" + pty.path() + "\" baud=57600 timeout=20ms");
    EXPECT_EQ(r[12].fields, "timeout=5ms");
    EXPECT_EQ(r[14].fields, "0/1 15ms");
    EXPECT_EQ(r[16].fields, "\"trace ended\"");

    // The write as sent, in hex and as text.
    EXPECT_TRUE(r[2].fields.starts_with("6/6 ")) << r[2].fields;
    EXPECT_TRUE(r[2].fields.ends_with(" 23 31 20 0D 00 FF \"#1 <CR><00><FF>\"")) << r[2].fields;
    EXPECT_EQ(back.bytes("tx"), frame);

    // The short read: 5 of 10 after its whole 10 * 10 + 100 ms, then marked.
    const auto first = parse_transfer(r[4]);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->result, 5);
    EXPECT_EQ(first->asked, 10u);
    EXPECT_EQ(first->bytes, "001FW");
    EXPECT_GE(first->took_us, 199000u);
    EXPECT_EQ(r[5].fields, "5/10 200ms");
    EXPECT_EQ(r[11].fields, "0/1 30ms");

    for (std::size_t i = 1; i < r.size(); ++i) EXPECT_LE(r[i - 1].time_us, r[i].time_us);
}

TEST_F(TracedPort, TakingWhatHasArrivedIsNoTimeOut) {
    pty.send("xyz");
    char first = 0;
    ASSERT_EQ(port.read(&first, 1), 1);
    port.discard_waiting();

    const ReadBack back = stop_and_read();
    const std::vector<std::string> expected = {"open", "rx", "rx", "rx", "note"};
    EXPECT_EQ(back.kinds(), expected);
    EXPECT_EQ(back.bytes("rx"), "xyz");
}

TEST_F(TracedPort, CallsThatNeverReachTheDeviceAreRecordedAsFailed) {
    port.set_port("0");
    char byte = 0;
    EXPECT_EQ(port.write("x", 1), -1);
    EXPECT_EQ(port.read(&byte, 1), -1);
    port.set_port(dir.file("missing"));
    EXPECT_EQ(port.read(&byte, 1), -1);

    const ReadBack back = stop_and_read();
    const std::vector<std::string> expected = {"set", "open-failed", "tx", "open-failed", "rx",
                                               "set", "open-failed", "rx", "note"};
    EXPECT_EQ(back.kinds(), expected);
    EXPECT_EQ(back.records[1].fields, "\"0\" \"released to other programs\"");
    EXPECT_EQ(back.records[2].fields.substr(0, 5), "-1/1 ");
    EXPECT_EQ(back.records[6].fields,
              "\"" + dir.file("missing") + "\" \"No such file or directory\"");
}

TEST_F(TracedPort, OperationsNestAndKeepTheirTraceWhenTracingStops) {
    {
        TraceOperation outer(port, "script");
        {
            TraceOperation line(port, "script-line", "line 1: #1A \"x\"");
            line.set_result(true);
            line.set_text("<- 001A");
        }
        port.set_trace(nullptr);  // switched off while the run goes on
        outer.set_text("not seen by anyone");
        outer.set_result(false);
        ASSERT_EQ(port.write("z", 1), 1);
    }
    {
        TraceOperation unseen(port, "console");
        EXPECT_FALSE(unseen.active());
    }
    const ReadBack back = read_back(path);
    const std::vector<std::string> expected = {"begin", "begin", "end", "end", "note"};
    ASSERT_EQ(back.kinds(), expected);
    EXPECT_EQ(back.records[0].fields, "script");
    EXPECT_EQ(back.records[1].fields, "script-line \"line 1: #1A <22>x<22>\"");
    EXPECT_TRUE(back.records[2].fields.ends_with("us \"<- 001A\"")) << back.records[2].fields;
    const auto line_end = parse_mark(back.records[2]);
    ASSERT_TRUE(line_end);
    EXPECT_EQ(line_end->operation, "script-line");
    EXPECT_EQ(line_end->result, "ok");
    EXPECT_EQ(line_end->text, "<- 001A");
    const auto outer_end = parse_mark(back.records[3]);
    ASSERT_TRUE(outer_end);
    EXPECT_EQ(outer_end->result, "failed");
    EXPECT_EQ(outer_end->text, "not seen by anyone");
}

TEST_F(TracedPort, AnOperationEndedByAStopOrAnExceptionSaysSo) {
    try {
        TraceOperation op(port, "dump");
        op.set_result(true);
        throw std::runtime_error("boom");
    } catch (const std::runtime_error&) {
    }
    {
        // A stopped routine reports its failure after the stop line, and a
        // front end may show more lines; the stop is what support must see.
        TraceOperation op(port, "write");
        op.set_text(stopped_line("the firmware write"));
        op.set_result(false);
        op.set_text("Error: Firmware write failed");
    }
    {
        TraceOperation op(port, "console");
        op.set_text("Stopped at the motor's request");  // a reply, not the stop line
    }
    const ReadBack back = stop_and_read();
    ASSERT_GE(back.records.size(), 6u);
    EXPECT_EQ(parse_mark(back.records[1])->result, "exception");
    EXPECT_EQ(parse_mark(back.records[3])->result, "stopped");
    EXPECT_EQ(parse_mark(back.records[3])->text, "Error: Firmware write failed");
    EXPECT_EQ(parse_mark(back.records[5])->result, "done");
}

TEST(TraceParts, ATraceGoesOnInNumberedFilesAndReadsBackWhole) {
    ScratchDir dir;
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Recorder rec;
    const std::string path = dir.file("line.trace");
    constexpr std::uint64_t kLimit = 4096;
    std::string sent;
    {
        serial port(rec, pty.path(), 100);
        port.set_trace(start(path, &rec, kLimit));
        for (int i = 0; i < 100; ++i) {
            const std::string frame = "#1(E" + std::to_string(i) + "\r" + std::string(20, 'x');
            ASSERT_EQ(port.write(frame.data(), frame.size()), static_cast<int>(frame.size()));
            sent += frame;
        }
        ASSERT_GT(port.trace()->part(), 3);
    }
    EXPECT_EQ(pty.receive(sent.size()), sent);

    // Told once, whatever the number of parts.
    ASSERT_EQ(rec.lines.size(), 1u);
    EXPECT_EQ(rec.lines[0], "Trace: " + path + " has reached 4096 bytes; the trace goes on in " +
                                dir.file("line.2.trace") + " and further numbered files");
    for (int part = 1; part <= 4; ++part) {
        const std::string file = part == 1 ? path : WireTrace::part_path(path, part);
        EXPECT_LE(file_size(file), kLimit) << file;
        EXPECT_GT(file_size(file), kLimit / 2) << file;
    }
    const ReadBack back = read_back(path);
    EXPECT_GT(back.summary.parts.size(), 3u);
    EXPECT_TRUE(back.summary.ended);
    EXPECT_TRUE(back.summary.problems.empty());
    EXPECT_EQ(back.bytes("tx"), sent);
    EXPECT_EQ(back.header.size(), 4u) << "the header of the first part only";
    std::uint64_t before = 0;
    for (const auto& r : back.records) {
        EXPECT_LE(before, r.time_us) << "time never goes back, also from part to part";
        before = r.time_us;
    }

    // A new trace in the same place leaves the old parts behind but never
    // reads them as its own.
    {
        serial port(rec, pty.path(), 100);
        port.set_trace(start(path, &rec, kLimit));
        ASSERT_EQ(port.write("new", 3), 3);
    }
    const ReadBack fresh = read_back(path);
    EXPECT_EQ(fresh.summary.parts.size(), 1u);
    EXPECT_EQ(fresh.bytes("tx"), "new");
}

// The size that users are told about, with records as large as a read of a
// whole dump.
TEST(TraceParts, A64MiBPartGoesOnInTheNextFileAndTheUserIsToldOnce) {
    ScratchDir dir;
    Recorder rec;
    const std::string path = dir.file("big.trace");
    const std::vector<std::uint8_t> block(64 * 1024, 0x5A);
    {
        auto trace = start(path, &rec);
        while (trace->part() < 2) {
            trace->transfer(WireTrace::Direction::rx, static_cast<long>(block.size()), block.size(),
                            WireTrace::Clock::now(), block.data());
            ASSERT_FALSE(trace->failed());
        }
    }
    EXPECT_LE(file_size(path), WireTrace::kPartBytes);
    EXPECT_GT(file_size(path), WireTrace::kPartBytes - 300 * 1024);
    EXPECT_GT(file_size(WireTrace::part_path(path, 2)), 0u);
    ASSERT_EQ(rec.lines.size(), 1u);
    EXPECT_EQ(rec.lines[0], "Trace: " + path + " has reached 64 MiB; the trace goes on in " +
                                dir.file("big.2.trace") + " and further numbered files");
}

TEST(TraceParts, PartNames) {
    EXPECT_EQ(WireTrace::part_path("line.trace", 2), "line.2.trace");
    EXPECT_EQ(WireTrace::part_path("/a.b/line", 3), "/a.b/line.3");
    EXPECT_EQ(WireTrace::part_path("/tmp/.trace", 2), "/tmp/.trace.2");
    EXPECT_EQ(WireTrace::part_path("x.y.trace", 12), "x.y.12.trace");
}

TEST(TraceFailures, AFileThatCannotBeWrittenStopsTheTraceButNeverTheLine) {
    ScratchDir dir;
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Recorder rec;

    std::string error;
    EXPECT_FALSE(WireTrace::start(dir.file("no/such/folder.trace"), {}, error));
    EXPECT_EQ(error, "No such file or directory");
    if (file_size("/dev/full") == 0 && ::access("/dev/full", W_OK) == 0) {
        EXPECT_FALSE(WireTrace::start("/dev/full", {}, error)) << "the header cannot be written";
        EXPECT_EQ(error, "No space left on device");
    }

    // The next part's name is taken by a folder: the trace stops, once told,
    // and the line goes on as before.
    const std::string path = dir.file("line.trace");
    std::filesystem::create_directory(dir.file("line.2.trace"));
    serial port(rec, pty.path(), 100);
    port.set_trace(start(path, &rec, 600));
    std::string sent;
    for (int i = 0; i < 20; ++i) {
        const std::string frame = "#1 frame " + std::to_string(i) + "\r";
        ASSERT_EQ(port.write(frame.data(), frame.size()), static_cast<int>(frame.size()));
        sent += frame;
    }
    EXPECT_EQ(pty.receive(sent.size()), sent);
    EXPECT_TRUE(port.trace()->failed());
    ASSERT_EQ(rec.lines.size(), 1u);
    EXPECT_EQ(rec.lines[0], "Error: the wire trace could not go on in " + dir.file("line.2.trace") +
                                ": Is a directory; tracing has stopped");
    port.set_trace(nullptr);

    const ReadBack back = read_back(path);
    EXPECT_FALSE(back.summary.ended) << "a trace that failed is no whole trace";
    EXPECT_TRUE(back.summary.problems.empty());
    EXPECT_TRUE(sent.starts_with(back.bytes("tx")));
    EXPECT_LE(file_size(path), 600u);
}

// --- the reader ---

const char* const kSample =
    "# kfu wire trace, format 1\n"
    "# trace 7-1 part 1\n"
    "         5 begin script\n"
    "        10 begin script-line \"line 1: #1A\"\n"
    "        20 tx 4/4 3us 23 31 41 0D \"#1A<CR>\"\n"
    "        30 rx 1/1 5us 41 \"A\"\n"
    "        40 end script-line done 30us \"<- A\"\n"
    "garbage here\n"
    "        50 begin script-line \"line 2: #1B\"\n"
    "        60 tx 4/4 3us 23 31 42 0D \"#1B<CR>\"\n"
    "        70 end script-line done 20us \"\"\n"
    "        80 end script ok 75us \"\"\n"
    "        90 begin console\n"
    "       100 tx 3/3 2us 23 31 0D \"#1<CR>\"\n"
    "       110 end console done 20us \"\"\n";

TEST(TraceReader, FiltersByOperationAndTimeAndReportsWhatItCannotRead) {
    ScratchDir dir;
    const std::string path = dir.file("sample.trace");
    write_file(path, std::string(kSample) + "       120 rx 1/1 5us 4");

    auto times = [](const ReadBack& back) {
        std::vector<std::uint64_t> t;
        for (const auto& r : back.records) t.push_back(r.time_us);
        return t;
    };
    const ReadBack all = read_back(path);
    EXPECT_TRUE(all.summary.read);
    EXPECT_FALSE(all.summary.ended);
    EXPECT_EQ(all.header.size(), 2u);
    EXPECT_EQ(all.records.size(), 12u);
    EXPECT_EQ(parse_mark(all.records[4])->text, "<- A");
    const std::vector<std::string> problems = {path + ":8: not a trace record",
                                               path + ":16: incomplete last line"};
    EXPECT_EQ(all.summary.problems, problems);

    EXPECT_EQ(times(read_back(path, {"script-line", {}, {}})),
              (std::vector<std::uint64_t>{10, 20, 30, 40, 50, 60, 70}));
    EXPECT_EQ(times(read_back(path, {"script", {}, {}})),
              (std::vector<std::uint64_t>{5, 10, 20, 30, 40, 50, 60, 70, 80}));
    EXPECT_EQ(times(read_back(path, {"", 30, 60})), (std::vector<std::uint64_t>{30, 40, 50, 60}));
    EXPECT_EQ(times(read_back(path, {"script-line", 45, {}})),
              (std::vector<std::uint64_t>{50, 60, 70}));
    EXPECT_TRUE(read_back(path, {"write", {}, {}}).records.empty());

    const ReadBack missing = read_back(dir.file("none.trace"));
    EXPECT_FALSE(missing.summary.read);
    EXPECT_FALSE(missing.summary.error.empty());
}

TEST(TraceReader, DataRecordsWhoseHexAndTextDisagreeAreRefused) {
    auto transfer = [](const std::string& line) { return parse_transfer(*parse_trace_line(line)); };
    const auto good = transfer("  1 rx 2/6 110123us 30 0D \"0<CR>\"");
    ASSERT_TRUE(good);
    EXPECT_EQ(good->bytes, "0\r");
    EXPECT_EQ(good->asked, 6u);
    EXPECT_EQ(good->took_us, 110123u);
    EXPECT_EQ(transfer("  1 tx -1/3 5us \"\"")->result, -1);
    for (const char* bad : {"1 rx 2/6 1us 30 0D \"0\"", "1 rx 1/6 1us 30 0D \"0<CR>\"",
                            "1 rx 2/6 1us 30 0d \"0<CR>\"", "1 rx 2/6 30 0D \"0<CR>\"",
                            "1 rx -2/6 1us \"\"", "1 open 2/6 1us 30 0D \"0<CR>\""}) {
        EXPECT_FALSE(transfer(bad)) << bad;
    }
}

}  // namespace
