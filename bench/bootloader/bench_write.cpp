// Times a 1536-byte-mode firmware write of a full image against the
// simulated controller pacing its line at 115,200 baud, and sets it against
// the least the line allows (write_bound.h).

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "firmware/flashmem.h"
#include "paced_write.h"
#include "quiet_reporter.h"
#include "serial/serial.h"
#include "sim/sim.h"
#include "trace_option.h"
#include "write_bound.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBaud = 115200;
// On a pseudo-terminal a write returns before its bytes have crossed the
// paced line, so the acknowledgement read must outlast a whole 1536-byte
// frame (134 ms); 150 ms is the smallest time-out of the port dialog's
// list that does. A real port's write waits for the line instead.
constexpr std::uint32_t kReadTimeoutMs = 150;
constexpr double kTarget = 1.03;

// Notes when the block loop starts, so it can be timed apart from the
// version exchange before it.
class WriteReporter : public QuietReporter {
public:
    Clock::time_point mode_started{};
    std::vector<std::string> lines;

    void message(const std::string& line) override {
        if (line == "Writing in 1536 Byte binary mode !") mode_started = Clock::now();
        lines.push_back(line);
    }
};

bool Run(bool usb, const TraceOption& traced) {
    SimController sim(PacedBootloader(kBaud));
    WriteReporter out;
    serial port(out, sim.path(), kReadTimeoutMs);
    traced.attach(port, usb ? "write-usb" : "write");
    BenchWindow window;
    window.usb = usb;

    FirmwareImage image;
    FillFullImage(image);

    const Clock::time_point start = Clock::now();
    const bool written = WriteFirmware(port, image, out, window);
    const Clock::time_point end = Clock::now();
    if (!written || sim.frames().size() != static_cast<std::size_t>(kFullWriteBlocks)) {
        for (const auto& line : out.lines) std::printf("  %s\n", line.c_str());
        std::printf("write failed after %zu frames\n", sim.frames().size());
        return false;
    }

    const FullWriteBound bound = FullWriteBoundSeconds(kBaud, kReadTimeoutMs);
    const double loop_bound = bound.block_loop;
    const double total_bound = bound.whole;

    const double loop = std::chrono::duration<double>(end - out.mode_started).count();
    const double total = std::chrono::duration<double>(end - start).count();
    std::printf("USB compatibility %s:\n", usb ? "on (512-byte pieces)" : "off");
    std::printf("  block loop: %.3f s, bound %.3f s, ratio %.4f\n", loop, loop_bound,
                loop / loop_bound);
    std::printf("  whole write: %.3f s, bound %.3f s, ratio %.4f (target <= %.2f)\n", total,
                total_bound, total / total_bound, kTarget);
    return total / total_bound <= kTarget;
}

}  // namespace

int main(int argc, char** argv) {
    const TraceOption traced(argc, argv);
    std::printf("1536-byte mode, full image (86 data frames), simulator paced at %u baud\n", kBaud);
    const bool plain = Run(false, traced);
    const bool pieces = Run(true, traced);
    return plain && pieces ? 0 : 1;
}
