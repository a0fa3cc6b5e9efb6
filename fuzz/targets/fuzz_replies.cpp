// Controller replies and acknowledgements: reply lines through motor_com,
// numeric replies, bootloader acknowledgements and version replies, the
// poll and link test, the debug log, the console and the program upload's
// echoes. The input is a sequence of operations, each with the bytes the
// controller has sent or will send.
//
// Each read must take exactly the bytes its bound allows and leave the rest
// for whoever reads next, and each result must follow from those bytes.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/bootloader_steps.h"
#include "common/int_text.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_window.h"
#include "fuzz/line_bench.h"
#include "motor/console.h"
#include "motor/debug_log.h"
#include "motor/link_test.h"

namespace {

constexpr char kCR = '\r';

std::string without_nul_and_lf(std::string_view bytes) {
    std::string text;
    for (char c : bytes)
        if (c != '\0' && c != '\n') text += c;
    return text;
}

void check_reply_read(LineBench& b, const std::string& before, std::size_t read_before,
                      const std::string& got, const char* what) {
    const ExpectedReply expected = expected_reply(before);
    const std::size_t consumed = b.mem->bytes_read - read_before;
    FUZZ_CHECK(consumed == expected.consumed,
               std::string(what) + ": took " + std::to_string(consumed) + " bytes of '" +
                   escaped(before) + "', expected " + std::to_string(expected.consumed));
    FUZZ_CHECK(got == expected.text, std::string(what) + ": '" + escaped(got) + "', expected '" +
                                         escaped(expected.text) + "'");
    FUZZ_CHECK(b.pending() == before.substr(expected.consumed),
               std::string(what) + ": rest of input");
}

std::string frame_for(int id, const std::string& command) {
    return "#" + (id == 0 ? std::string("*") : std::to_string(id)) + command + "\r";
}

int expected_number(std::string text) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t begin = 0;
    while (text.size() - begin > 2 && !digit(text[begin]) && text[begin] != '-') ++begin;
    text.erase(0, begin);
    while (text.size() > 2 && !digit(text.back())) text.pop_back();
    return read_integer_or(text, 0);
}

// A reply line as a controller sends it: no CR inside, one at the end.
std::string one_line(std::string text) {
    for (char& c : text)
        if (c == kCR) c = ' ';
    if (text.size() > 250) text.resize(250);
    return text + kCR;
}

void upload(LineBench& b, FuzzInput& in) {
    FuzzWindow window;
    for (int n = in.small(4); n > 0; --n) {
        window.java.push_back(in.flag() ? "(J" + std::to_string(in.u32()) : in.text(20));
    }
    b.mem->input.clear();
    b.answers.clear();
    std::vector<std::string> replies;  // what read_reply will make of each answer
    auto answer = [&](const std::string& echo) {
        const std::string line = one_line(in.flag() ? "1" + echo : in.text(30));
        b.answers.push_back(line);
        replies.push_back(expected_reply(line).text);
    };
    answer("(JS");
    for (const std::string& line : window.java) answer(line);
    answer("(JI");

    const std::size_t mark = b.mem->written.size();
    const bool ok = UploadProgram(b.port, b.motor, b.out, window);

    std::string frames = frame_for(b.motor.id(), "(JS");
    bool all_echoed = true;
    for (std::size_t i = 0; i < window.java.size() && all_echoed; ++i) {
        frames += frame_for(b.motor.id(), window.java[i]);
        all_echoed = replies[i + 1] == window.java[i];
    }
    if (all_echoed) frames += frame_for(b.motor.id(), "(JI");
    FUZZ_CHECK(ok == all_echoed, "upload result");
    FUZZ_CHECK(b.written_from(mark) == frames, "upload sent '" + escaped(b.written_from(mark)) +
                                                   "', expected '" + escaped(frames) + "'");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    LineBench b;
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        b.mem->input.clear();
        b.answers.clear();
        const std::size_t mark = b.mem->written.size();
        const std::size_t read_before = b.mem->bytes_read;
        switch (in.byte() % 11) {
            case 0: {  // a reply line already waiting
                b.mem->queue(in.text());
                b.mem->queue(in.text());
                const std::string before = b.pending();
                check_reply_read(b, before, read_before, b.motor.read_reply(), "read_reply");
                break;
            }
            case 1: {  // a text query
                b.motor.set_id(in.in_range(-5, 300));
                const std::string command = in.text(40);
                b.mem->queue(in.text(8));  // stale bytes nobody discarded
                b.answers.push_back(in.text() + in.text());
                const std::string reply = b.motor.query(command);
                FUZZ_CHECK(b.written_from(mark) == frame_for(b.motor.id(), command), "query frame");
                check_reply_read(b, b.after_write, b.read_at_write, reply, "query");
                break;
            }
            case 2: {  // a numeric query
                b.answers.push_back(in.text());
                const int got = b.motor.query_number(in.text(10));
                const int expected = expected_number(expected_reply(b.after_write).text);
                FUZZ_CHECK(got == expected, "query_number of '" + escaped(b.after_write) +
                                                "' gave " + std::to_string(got) + ", expected " +
                                                std::to_string(expected));
                break;
            }
            case 3: {  // a bootloader acknowledgement
                const std::string before = in.text(6);
                b.mem->queue(before);
                const bool usb = in.flag();
                const std::size_t lines_before = b.out.lines.size();
                const Ack ack = ReadAck(b.port, b.out, usb ? "USB2" : nullptr);
                auto at = [&](std::size_t i) { return i < before.size() ? before[i] : '\0'; };
                const bool cr_first = at(0) == kCR;
                const std::size_t expected_taken =
                    std::min<std::size_t>(before.size(), cr_first ? 3 : 2);
                FUZZ_CHECK(ack.count == static_cast<int>(std::min<std::size_t>(before.size(), 2)),
                           "ack count");
                FUZZ_CHECK(ack.code() == static_cast<std::uint8_t>(cr_first ? at(1) : at(0)),
                           "ack code");
                FUZZ_CHECK(b.mem->bytes_read - read_before == expected_taken, "ack bytes taken");
                FUZZ_CHECK(b.out.lines.size() - lines_before == (cr_first && usb ? 1u : 0u),
                           "USB line");
                break;
            }
            case 4: {  // a version reply
                const std::string motor_text = in.text(6);
                b.answers.push_back(in.text(12));
                std::uint8_t reply[7];
                const int count = VersionQuery(b.port, motor_text, reply);
                FUZZ_CHECK(b.written_from(mark) == "#" + motor_text + " \r", "version query");
                const std::size_t expected = std::min<std::size_t>(b.after_write.size(), 7);
                FUZZ_CHECK(count == static_cast<int>(expected), "version reply count");
                for (std::size_t i = 0; i < 7; ++i) {
                    const char want = i < expected ? b.after_write[i] : '\0';
                    FUZZ_CHECK(reply[i] == static_cast<std::uint8_t>(want), "version reply bytes");
                }
                break;
            }
            case 5: {  // one poll for a waiting controller
                const std::string motor_text = in.text(6);
                b.mem->queue(in.text(100));  // stale input the poll discards
                const std::string answer = in.text(12);
                b.answers.push_back(answer);
                const PollCycle cycle = poll_cycle(b.port, b.out, motor_text);
                const bool detected = cycle.detected;
                // The in-memory line never fails a read, so no cycle needs holding back.
                FUZZ_CHECK(cycle.pause_ms == 0, "no pause after a read that worked");
                const std::string got = answer.substr(0, 6);
                FUZZ_CHECK(detected == (got.size() == 6 && got.compare(3, 3, "@OK") == 0),
                           "detection from '" + escaped(got) + "'");
                FUZZ_CHECK(b.written_from(mark) == "#" + motor_text + "@S\r", "poll request");
                FUZZ_CHECK(b.out.last() == "<- " + without_nul_and_lf(got), "poll reply line");
                break;
            }
            case 6: {  // the link test
                const std::string motor_text = in.text(6);
                const std::string answer = in.text(16);
                b.answers.push_back(answer);
                test_connection(b.port, b.out, motor_text);
                FUZZ_CHECK(b.written_from(mark) == "#" + motor_text + " \r", "test request");
                FUZZ_CHECK(b.out.last() == "<- " + without_nul_and_lf(answer.substr(0, 10)),
                           "test reply line");
                break;
            }
            case 7: {  // one debug log tick
                std::string before = in.text();
                if (in.flag()) before += std::string(in.u32() % 5000, in.flag() ? 'x' : '\r');
                b.mem->queue(before);
                const std::size_t lines_before = b.out.lines.size();
                debug_log_tick(b.port, b.out, {[] {}, [] {}});
                // Every line within the tick's bound, then what is left of one.
                std::string taken = before.substr(0, kMaxDebugLineBytes);
                std::vector<std::string> expected;
                for (std::size_t cr; (cr = taken.find(kCR)) != std::string::npos;) {
                    expected.push_back("DEBUG: " + taken.substr(0, cr));
                    taken.erase(0, cr + 1);
                }
                if (!taken.empty()) expected.push_back("DEBUG (no ENDLINE): " + taken);
                const std::vector<std::string> got(
                    b.out.lines.begin() + static_cast<std::ptrdiff_t>(lines_before),
                    b.out.lines.end());
                FUZZ_CHECK(got == expected,
                           "debug lines of '" + escaped(before.substr(0, 64)) + "'");
                break;
            }
            case 8: {  // reply bytes shown as text
                const std::string bytes = in.text();
                FUZZ_CHECK(bytes_to_text(bytes.data(), bytes.size()) == without_nul_and_lf(bytes),
                           "bytes_to_text");
                break;
            }
            case 9: {  // a console command
                const std::string command = in.text(40);
                b.mem->queue(in.text(100));
                b.answers.push_back(in.text());
                const std::string reply =
                    send_console_command(b.port, b.motor, b.out, command, in.flag());
                FUZZ_CHECK(b.written_from(mark) == frame_for(b.motor.id(), command),
                           "console frame");
                check_reply_read(b, b.after_write, b.read_at_write, reply, "console");
                FUZZ_CHECK(b.out.last() == reply, "console line");
                break;
            }
            case 10:
                upload(b, in);
                break;
        }
    }
    return 0;
}
