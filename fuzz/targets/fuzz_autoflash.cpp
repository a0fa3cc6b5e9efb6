// AutoFlash's waits: the bootloader start (up to 19 "@S" requests) and the
// restart (up to 20 "i" queries with a pause between them), with the
// replies to both, the controller's baud setting, the port dialog's baud
// text and the bootloader speed switch from the input. The write between
// them goes in the ASCII mode, every line acknowledged, on a small HEX file.
//
// AutoFlash must ask for the start exactly until the first "@OK" and no
// more than 19 times, write only after that, end the bootloader, ask for the
// restart exactly until the first non-zero answer and no more than 20
// times, give back the controller's baud setting when it had one, leave the
// port at the dialog's rate, and report success exactly when the
// bootloader started and the write went through.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "firmware/flashmem.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_window.h"
#include "fuzz/line_bench.h"  // expected_reply

namespace {

constexpr int kStartAttempts = 19;
constexpr int kRestartAttempts = 20;
constexpr std::uint32_t kPortBaud = 19200;

// Replies whose number is known without the reading rule under test.
struct NumberReply {
    const char* bytes;
    int value;
};
const NumberReply kNumbers[] = {{"001+0\r", 0}, {"001+1\r", 1},     {"", 0},
                                {"0\r", 0},     {"001-5\r", -5},    {"001+57600\r", 57600},
                                {"001\r", 1},   {"001+9600\r", 9600}};
// Whether each is the bootloader's "@OK" once the motor number is off.
struct StartReply {
    const char* bytes;
    bool ok;
};
const StartReply kStartReplies[] = {{"001@OK\r", true}, {"@OK\r", true},    {"001@NO\r", false},
                                    {"", false},         {"001@OK", true},   {"1@OK\r", true},
                                    {"001@ok\r", false}, {"001 @OK\r", false}};
struct BaudText {
    const char* text;
    std::uint32_t rate;
};
const BaudText kBaudTexts[] = {{"9600", 9600}, {"57600", 57600}, {"0", 115200},
                               {"-1", 115200}, {"x", 115200},    {"", 115200}};

class PausingRecorder : public Recorder {
public:
    int pauses = 0;
    void pause(std::chrono::milliseconds) override { ++pauses; }
};

// Answers each request by its text, from the lists the input chose, and
// keeps the order in which the requests came.
struct Controller {
    MemoryBackend* mem;
    std::string baud_reply;
    std::vector<std::string> start_replies;  // one per start attempt
    std::vector<std::string> restart_replies;
    std::string restore_reply;
    std::vector<std::string> requests;
    std::string pending;
    int starts = 0;

    void on_write(const std::uint8_t* data, std::size_t n) {
        pending.append(reinterpret_cast<const char*>(data), n);
        for (std::size_t cr; (cr = pending.find('\r')) != std::string::npos;) {
            const std::string frame = pending.substr(0, cr);
            pending.erase(0, cr + 1);
            FUZZ_CHECK(frame.starts_with("#1"), "frame for another motor: " + escaped(frame));
            const std::string request = frame.substr(2);
            requests.push_back(request);
            mem->queue(answer(request));
        }
    }

    std::string answer(const std::string& request) {
        if (request == ":baud") return baud_reply;
        if (request == "@S") {
            // The first goes out before the start attempts; its reply is not read.
            const int n = starts++;
            if (n == 0) return "001@OK\r";
            return n - 1 < static_cast<int>(start_replies.size()) ? start_replies[n - 1] : "";
        }
        if (request == " ") return "#1@V4J\r";
        if (request == "@E") return "001@E\r";
        if (request == "i") {
            const std::size_t n = std::count(requests.begin(), requests.end(), "i");
            return n - 1 < restart_replies.size() ? restart_replies[n - 1] : "";
        }
        if (request.starts_with(":baud=")) return restore_reply;
        if (request.starts_with("@:")) return "1234567";  // an ASCII line taken
        return "";
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    static const FuzzTempFile hex_file("autoflash.hex");
    static const bool written = [] {
        std::ofstream(hex_file.path) << ":0400000001020304F2\n:00000001FF\n";
        return true;
    }();
    (void)written;

    FuzzWindow window;
    window.file = hex_file.path;
    window.fast = in.flag();
    const BaudText& baud_text = kBaudTexts[in.small(5)];
    window.baud_text = baud_text.text;

    PausingRecorder out;
    auto* mem = new MemoryBackend;
    serial port(out, "mem0", 100, std::unique_ptr<SerialBackend>(mem));
    motor_com motor(port);
    Controller controller{mem, {}, {}, {}, {}, {}, {}, 0};
    const NumberReply& baud = kNumbers[in.small(7)];
    controller.baud_reply = baud.bytes;
    std::vector<bool> start_ok;
    for (int i = 0; i < kStartAttempts + 1; ++i) {
        const StartReply& r = kStartReplies[in.small(7)];
        controller.start_replies.push_back(r.bytes);
        start_ok.push_back(r.ok);
    }
    std::vector<int> restart_values;
    for (int i = 0; i < kRestartAttempts + 1; ++i) {
        const NumberReply& r = kNumbers[in.small(4)];  // mostly no restart yet
        controller.restart_replies.push_back(r.bytes);
        restart_values.push_back(r.value);
    }
    controller.restore_reply = in.text(12);
    mem->on_write = [&controller](const std::uint8_t* d, std::size_t n) {
        controller.on_write(d, n);
    };
    port.set_baud(kPortBaud);

    static const auto image = std::make_unique<FirmwareImage>();
    const bool ok = AutoFlashButtonClick(port, motor, *image, out, window);

    // What the replies should have led to.
    int start_requests = kStartAttempts;
    bool started = false;
    for (int i = 0; i < kStartAttempts; ++i) {
        if (start_ok[i]) {
            start_requests = i + 1;
            started = true;
            break;
        }
    }
    int restart_queries = kRestartAttempts;
    for (int i = 0; i < kRestartAttempts; ++i) {
        if (restart_values[i] != 0) {
            restart_queries = i + 1;
            break;
        }
    }

    std::vector<std::string> expected{":baud"};
    expected.insert(expected.end(), 1 + start_requests, "@S");
    if (started) {
        expected.push_back(" ");
        for (const std::string& line : window.lines) expected.push_back("@" + line);
        expected.push_back("@E");
        expected.insert(expected.end(), restart_queries, "i");
        if (baud.value != 0) {
            expected.push_back(":baud=" + std::to_string(baud.value));
            expected.push_back("@S");
        }
    }
    FUZZ_CHECK(controller.requests == expected,
               "requests " + bracketed(controller.requests) + ", expected " + bracketed(expected));
    FUZZ_CHECK(!started || window.lines.size() == 2, "the file was not reloaded");

    const auto said = [&](const std::string& line) {
        return std::find(out.lines.begin(), out.lines.end(), line) != out.lines.end();
    };
    FUZZ_CHECK(said("Bootloader started") == started, "start line: " + bracketed(out.lines));
    FUZZ_CHECK(said("Could not start Bootloader") == !started, "failed start: " + bracketed(out.lines));
    FUZZ_CHECK(said("Bootloader terminated") == started, "end line: " + bracketed(out.lines));
    FUZZ_CHECK(out.pauses == (started ? restart_queries - 1 : 0),
               std::to_string(out.pauses) + " pauses for " + std::to_string(restart_queries) +
                   " restart queries");
    if (started && baud.value != 0) {
        const std::string shown = expected_reply(controller.restore_reply).text;
        const auto at = std::find(out.lines.begin(), out.lines.end(), "Bootloader terminated");
        FUZZ_CHECK(at != out.lines.end() && at + 1 != out.lines.end() && *(at + 1) == shown,
                   "baud restore reply " + escaped(shown) + " not shown: " + bracketed(out.lines));
    }
    FUZZ_CHECK(said("setting Baudrate to 115200") == window.fast, "speed switch line");
    FUZZ_CHECK(said("restoring Baudrate") == window.fast, "speed restore line");
    const std::uint32_t rate = window.fast ? baud_text.rate : kPortBaud;
    FUZZ_CHECK(mem->baud() == rate, "port left at " + std::to_string(mem->baud()) + ", expected " +
                   std::to_string(rate));
    FUZZ_CHECK(ok == started, std::string("AutoFlash reported ") + (ok ? "success" : "failure"));
    return 0;
}
