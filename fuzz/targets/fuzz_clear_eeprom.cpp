// Clear EEPROM against a controller whose bytes come from the input, a
// piece of them in each pause between attempts, with the motor number's
// text and the moment of a stop request from the input too.
//
// The request must go out once, framed for the motor; every attempt must
// show what its read got ("." for nothing); and "OK" with a true result
// must come exactly when an attempt read the motor's padded
// acknowledgement and nothing else, which also ends the attempts. A stop
// ends them with the stop line and neither verdict.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "common/int_text.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_window.h"
#include "serial/memory_backend.h"
#include "serial/serial.h"
#include "tests/support/recorder.h"

namespace {

constexpr int kAttempts = 10;
constexpr std::size_t kReadSize = 7;

// Each pause lets the controller's next piece arrive instead of sleeping.
class PacedRecorder : public Recorder {
public:
    std::vector<std::string> pieces;
    std::size_t pauses = 0;
    std::deque<std::uint8_t>* line = nullptr;
    void pause(std::chrono::milliseconds) override {
        if (pauses < pieces.size()) {
            line->insert(line->end(), pieces[pauses].begin(), pieces[pauses].end());
        }
        ++pauses;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    FuzzWindow window;
    window.motor = in.flag() ? std::to_string(in.in_range(0, 999)) : in.text(6);
    const int stop_before = in.flag() ? in.small(kAttempts) : -1;  // attempt index, or none
    PacedRecorder out;
    for (int i = 0; i < kAttempts; ++i) out.pieces.push_back(in.text(12));

    auto* mem = new MemoryBackend;
    serial line(out, "mem0", 100, std::unique_ptr<SerialBackend>(mem));
    out.line = &mem->input;
    int stops_asked = 0;
    out.stop_when = [&] { return stop_before >= 0 && stops_asked++ >= stop_before; };

    const bool cleared = ClearEepromButtonClick(line, out, window);

    // What the routine should have said, attempt by attempt.
    std::vector<std::string> expected;
    bool expect_cleared = false;
    const std::optional<std::int32_t> motor = read_integer(window.motor);
    if (!motor) {
        expected.push_back("Error: you must select a motor ID");
        FUZZ_CHECK(mem->written.empty(), "a request went out without a motor number");
    } else {
        const std::string request = "#" + std::to_string(*motor) + "~\r";
        FUZZ_CHECK(mem->written_text() == request,
                   "wrote " + escaped(mem->written_text()) + ", expected " + escaped(request));
        char ack[16];
        std::snprintf(ack, sizeof ack, "%03d~\r", static_cast<int>(*motor));
        // A negative number has no padded acknowledgement to wait for.
        const bool ack_known = *motor >= 0;
        expected.push_back("Clear EEPROM");
        std::deque<std::uint8_t> queue;
        bool stopped = false;
        for (int attempt = 0; attempt < kAttempts && !expect_cleared; ++attempt) {
            if (attempt == stop_before) {
                expected.push_back("Stopped: Clear EEPROM was interrupted, its result is unknown");
                stopped = true;
                break;
            }
            queue.insert(queue.end(), out.pieces[attempt].begin(), out.pieces[attempt].end());
            const std::size_t got = std::min(kReadSize, queue.size());
            std::string read(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(got));
            queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(got));
            if (got == 0) {
                expected.push_back(".");
            } else {
                std::string shown;
                for (char c : read.substr(0, read.find('\0'))) {
                    if (c != '\n') shown += c;
                }
                expected.push_back(shown);
            }
            if (ack_known && got == 5 && read == ack) expect_cleared = true;
        }
        if (!stopped) expected.push_back(expect_cleared ? "OK" : "FAILED");
    }
    FUZZ_CHECK(out.lines == expected, "said " + bracketed(out.lines) + ", expected " + bracketed(expected));
    FUZZ_CHECK(cleared == expect_cleared, cleared ? "cleared without its acknowledgement"
                                                  : "acknowledgement read but not reported");
    return 0;
}
